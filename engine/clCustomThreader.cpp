#include "engine/clCustomThreader.h"

#include <poll.h>

#include "engine/clInternetError.h"
#include "engine/clReplyInfo.h"
#include "http/clHttpAuth.h"

namespace {

// Sending again after the platform asked for a retry, at most this many times in a row.
constexpr int cMaxForcedRetries = 9;
// Sends of one request, counting the repeats with credentials.
constexpr int cMaxAuthPasses = 4;

bool StartsWithText(const std::string& aText, const std::string& aPrefix) {
  return TclStringsUtils::SameText(aText.substr(0, aPrefix.size()), aPrefix);
}

void SetTextOption(HINTERNET hRequest, DWORD aOption, const std::string& aValue) {
  InternetSetOptionA(hRequest, aOption, aValue.c_str(), DWORD(aValue.size()));
}

// A handle registered with the connection for reuse; one that a cancel closed is dropped.
template <class TAction>
TAction* Kept(TclInternetConnection& aConnection) {
  TAction* action = aConnection.GetActionByClass<TAction>();
  if (action && !action->hResource()) {
    delete action;
    action = nullptr;
  }
  return action;
}

}  // namespace

TclCustomThreader::TclCustomThreader(const std::string& aURL, TStream* aDataStream)
    : FURL(aURL), FDataStream(aDataStream) {}

TclCustomThreader::~TclCustomThreader() { EndBeforeDestruction(); }

void TclCustomThreader::Stop() {
  Terminate();
  FSleepEvent.Signal();
  std::lock_guard<std::mutex> guard(FConnectionLock);
  if (TclInternetConnection* connection = FConnection ? FConnection : FOwnConnection.get()) connection->Terminate();
}

TclInternetConnection& TclCustomThreader::Connection() {
  std::lock_guard<std::mutex> guard(FConnectionLock);
  if (FConnection) return *FConnection;
  if (!FOwnConnection) FOwnConnection = std::make_unique<TclInternetConnection>();
  return *FOwnConnection;
}

void TclCustomThreader::SetConnection(TclInternetConnection* aValue) {
  std::lock_guard<std::mutex> guard(FConnectionLock);
  FConnection = aValue;
  FOwnConnection.reset();
}

void TclCustomThreader::Execute() {
  FResponseHeader.clear();
  int32_t tries = FTryCount;
  try {
    SetStatus(psProcess);
    ParseURL();
    for (;;) {
      try {
        Process();
        break;
      } catch (const EclInternetError&) {
        if (--tries < 1) throw;
        Pause(FReconnectAfter);
      }
    }
    SetStatus(Terminated() ? psTerminated : FLastError.empty() ? psSuccess : psErrors);
  } catch (const EclInternetError& e) {
    ReportError(e.what(), e.ErrorCode());
    SetStatus(psFailed);
  } catch (const std::exception& e) {
    ReportError(e.what(), 0);
    SetStatus(psFailed);
  }
}

void TclCustomThreader::SetStatus(TclProcessStatus aStatus) {
  if (FStatus == aStatus) return;
  FStatus = aStatus;
  if (OnStatusChanged) Synchronize([&] { OnStatusChanged(this, aStatus); });
}

void TclCustomThreader::ReportError(const std::string& aError, int32_t aErrorCode, const std::string& aExtra) {
  if (Terminated()) return;
  std::string text = aError;
  int32_t code = aErrorCode;
  if (text.empty()) {
    code = int32_t(GetLastError());
    text = EclInternetError::GetLastErrorText(code);
  }
  if (!aExtra.empty()) text += ": " + aExtra;
  FLastError = text;
  FLastErrorCode = code;
  if (OnError) Synchronize([&] { OnError(this, FLastError, FLastErrorCode); });
}

void TclCustomThreader::ParseURL() {
  if (FURLParser.Host().empty()) {
    FURLParser.Parse(FURL);
    if (OnUrlParsing) Synchronize([&] { OnUrlParsing(this, FURLParser); });
    if (FURLParser.Host().empty())
      throw EclInternetError(EclInternetError::GetLastErrorText(ERROR_INTERNET_INVALID_URL),
                             ERROR_INTERNET_INVALID_URL);
    FURL = FURLParser.AbsoluteUri();
  }
  FResourceInfo.SetName(FURLParser.Path());
}

void TclCustomThreader::Process() {
  TclSession session;
  struct TclCloser {
    TclCustomThreader* Self;
    TclSession& Session;
    ~TclCloser() { Self->CloseSession(Session); }
  } closer{this, session};
  OpenSession(session);
  if (Terminated()) return;
  if (FURLParser.UrlType() == utHTTP || FURLParser.UrlType() == utHTTPS) HttpTransfer(session);
}

