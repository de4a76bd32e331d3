#include "http/clHttp.h"

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "common/clTranslator.h"
#include "http/clHeaderFieldList.h"
#include "http/clHttpAuth.h"
#include "http/clIdnTranslator.h"
#include "http/clStreams.h"
#include "http/clZLibStreams.h"

namespace {

// A response header that has not ended within this many bytes is not read any further.
constexpr size_t cMaxResponseHeader = 1 << 20;
// The body of a redirect, challenge or error status is kept as text up to this size; the rest is
// read and dropped, so that a hostile server cannot fill the memory with it.
constexpr int64_t cMaxStatusText = 16 << 20;

class TclBoundedMemoryStream : public TMemoryStream {
public:
  explicit TclBoundedMemoryStream(int64_t aLimit) : FLimit(aLimit) {}
  int64_t Write(const void* aBuffer, int64_t aCount) override {
    int64_t room = std::max<int64_t>(0, FLimit - Position());
    if (room > 0) TMemoryStream::Write(aBuffer, std::min(room, aCount));
    return aCount;
  }

private:
  int64_t FLimit;
};

using Str = TclStringsUtils;

// A decimal number; -1 when the text is not one.
int64_t ParseDecimal(const std::string& aText) {
  std::string t = Str::Trim(aText);
  int64_t value = -1;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size() || value < 0) return -1;
  return value;
}

void RemoveFields(TStrings& aHeader, const std::string& aName) {
  TclHeaderFieldList list;
  list.Parse(0, &aHeader);
  while (list.GetFieldIndex(aName) >= 0) list.RemoveField(aName);
}

void ReplaceField(TStrings& aHeader, const std::string& aName, const std::string& aValue) {
  RemoveFields(aHeader, aName);
  TclHeaderFieldList list;
  list.Parse(0, &aHeader);
  list.AddField(aName, aValue);
}

// The part of a URL up to and including its last "/", lower-cased: the folder a credential was
// given for.
std::string UrlFolder(const std::string& aUri) {
  return Str::LowerCase(aUri.substr(0, aUri.rfind('/') + 1));
}

// Scheme, host and port: where the credentials of a call may go.
std::string OriginOf(const TclUrlParser& aUrl) {
  return Str::LowerCase(aUrl.Scheme()) + "://" + Str::LowerCase(aUrl.Host()) + ":" + std::to_string(aUrl.Port());
}

// Failures that a connection the server has dropped while idle shows on its first use.
bool IsStaleConnectionError(int32_t aCode) {
  return aCode == clConnectionAborted || aCode == clNotASocket || aCode == 10054;
}

[[noreturn]] void RaiseIncompleteResponse() {
  throw EclSocketError("The connection closed before the whole response arrived", clConnectionAborted);
}

}  // namespace

struct TclHttp::TclTransaction {
  std::string Method;
  TStrings Header;  // the working request header, edited in place at each attempt
  TStream* Body = nullptr;
  int64_t BodyStart = 0;
  TMemoryStream EmptyBody;
  TStrings* ResponseHeader = nullptr;
  TStream* Destination = nullptr;
  bool IsTunnel = false;     // the CONNECT request that opens a tunnel through the proxy
  bool UseProxy = false;     // this request goes to the proxy itself
  bool InTunnel = false;     // this request goes to the origin through a tunnel
  // The call's credentials (UserName and Password, else the URL's) and the only origin they are
  // given to; none for the tunnel request, whose challenges come from the proxy.
  std::string Origin;
  std::string UserName;
  std::string Password;
  bool WasOpen = false;      // the connection was already open when the attempt began
  bool ResponseStarted = false;
  bool ResponseRead = false;  // the response in hand has been read to its end
  bool ChallengeAnswered = false;
  bool CloseMarked = false;  // the connection is closed before the next attempt and at the end
  int32_t Redirects = 0;
  int32_t Challenges401 = 0;
  int32_t Challenges407 = 0;
};

TclHttp::TclHttp() {
  SetTLSFlags({tfUseSSL3, tfUseTLS, tfUseTLS11, tfUseTLS12});
  FProxySettings.OnChanged = [this](TclHttpProxySettings*) { DoChanged(); };
}

TclHttp::~TclHttp() {
  try {
    Close();
  } catch (const EclError&) {
  }
}

void TclHttp::SetCharSet(const std::string& aValue) {
  if (FCharSet == aValue) return;
  FCharSet = aValue;
  FUrl.SetCharSet(aValue);
  DoChanged();
}

void TclHttp::SetCookieManager(TclCookieManager* aValue) {
  if (!FCookieManager.Set(aValue)) return;
  if (aValue) FOwnCookieManager.reset();
  DoChanged();
}

TclCookieManager& TclHttp::Cookies() {
  if (TclCookieManager* given = FCookieManager.Get()) return *given;
  if (!FOwnCookieManager) FOwnCookieManager = std::make_unique<TclCookieManager>();
  return *FOwnCookieManager;
}

void TclHttp::SetRequest(TclHttpRequest* aValue) {
  if (FRequest.Set(aValue)) DoChanged();
}

TclHttpRequest* TclHttp::UseRequest(TclHttpRequest* aRequest) {
  if (!aRequest) aRequest = FRequest.Get();
  if (!aRequest) {
    if (!FOwnRequest) FOwnRequest = std::make_unique<TclHttpRequest>();
    FOwnRequest->Clear();
    aRequest = FOwnRequest.get();
  }
  if (!FCharSet.empty()) aRequest->Header().SetCharSet(FCharSet);
  return aRequest;
}

void TclHttp::LoadText(TMemoryStream& aBody, TStrings& aLines) const {
  aBody.SetPosition(0);
  Str::LoadStrings(aBody, aLines, TextCharSet());
}

void TclHttp::Get(const std::string& aUrl, TStream* aDestination) { Get(aUrl, nullptr, nullptr, aDestination); }

void TclHttp::Get(const std::string& aUrl, TStrings& aDestination) {
  TMemoryStream body;
  Get(aUrl, nullptr, nullptr, &body);
  LoadText(body, aDestination);
}

void TclHttp::Get(const std::string& aUrl, TStrings* aResponseHeader, TStream* aResponseBody) {
  Get(aUrl, nullptr, aResponseHeader, aResponseBody);
}

void TclHttp::Get(const std::string& aUrl, TclHttpRequest* aRequest, TStream* aDestination) {
  Get(aUrl, aRequest, nullptr, aDestination);
}

void TclHttp::Get(const std::string& aUrl, TclHttpRequest* aRequest, TStrings* aResponseHeader,
                  TStream* aResponseBody) {
  TclHttpRequest* request = UseRequest(aRequest);
  std::string query = Str::Trim(Str::GetText(request->RequestSource()));
  SendRequest("GET", query.empty() ? aUrl : aUrl + "?" + query, request->HeaderSource(), nullptr, aResponseHeader,
              aResponseBody);
}

void TclHttp::Head(const std::string& aUrl, TStrings* aResponseHeader) {
  SendRequest("HEAD", aUrl, nullptr, aResponseHeader, nullptr);
}

void TclHttp::Post(const std::string& aUrl, TStream* aResponseBody) { Post(aUrl, nullptr, nullptr, aResponseBody); }

void TclHttp::Post(const std::string& aUrl, TStrings& aResponseBody) { Post(aUrl, nullptr, aResponseBody); }

void TclHttp::Post(const std::string& aUrl, TclHttpRequest* aRequest, TStream* aResponseBody) {
  Post(aUrl, aRequest, nullptr, aResponseBody);
}

void TclHttp::Post(const std::string& aUrl, TclHttpRequest* aRequest, TStrings& aResponseBody) {
  TMemoryStream body;
  Post(aUrl, aRequest, nullptr, &body);
  LoadText(body, aResponseBody);
}

void TclHttp::Post(const std::string& aUrl, TclHttpRequest* aRequest, TStrings* aResponseHeader,
                   TStream* aResponseBody) {
  SendRequest("POST", aUrl, aRequest, aResponseHeader, aResponseBody);
}

TStrings TclHttp::SourceHeader(const std::string& aContentType, const TStrings* aHeader) {
  // Edited on a copy: the request object may be shared by other requests.
  TclHttpRequest request;
  request.Assign(*UseRequest(nullptr));
  request.Header().SetAccept("");
  if (!aContentType.empty()) request.Header().SetContentType(aContentType);
  if (aHeader) request.Header().ParseHeader(*aHeader);
  return request.HeaderSource();
}

void TclHttp::Put(const std::string& aUrl, const std::string& aContentType, TStream* aSource,
                  TStrings* aResponseHeader, TStream* aResponseBody) {
  SendRequest("PUT", aUrl, SourceHeader(aContentType, nullptr), aSource, aResponseHeader, aResponseBody);
}