void TclCustomThreader::OpenSession(TclSession& aSession) {
  TclInternetConnection& connection = Connection();
  aSession.Open = Kept<TclInternetOpenAction>(connection);
  if (!aSession.Open) {
    const std::string proxy = ProxyString();
    aSession.Open = new TclInternetOpenAction(&connection, FInternetAgent,
                                              proxy.empty() ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_PROXY,
                                              proxy, FProxyBypass, 0);
    aSession.OwnOpen = true;
    aSession.Open->FireAction(-1);
  }
  if (Terminated()) return;
  aSession.Connect = Kept<TclConnectAction>(connection);
  if (!aSession.Connect) {
    aSession.Connect = new TclConnectAction(&connection, aSession.Internet(), FURLParser.Host(),
                                            INTERNET_PORT(FURLParser.Port()), "", "", INTERNET_SERVICE_HTTP, 0);
    aSession.OwnConnect = true;
    aSession.Connect->FireAction(FTimeOut);
  }
}

void TclCustomThreader::CloseSession(TclSession& aSession) {
  if (FKeepConnection) return;
  if (aSession.OwnConnect) delete aSession.Connect;
  if (aSession.OwnOpen) delete aSession.Open;
  aSession = {};
}

void TclCustomThreader::Pause(int32_t aMilliseconds) {
  pollfd fd{FSleepEvent.Handle(), POLLIN, 0};
  ::poll(&fd, 1, aMilliseconds);
  FSleepEvent.Reset();
}

std::string TclCustomThreader::ProxyString() const {
  const std::string& server = FHttpProxySettings.Server();
  if (server.empty()) return {};
  const std::string scheme = FURLParser.UrlType() == utHTTPS ? "https" : "http";
  const std::string location =
      StartsWithText(server, "http") || StartsWithText(server, "ftp") ? server : scheme + "://" + server;
  return scheme + "=" + location + ":" + std::to_string(FHttpProxySettings.Port());
}

DWORD TclCustomThreader::RequestFlags() const {
  DWORD flags = INTERNET_FLAG_RELOAD;
  if (FKeepConnection) flags |= INTERNET_FLAG_KEEP_CONNECTION;
  if (FURLParser.UrlType() == utHTTPS) flags |= INTERNET_FLAG_SECURE;
  return flags;
}

TclCustomThreader::TclRequestPtr TclCustomThreader::OpenRequest(TclSession& aSession, const std::string& aVerb) {
  if (FKeepConnection)
    if (auto* kept = Kept<TclHttpOpenRequestAction>(Connection())) return TclRequestPtr(kept, {true});
  TclRequestPtr request(new TclHttpOpenRequestAction(&Connection(), aSession.Internet(), aSession.Connect->hResource(),
                                                     aVerb, FURLParser.AbsolutePath(), "", "", {}, RequestFlags()),
                        {FKeepConnection});
  request->FireAction(FTimeOut);
  return request;
}

void TclCustomThreader::HttpGetResourceInfo(TclSession& aSession) {
  if (Terminated()) return;
  FResourceInfo.FreeOwn();
  if (FDoNotGetResourceInfo) {
    FResourceInfo.Ensure();
    return;
  }
  if (FResourceInfo.Get()) return;
  // Never a kept request: the information request's body stays unread.
  TclHttpOpenRequestAction request(&Connection(), aSession.Internet(), aSession.Connect->hResource(), "GET",
                                   FURLParser.AbsolutePath(), "", "", {}, RequestFlags());
  request.FireAction(FTimeOut);
  AddRequestHeaders(request.hResource(), FAllowCompression);
  const bool statusKnown = SendRequest(aSession, request.hResource());
  if (Terminated()) return;
  if (statusKnown) EvaluateReplyHeaders(request.hResource(), FResponseHeader, FResourceInfo);
  if (OnGetResourceInfo) Synchronize([&] { OnGetResourceInfo(this, FResourceInfo.Get()); });
}