void TclHttp::Put(const std::string& aUrl, const std::string& aContentType, const TStrings& aSource,
                  TStrings* aResponseHeader, TStream* aResponseBody) {
  TMemoryStream source;
  Str::SaveStrings(aSource, source, FCharSet);
  source.SetPosition(0);
  Put(aUrl, aContentType, &source, aResponseHeader, aResponseBody);
}

void TclHttp::Patch(const std::string& aUrl, const TStrings* aRequestHeader, TStream* aSource,
                    TStrings* aResponseHeader, TStream* aResponseBody) {
  SendRequest("PATCH", aUrl, SourceHeader("", aRequestHeader), aSource, aResponseHeader, aResponseBody);
}

void TclHttp::Delete(const std::string& aUrl, TStrings* aResponseHeader, TStream* aResponseBody) {
  SendRequest("DELETE", aUrl, nullptr, aResponseHeader, aResponseBody);
}

void TclHttp::SendRequest(const std::string& aMethod, const std::string& aUrl, TclHttpRequest* aRequest,
                          TStrings* aResponseHeader, TStream* aResponseBody) {
  TclHttpRequest* request = UseRequest(aRequest);
  TStrings header = request->HeaderSource();
  std::unique_ptr<TStream> body = request->RequestStream();
  SendRequest(aMethod, aUrl, header, body.get(), aResponseHeader, aResponseBody);
}

bool TclHttp::Authorize(const std::string& aMethod, const std::string& aUserName, const std::string& aPassword,
                        const TStrings& aChallenge, bool& aStartNewConnection, std::string& aAuthValue) {
  return TclHttpAuthorization::Authorize(FUrl, aMethod, aUserName, aPassword, aChallenge, this, aStartNewConnection,
                                         aAuthValue);
}

void TclHttp::OpenConnection(const std::string& aServer, int32_t aPort) {
  if (FOpenViaProxy)
    TclTcpClientTls::OpenConnection(FProxySettings.Server(), FProxySettings.Port());
  else
    TclTcpClientTls::OpenConnection(aServer, aPort);
}

void TclHttp::SendRequest(const std::string& aMethod, const std::string& aUrl, const TStrings& aRequestHeader,
                          TStream* aRequestBody, TStrings* aResponseHeader, TStream* aResponseBody) {
  // A line break inside a line would let a caller's text forge header fields on the wire.
  for (const auto& line : aRequestHeader)
    if (line.find_first_of("\r\n") != std::string::npos)
      throw EclAssertionError("A request header line contains a line break");
  TclNullStream discard;
  TclTransaction t;
  t.Method = aMethod;
  t.Header = aRequestHeader;
  t.Body = aRequestBody ? aRequestBody : &t.EmptyBody;
  t.ResponseHeader = aResponseHeader;
  t.Destination = aResponseBody ? aResponseBody : &discard;
  FUrl.Parse(aUrl);
  RunTransaction(t);
}

void TclHttp::RunTransaction(TclTransaction& aTransaction) {
  PrepareAuthorization(aTransaction);
  aTransaction.BodyStart = aTransaction.Body->Position();
  auto closeQuietly = [this] {
    try {
      Close();
    } catch (const EclSocketError&) {
    }
  };
  try {
    for (;;) {
      TclAttemptResult result;
      try {
        result = RunAttempt(aTransaction);
      } catch (const EclSocketError& e) {
        // A kept connection that the server has dropped meanwhile fails before any of the
        // response arrives: the request goes again on a new connection.
        if (dynamic_cast<const EclHttpError*>(&e) || !aTransaction.WasOpen || aTransaction.ResponseStarted ||
            !IsStaleConnectionError(e.ErrorCode()) || Connection()->IsAborted())
          throw;
        closeQuietly();
        continue;
      }
      if (result == arDone) break;
      // The next attempt may connect anew, which would clear the stop.
      EndIfAborted();
    }
  } catch (const EclHttpError&) {
    // An error status read to its end leaves the connection usable, unless the tunnel failed.
    if (!aTransaction.ResponseRead || aTransaction.CloseMarked || aTransaction.IsTunnel) closeQuietly();
    throw;
  } catch (...) {
    // The connection is somewhere inside an exchange: it cannot carry another one.
    closeQuietly();
    throw;
  }
  if (aTransaction.CloseMarked && !aTransaction.IsTunnel) Close();
}