void TclCustomThreader::AddRequestHeaders(HINTERNET hRequest, bool aAskCompression) {
  if (!FRequestHeader.empty()) {
    const std::string text = TclStringsUtils::Trim(TclStringsUtils::GetText(FRequestHeader));
    HttpAddRequestHeadersA(hRequest, text.c_str(), DWORD(-1), HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  }
  if (aAskCompression) {
    HttpAddRequestHeadersA(hRequest, "Accept-Encoding: gzip", DWORD(-1), HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    const DWORD on = 1;
    InternetSetOptionA(hRequest, INTERNET_OPTION_HTTP_DECODING, &on, sizeof on);
  }
  if (FHttpProxySettings.AuthorizationType() == atBasic &&
      !(FHttpProxySettings.UserName().empty() && FHttpProxySettings.Password().empty())) {
    TclHttpBasicAuthorization basic;
    basic.Authenticate(FURLParser, "GET", FHttpProxySettings.UserName(), FHttpProxySettings.Password(), {}, nullptr);
    const std::string line = "Proxy-Authorization: " + basic.AuthValue();
    HttpAddRequestHeadersA(hRequest, line.c_str(), DWORD(-1), HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  }
}

bool TclCustomThreader::SendRequest(TclSession& aSession, HINTERNET hRequest) {
  for (int pass = 1;; ++pass) {
    SendWithCertificates(aSession, hRequest);
    try {
      if (ReadReplyStatus(hRequest, FResponseHeader, FResourceInfo)) return true;
      ReportError("", 0, "Status Code");
      return false;
    } catch (const EclInternetError& e) {
      const bool proxy = e.ErrorCode() == 407;
      if (pass >= cMaxAuthPasses || !(e.ErrorCode() == 401 || proxy)) throw;
      if (proxy && FHttpProxySettings.AuthorizationType() != atAutoDetect) throw;
      SetCredentials(hRequest, proxy);
      if (Terminated()) return false;
    }
  }
}

void TclCustomThreader::SetCredentials(HINTERNET hRequest, bool aProxy) {
  if (aProxy) {
    SetTextOption(hRequest, INTERNET_OPTION_PROXY_USERNAME, FHttpProxySettings.UserName());
    SetTextOption(hRequest, INTERNET_OPTION_PROXY_PASSWORD, FHttpProxySettings.Password());
  } else {
    SetTextOption(hRequest, INTERNET_OPTION_USERNAME, FURLParser.UserName());
    SetTextOption(hRequest, INTERNET_OPTION_PASSWORD, FURLParser.Password());
  }
}

void TclCustomThreader::SendWithCertificates(TclSession& aSession, HINTERNET hRequest) {
  int32_t lastCode = 0;
  int forcedRetries = 0;
  for (;;) {
    TclHttpSendRequestAction send(&Connection(), aSession.Internet(), hRequest, "", nullptr, 0);
    try {
      send.FireAction(FTimeOut);
      return;
    } catch (const EclTimeoutInternetError&) {
      throw;
    } catch (const EclInternetError& e) {
      if (e.ErrorCode() == int32_t(ERROR_INTERNET_FORCE_RETRY)) {
        if (++forcedRetries > cMaxForcedRetries) throw;
        continue;
      }
      forcedRetries = 0;
      if (e.ErrorCode() == lastCode || !HandleCertificateError(hRequest, e.ErrorCode())) throw;
      lastCode = e.ErrorCode();
    }
  }
}

bool TclCustomThreader::HandleCertificateError(HINTERNET hRequest, int32_t aErrorCode) {
  switch (DWORD(aErrorCode)) {
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_INVALID_CA:
      if (FURLParser.UrlType() != utHTTPS) return false;
      IgnoreCertificateFaults(hRequest);
      return true;
    case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
      return AskClientCertificate(hRequest);
    default:
      return false;
  }
}

void TclCustomThreader::IgnoreCertificateFaults(HINTERNET hRequest) {
  static const std::pair<TclCertificateFlag, DWORD> flags[] = {
      {cfIgnoreCommonNameInvalid, SECURITY_FLAG_IGNORE_CERT_CN_INVALID},
      {cfIgnoreDateInvalid, SECURITY_FLAG_IGNORE_CERT_DATE_INVALID},
      {cfIgnoreUnknownAuthority, SECURITY_FLAG_IGNORE_UNKNOWN_CA},
      {cfIgnoreRevocation, SECURITY_FLAG_IGNORE_REVOCATION},
      {cfIgnoreWrongUsage, SECURITY_FLAG_IGNORE_WRONG_USAGE},
  };
  DWORD security = 0, size = sizeof security;
  if (!InternetQueryOptionA(hRequest, INTERNET_OPTION_SECURITY_FLAGS, &security, &size))
    throw EclInternetError::CreateByLastError();
  for (const auto& [flag, bit] : flags)
    if (FCertificateFlags.Contains(flag)) security |= bit;
  if (!InternetSetOptionA(hRequest, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security))
    throw EclInternetError::CreateByLastError();
}

bool TclCustomThreader::AskClientCertificate(HINTERNET hRequest) {
  TclClientCertificate certificate;
  std::vector<TclClientCertificate> extraCerts;
  bool handled = false;
  if (OnGetCertificate) Synchronize([&] { OnGetCertificate(this, certificate, extraCerts, handled); });
  if (!handled) return false;
  if (!InternetSetOptionA(hRequest, INTERNET_OPTION_CLIENT_CERT_CONTEXT, &certificate, sizeof certificate))
    throw EclInternetError::CreateByLastError();
  return true;
}

void TclDeleteThreader::HttpTransfer(TclSession& aSession) {
  TclRequestPtr request = OpenRequest(aSession, "DELETE");
  AddRequestHeaders(request->hResource(), false);
  SendRequest(aSession, request->hResource());
}