void TclHttp::PrepareAuthorization(TclTransaction& aTransaction) {
  bool startNew = false;
  std::string value;
  if (!aTransaction.IsTunnel) {
    bool ownCredentials = !FUserName.empty();
    aTransaction.Origin = OriginOf(FUrl);
    aTransaction.UserName = ownCredentials ? FUserName : FUrl.UserName();
    aTransaction.Password = ownCredentials ? FPassword : FUrl.Password();
    if (FAuthorizationType == atBasic) {
      if (Authorize(aTransaction.Method, aTransaction.UserName, aTransaction.Password, {"Basic"}, startNew, value))
        ReplaceField(aTransaction.Header, "Authorization", value);
    } else if (!FAuthorization.empty()) {
      ReplaceField(aTransaction.Header, "Authorization", FAuthorization);
    }
  }
  // Proxy credentials go only to the proxy: not into requests that travel inside a tunnel.
  bool toProxy = aTransaction.IsTunnel || FUrl.UrlType() != utHTTPS;
  if (!FProxySettings.Server().empty() && toProxy && FProxySettings.AuthorizationType() == atBasic &&
      Authorize(aTransaction.Method, FProxySettings.UserName(), FProxySettings.Password(), {"Basic"}, startNew,
                value))
    ReplaceField(aTransaction.Header, "Proxy-Authorization", value);
}

TclHttp::TclAttemptResult TclHttp::RunAttempt(TclTransaction& aTransaction) {
  if (aTransaction.CloseMarked) {
    Close();
    aTransaction.CloseMarked = false;
  }
  aTransaction.ResponseStarted = false;
  aTransaction.ResponseRead = false;
  PrepareConnection(aTransaction);
  aTransaction.Body->SetPosition(aTransaction.BodyStart);
  BuildRequestHeader(aTransaction);
  Connection()->WriteString(Str::GetText(aTransaction.Header), "us-ascii");
  EndIfAborted();
  SendRequestBody(aTransaction);
  if (!ReadResponseHeader(aTransaction)) return arDone;  // the receiver cancelled the call
  return DispatchStatus(aTransaction);
}

void TclHttp::PrepareConnection(TclTransaction& aTransaction) {
  const std::string& proxyServer = FProxySettings.Server();
  bool proxy = !proxyServer.empty();
  // A connection made through another proxy, or without one, is not this request's connection.
  if (proxyServer != FOldProxyServer || (proxy && FProxySettings.Port() != FOldProxyPort)) Close();
  FOldProxyServer = proxyServer;
  FOldProxyPort = FProxySettings.Port();
  if (!FUrl.Host().empty() && FUrl.Host() != "*") {
    std::string host = TclIdnTranslator::GetAscii(FUrl.Host());
    if (Server() != host || Port() != FUrl.Port()) Close();
    SetServer(host);
    SetPort(FUrl.Port());
  }
  bool https = FUrl.UrlType() == utHTTPS;
  bool tunnel = proxy && https && !aTransaction.IsTunnel;
  // The same host and port over the other scheme is another connection.
  if (Active() && IsTls() != (https && (!proxy || tunnel))) Close();
  aTransaction.WasOpen = Active();
  aTransaction.UseProxy = proxy && !tunnel;
  aTransaction.InTunnel = tunnel;
  FOpenViaProxy = proxy;
  if (tunnel) {
    if (!Active()) OpenTunnel();
  } else {
    SetUseTLS(https && !proxy ? ctImplicit : ctNone);
    Open();
  }
  // An aborted open ends without error and leaves the connection closed.
  EndIfAborted();
}

void TclHttp::EndIfAborted() {
  // The code of a blocking call cancelled from elsewhere.
  if (Connection()->IsAborted()) RaiseSystemSocketError(EINTR);
}

void TclHttp::ReadMore(TStream* aData) {
  Connection()->ReadData(aData);
  EndIfAborted();
}

void TclHttp::OpenTunnel() {
  TclTransaction tunnel;
  tunnel.Method = "CONNECT";
  tunnel.IsTunnel = true;
  tunnel.Body = &tunnel.EmptyBody;
  TclNullStream discard;
  tunnel.Destination = &discard;
  // The tunnel request is plain HTTP/1.0 to the proxy; the caller's settings come back after it.
  struct TclSaved {
    TclHttpVersion Version;
    bool Compression, Cookies, Keep, Caching;
  } saved{FHttpVersion, FAllowCompression, FAllowCookies, FKeepConnection, FAllowCaching};
  FHttpVersion = hvHttp1_0;
  FAllowCompression = false;
  FAllowCookies = false;
  FKeepConnection = true;
  FAllowCaching = false;
  auto restore = [&] {
    FHttpVersion = saved.Version;
    FAllowCompression = saved.Compression;
    FAllowCookies = saved.Cookies;
    FKeepConnection = saved.Keep || tunnel.ChallengeAnswered;
    FAllowCaching = saved.Caching;
  };
  try {
    RunTransaction(tunnel);
  } catch (...) {
    restore();
    throw;
  }
  restore();
  StartTls();
}

TclUrlParser TclHttp::WireUrl() const {
  // The fragment is the client's own business and never goes on the wire.
  TclUrlParser url(FCharSet);
  url.Assign(FUrl);
  url.SetFragment("");
  return url;
}

void TclHttp::BuildRequestHeader(TclTransaction& aTransaction) {
  TStrings& header = aTransaction.Header;
  // A request line left from a previous attempt, and the empty end line.
  if (!header.empty()) {
    const std::string& first = header.front();
    size_t space = first.find(' ');
    if (space != std::string::npos && space < first.find(':')) header.erase(header.begin());
  }
  while (!header.empty() && header.back().empty()) header.pop_back();

  TclUrlParser url = WireUrl();
  std::string target;
  if (aTransaction.IsTunnel)
    target = TclIdnTranslator::GetAscii(FUrl.Host()) + ":" + std::to_string(FUrl.Port());
  else
    target = aTransaction.UseProxy ? url.AbsoluteUri() : url.AbsolutePath();
  if (target.empty()) target = "/";
  header.insert(header.begin(),
                aTransaction.Method + " " + target + " " + (FHttpVersion == hvHttp1_0 ? "HTTP/1.0" : "HTTP/1.1"));

  TclHeaderFieldList list;
  list.Parse(0, &header);
  while (list.GetFieldIndex("Host") >= 0) list.RemoveField("Host");
  // Proxy credentials go only to the proxy, also when a redirect leads into a tunnel.
  if (aTransaction.InTunnel)
    while (list.GetFieldIndex("Proxy-Authorization") >= 0) list.RemoveField("Proxy-Authorization");
  if (FAllowCompression) list.AddFieldIfNotExist("Accept-Encoding", "gzip");
  std::string host = FUrl.Host().empty() ? Server() : TclIdnTranslator::GetAscii(FUrl.Host());
  int32_t port = FUrl.Host().empty() ? Port() : FUrl.Port();
  list.AddField("Host", (port == 80 || port == 443) ? host : host + ":" + std::to_string(port));
  list.AddFieldIfNotExist("User-Agent", FUserAgent);

  int64_t bodySize = aTransaction.Body->Size() - aTransaction.Body->Position();
  bool hasLength = list.GetFieldIndex("Content-Length") >= 0;
  if (ParseDecimal(list.GetFieldValue("Content-Length")) > 0 && bodySize == 0) {
    list.RemoveField("Content-Length");
    list.RemoveField("Content-Type");
  } else if (!hasLength) {
    if (bodySize > 0 || aTransaction.IsTunnel)
      list.AddField("Content-Length", std::to_string(bodySize));
    else if (Str::SameText(aTransaction.Method, "POST"))
      list.AddField("Content-Length", "0");
  }
  if (!FAllowCaching) list.AddFieldIfNotExist(FHttpVersion == hvHttp1_0 ? "Pragma" : "Cache-Control", "no-cache");
  if (FKeepConnection) list.AddFieldIfNotExist(aTransaction.UseProxy ? "Proxy-Connection" : "Connection", "Keep-Alive");
  while (list.GetFieldIndex("Expect") >= 0) list.RemoveField("Expect");
  if (FExpect100Continue && bodySize > 0) list.AddField("Expect", "100-continue");
  if (FAllowCookies) {
    TclCookieList cookies;
    Cookies().GetCookies(cookies, FUrl.Host(), url.AbsolutePath(), FUrl.Port(), FUrl.UrlType() == utHTTPS);
    cookies.SetRequestCookies(header);
  }
  header.push_back("");
}

void TclHttp::StartProgress(std::function<void(TclHttp*, int64_t, int64_t)>& aEvent) {
  FProgressHandled = false;
  Connection()->OnProgress = [this, &aEvent](TclConnection*, int64_t aDone, int64_t aTotal) {
    FProgressHandled = true;
    if (aEvent) aEvent(this, aDone, aTotal);
  };
}

void TclHttp::EndProgress(std::function<void(TclHttp*, int64_t, int64_t)>& aEvent, int64_t aDone, int64_t aTotal) {
  Connection()->OnProgress = nullptr;
  if (!FProgressHandled && aEvent) aEvent(this, aDone, aTotal);
}

void TclHttp::SendRequestBody(TclTransaction& aTransaction) {
  TStream* body = aTransaction.Body;
  int64_t size = body->Size() - body->Position();
  if (size > 0) {
    Connection()->InitProgress(0, size);
    StartProgress(OnSendProgress);
    try {
      Connection()->WriteData(body);
      EndIfAborted();
    } catch (...) {
      Connection()->OnProgress = nullptr;
      throw;
    }
    EndProgress(OnSendProgress, size, size);
  }
  if (OnSendRequest) OnSendRequest(this, aTransaction.Method, FUrl.AbsoluteUri(), aTransaction.Header);
}

bool TclHttp::ParseStatusLine(const std::string& aBuffer, size_t aStart) {
  size_t lineEnd = aBuffer.find('\n', aStart);
  std::string line = aBuffer.substr(aStart, lineEnd == std::string::npos ? std::string::npos : lineEnd - aStart);
  FStatusLine = Str::Trim(line);
  size_t space = line.find(' ');
  std::string version = Str::Trim(Str::LowerCase(line.substr(0, space)));
  FResponseVersion = version == "http/1.0" ? hvHttp1_0 : version == "http/1.1" ? hvHttp1_1 : FHttpVersion;
  FStatusCode = 0;
  FStatusText.clear();
  if (space == std::string::npos) return false;
  // A status line without a reason phrase ends its code at the line end.
  size_t codeEnd = line.find(' ', space + 1);
  int64_t code = ParseDecimal(line.substr(space + 1, codeEnd == std::string::npos ? std::string::npos
                                                                                   : codeEnd - space - 1));
  FStatusCode = code > 0 && code <= 999 ? int32_t(code) : 0;
  if (codeEnd != std::string::npos) FStatusText = Str::Trim(line.substr(codeEnd + 1));
  return FStatusCode != 0;
}

bool TclHttp::ReadResponseHeader(TclTransaction& aTransaction) {
  TMemoryStream buffer;
  FStatusCode = 0;
  FStatusText.clear();
  FResponseVersion = FHttpVersion;
  TclTcpClientConnection* connection = Connection();
  size_t statusStart = 0;
  for (;;) {
    const std::string& data = buffer.Data();
    size_t end = data.find("\r\n\r\n", statusStart);
    if (end != std::string::npos) {
      end += 4;
    } else if ((end = data.find("\n\n", statusStart)) != std::string::npos) {
      end += 2;
    }
    if (end != std::string::npos) {
      if (ParseStatusLine(data, statusStart)) {
        // Interim responses are skipped and the final one follows; 101 is final: the connection
        // now speaks another protocol.
        if (FStatusCode >= 200 || FStatusCode == 101) {
          FHeaderEnd = end;
          break;
        }
        statusStart = end;
        continue;
      }
      // A complete header without a status: the peer does not speak HTTP.
      throw EclHttpError(FStatusLine, 0, "");
    }
    if (data.size() - statusStart > cMaxResponseHeader) throw EclHttpError("Response header too large", 0, "");
    // Small reads, so that little of the body is read ahead.
    connection->InitProgress(0, 0);
    connection->SetBytesToProceed(BatchSize());
    try {
      ReadMore(&buffer);
    } catch (...) {
      connection->SetBytesToProceed(-1);
      aTransaction.ResponseStarted = buffer.Size() > 0;
      throw;
    }
    connection->SetBytesToProceed(-1);
    aTransaction.ResponseStarted = buffer.Size() > 0;
  }
  FBuffer = buffer.Data();

  TStrings lines;
  Str::SetText(lines, TclTranslator::GetString(FBuffer.substr(statusStart, FHeaderEnd - statusStart), "us-ascii"));
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  FResponseLines = lines;
  FResponseHeader.ParseHeader(lines);
  if (aTransaction.ResponseHeader) *aTransaction.ResponseHeader = lines;
  FResponseCookies.GetResponseCookies(lines, FUrl.Host(), WireUrl().AbsolutePath(), FUrl.Port());
  if (FAllowCookies) Cookies().AddCookies(FResponseCookies);
  bool cancel = false;
  if (OnReceiveHeader)
    OnReceiveHeader(this, aTransaction.Method, FUrl.AbsoluteUri(), FResponseLines, FResponseCookies, cancel);
  if (cancel) Close();
  return !cancel;
}

TclHttp::TclAttemptResult TclHttp::DispatchStatus(TclTransaction& aTransaction) {
  int32_t code = FStatusCode;
  if (code >= 300 && code < 400 && code != 304 && code != 305) {
    ++aTransaction.Redirects;
    std::string bytes = ReadBodyBytes(aTransaction);
    if (FMaxRedirects > 0 && aTransaction.Redirects > FMaxRedirects) return EndWithText(aTransaction, bytes);
    TStrings text;
    Str::SetText(text, TclTranslator::GetString(bytes, TextCharSet()));
    if (!FAllowRedirects || !TakeRedirect(aTransaction, text)) return EndWithText(aTransaction, bytes);
    if (Str::SameText(aTransaction.Method, "GET")) {
      aTransaction.EmptyBody.Clear();
      aTransaction.Body = &aTransaction.EmptyBody;
      aTransaction.BodyStart = 0;
    }
    if (!FProxySettings.Server().empty()) aTransaction.CloseMarked = true;
    return arRepeat;
  }
  if (code == 401 || code == 407) return AnswerChallenge(aTransaction, code == 407);
  if (code >= 400) {
    if (!FSilentHTTP) return EndWithText(aTransaction, ReadBodyBytes(aTransaction));
    ReadBody(aTransaction, aTransaction.Destination);
    return arDone;
  }
  ReadBody(aTransaction, aTransaction.Destination);
  return arDone;
}

TclHttp::TclAttemptResult TclHttp::AnswerChallenge(TclTransaction& aTransaction, bool aProxy) {
  int32_t& count = aProxy ? aTransaction.Challenges407 : aTransaction.Challenges401;
  ++count;
  std::string bytes = ReadBodyBytes(aTransaction);
  if ((!aProxy && !FAuthorization.empty()) || (FMaxAuthRetries > 0 && count > FMaxAuthRetries))
    return EndWithText(aTransaction, bytes);
  std::string user;
  std::string password;
  if (aProxy) {
    user = FProxySettings.UserName();
    password = FProxySettings.Password();
  } else if (OriginOf(FUrl) == aTransaction.Origin) {
    // A redirect to another scheme, host or port takes none of them along.
    user = aTransaction.UserName;
    password = aTransaction.Password;
  }
  bool startNew = false;
  std::string value;
  if (!Authorize(aTransaction.Method, user, password,
                 aProxy ? FResponseHeader.ProxyAuthenticate() : FResponseHeader.Authenticate(), startNew, value))
    return EndWithText(aTransaction, bytes);
  ReplaceField(aTransaction.Header, aProxy ? "Proxy-Authorization" : "Authorization", value);
  SetKeepConnection(true);
  aTransaction.ChallengeAnswered = true;
  if (startNew && count == 1) aTransaction.CloseMarked = true;
  return arRepeat;
}

bool TclHttp::TakeRedirect(TclTransaction& aTransaction, const TStrings& aText) {
  std::string location = FResponseHeader.Location();
  std::string method = aTransaction.Method;
  bool canRedirect = false;
  bool handled = false;
  if (OnRedirect) OnRedirect(this, aTransaction.Header, FStatusCode, FResponseHeader, aText, method, canRedirect, handled);
  if (!handled && !location.empty()) {
    std::string oldUri = FUrl.AbsoluteUri();
    FUrl.Parse(oldUri, location);
    std::string newUri = FUrl.AbsoluteUri();
    canRedirect = !newUri.empty();
    // A HEAD stays a HEAD: only a request with a body to drop becomes a GET.
    if ((FStatusCode == 302 || FStatusCode == 303) && !Str::SameText(method, "HEAD")) method = "GET";
    // Credentials stay within the folder they were given for.
    if (UrlFolder(newUri).rfind(UrlFolder(oldUri), 0) != 0) RemoveFields(aTransaction.Header, "Authorization");
  }
  aTransaction.Method = method;
  return canRedirect;
}

TclHttp::TclAttemptResult TclHttp::EndWithText(TclTransaction& aTransaction, const std::string& aBytes) {
  if (!FSilentHTTP) throw EclHttpError(FStatusLine, FStatusCode, TclTranslator::GetString(aBytes, TextCharSet()));
  aTransaction.Destination->WriteBuffer(aBytes.data(), int64_t(aBytes.size()));
  return arDone;
}

std::string TclHttp::TextCharSet() const {
  return FResponseHeader.CharSet().empty() ? FCharSet : FResponseHeader.CharSet();
}

std::string TclHttp::ReadBodyBytes(TclTransaction& aTransaction) {
  TclBoundedMemoryStream text(cMaxStatusText);
  ReadBody(aTransaction, &text);
  return text.Data();
}

bool TclHttp::KeepAliveAllowed(const TclTransaction& aTransaction) const {
  const std::string& field = aTransaction.UseProxy ? FResponseHeader.ProxyConnection() : FResponseHeader.Connection();
  bool keep = FHttpVersion == hvHttp1_1 && FResponseVersion == hvHttp1_1 ? !Str::SameText(field, "close")
                                                                        : Str::SameText(field, "Keep-Alive");
  return keep && FKeepConnection;
}

int64_t TclHttp::BodyLength(const TclTransaction& aTransaction) const {
  const std::string& length = FResponseHeader.ContentLength();
  if (length.empty() && (FHttpVersion == hvHttp1_0 || FResponseVersion == hvHttp1_0)) return -1;
  if (length.empty() && (FStatusCode & 200) == 200) return -1;
  return std::max<int64_t>(0, ParseDecimal(length));
}

void TclHttp::ReadBody(TclTransaction& aTransaction, TStream* aDestination) {
  // Responses that never carry a body, whatever their header says.
  bool noBody = Str::SameText(aTransaction.Method, "HEAD") || FStatusCode < 200 || FStatusCode == 204 ||
                FStatusCode == 304 || (aTransaction.IsTunnel && FStatusCode == 200);
  if (!noBody) ReadBodyData(aTransaction, aDestination);
  aTransaction.ResponseRead = true;
  aTransaction.CloseMarked = !KeepAliveAllowed(aTransaction);
  if (OnReceiveResponse)
    OnReceiveResponse(this, aTransaction.Method, FUrl.AbsoluteUri(), FResponseLines, FResponseCookies);
}

void TclHttp::ReadBodyData(TclTransaction& aTransaction, TStream* aDestination) {
  TclTcpClientConnection* connection = Connection();
  std::unique_ptr<TclGZipInflateStream> gzip;
  TStream* target = aDestination;
  if (Str::LowerCase(FResponseHeader.ContentEncoding()).find("gzip") != std::string::npos) {
    gzip = std::make_unique<TclGZipInflateStream>(aDestination);
    target = gzip.get();
  }
  const char* ahead = FBuffer.data() + FHeaderEnd;
  int64_t aheadSize = int64_t(FBuffer.size() - FHeaderEnd);
  int64_t done = 0;
  int64_t total = 0;
  StartProgress(OnReceiveProgress);
  try {
    if (Str::SameText(FResponseHeader.TransferEncoding(), "chunked")) {
      TclChunkedStream chunked(target);
      connection->InitProgress(aheadSize, 0);
      chunked.WriteBuffer(ahead, aheadSize);
      while (!chunked.IsCompleted() && connection->Active()) ReadMore(&chunked);
      if (!chunked.IsCompleted()) RaiseIncompleteResponse();
      done = chunked.TotalWritten();
    } else if ((total = BodyLength(aTransaction)) >= 0) {
      int64_t taken = std::min(aheadSize, total);
      target->WriteBuffer(ahead, taken);
      connection->InitProgress(taken, total);
      connection->SetBytesToProceed(total - taken);
      while (connection->BytesProceed() < total && connection->Active()) ReadMore(target);
      connection->SetBytesToProceed(-1);
      if (connection->BytesProceed() < total) RaiseIncompleteResponse();
      done = total;
    } else {
      total = 0;
      target->WriteBuffer(ahead, aheadSize);
      connection->InitProgress(aheadSize, 0);
      if (connection->Active()) {
        connection->SetIsReadUntilClose(true);
        ReadMore(target);
        connection->SetIsReadUntilClose(false);
      }
      done = connection->BytesProceed();
    }
  } catch (...) {
    connection->OnProgress = nullptr;
    connection->SetBytesToProceed(-1);
    connection->SetIsReadUntilClose(false);
    throw;
  }
  FBuffer.clear();
  EndProgress(OnReceiveProgress, done, total);
}
