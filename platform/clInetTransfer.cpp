#include "platform/clInetTransfer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

// Body bytes held for the reader; past this the transfer pauses until the reader has caught up.
constexpr size_t cBufferLimit = 256 << 10;
// What libcurl reads from the socket at a time.
constexpr long cReceiveSize = 128 << 10;
constexpr int cMaxRedirects = 10;
constexpr long cConnectWithoutLimit = 24L * 3600 * 1000;

bool IsRedirect(int aStatus) {
  return aStatus == 301 || aStatus == 302 || aStatus == 303 || aStatus == 307 || aStatus == 308;
}

// aLocation resolved against aBase, with its scheme; nothing when libcurl cannot resolve it.
std::optional<std::string> ResolveLocation(const std::string& aBase, const std::string& aLocation, std::string& aScheme) {
  CURLU* url = curl_url();
  std::optional<std::string> result;
  char* scheme = nullptr;
  char* full = nullptr;
  if (curl_url_set(url, CURLUPART_URL, aBase.c_str(), 0) == CURLUE_OK &&
      curl_url_set(url, CURLUPART_URL, aLocation.c_str(), CURLU_URLENCODE) == CURLUE_OK &&
      curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
      curl_url_get(url, CURLUPART_URL, &full, 0) == CURLUE_OK) {
    aScheme = scheme;
    result = full;
  }
  curl_free(scheme);
  curl_free(full);
  curl_url_cleanup(url);
  return result;
}

bool HasField(const std::vector<std::string>& aLines, std::string_view aName) {
  for (const std::string& line : aLines)
    if (SameText(TrimBlanks(std::string_view(line).substr(0, line.find(':'))), aName)) return true;
  return false;
}

}  // namespace

TclCurlSession::TclCurlSession() : Easy(curl_easy_init()), Multi(curl_multi_init()) {
  if (!Easy || !Multi) {
    curl_easy_cleanup(Easy);
    curl_multi_cleanup(Multi);
    throw std::bad_alloc();
  }
}

TclCurlSession::~TclCurlSession() {
  curl_multi_cleanup(Multi);
  curl_easy_cleanup(Easy);
}

TclCurlTransfer::TclCurlTransfer(std::shared_ptr<TclCurlSession> aSession) : FSession(std::move(aSession)) {}

TclCurlTransfer::~TclCurlTransfer() {
  if (FAdded) curl_multi_remove_handle(FSession->Multi, FSession->Easy);
  curl_slist_free_all(FHeaderList);
}

void TclCurlTransfer::Abort() {
  FAborted = true;
  curl_multi_wakeup(FSession->Multi);
}

DWORD TclCurlTransfer::Send(const TclExchange& aExchange) {
  if (FAborted) return ERROR_INTERNET_OPERATION_CANCELLED;
  FExchange = aExchange;
  FUrl = aExchange.Url;
  FRedirects = 0;
  Start();
  while (FStage == TStage::Awaiting || FStage == TStage::Redirecting) {
    if (FStage == TStage::Redirecting && FTransferDone) {
      Redirect();
      continue;
    }
    if (DWORD error = Pump()) return error;
  }
  return FHasReply ? 0 : FError;
}

DWORD TclCurlTransfer::Read(char* aBuffer, DWORD aSize, DWORD& aRead) {
  aRead = 0;
  if (FAborted) return ERROR_INTERNET_OPERATION_CANCELLED;
  if (!FHasReply) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
  if (FAtEnd) return 0;
  // Fill the whole block while bytes keep coming; return what is there once the network is idle.
  bool pumped = false;
  while (Buffered() < aSize && FStage == TStage::Body && !(pumped && Buffered() > 0)) {
    if (DWORD error = Pump()) return error;
    pumped = true;
  }
  size_t count = std::min<size_t>(aSize, Buffered());
  if (count) std::memcpy(aBuffer, FBuffer.data() + FHead, count);
  FHead += count;
  if (FHead == FBuffer.size()) {
    FBuffer.clear();
    FHead = 0;
  }
  aRead = DWORD(count);
  return count == 0 && FStage == TStage::Failed ? FError : 0;
}

void TclCurlTransfer::Start() {
  if (FAdded) curl_multi_remove_handle(FSession->Multi, FSession->Easy);
  FAdded = false;
  FStage = TStage::Awaiting;
  FHasReply = FPaused = FAtEnd = FTransferDone = false;
  FError = FOwnError = 0;
  FDetail.clear();
  FErrorText[0] = 0;
  FRedirectTo.clear();
  FReply.Clear();
  FTls = TclTlsCheck{FExchange.Options.SecurityFlags};
  FBuffer.clear();
  FHead = 0;
  Configure();
  if (curl_multi_add_handle(FSession->Multi, FSession->Easy) != CURLM_OK) {
    Fail(ERROR_INTERNET_INTERNAL_ERROR);
    return;
  }
  FAdded = true;
}

void TclCurlTransfer::Configure() {
  CURL* easy = FSession->Easy;
  const TclExchange& x = FExchange;
  const TclInternetOptions& o = x.Options;
  curl_easy_reset(easy);
  curl_easy_setopt(easy, CURLOPT_URL, FUrl.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, FErrorText);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, cReceiveSize);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, x.Http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  // The caller times its calls out by closing the handle; libcurl's own default would give up
  // connecting after five minutes.
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, cConnectWithoutLimit);
  if (!x.Agent.empty()) curl_easy_setopt(easy, CURLOPT_USERAGENT, x.Agent.c_str());

  bool hasBody = x.Body.has_value() || x.Verb == "POST" || x.Verb == "PUT";
  if (hasBody) {
    const std::string& body = x.Body ? *x.Body : std::string();
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, body.c_str());
    if (x.Verb != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, x.Verb.c_str());
  } else if (x.Verb == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else if (x.Verb != "GET") {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, x.Verb.c_str());
  }

  curl_slist_free_all(FHeaderList);
  FHeaderList = nullptr;
  std::vector<std::string> lines = x.HeaderLines;
  lines.push_back("Expect:");  // the body goes out at once, without waiting for 100 Continue
  if (hasBody && !HasField(x.HeaderLines, "Content-Type")) lines.push_back("Content-Type:");  // none of libcurl's
  for (const std::string& line : lines) FHeaderList = curl_slist_append(FHeaderList, line.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, FHeaderList);
  if (o.Decoding) curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");

  if (!o.UserName.empty() || !o.Password.empty()) {
    curl_easy_setopt(easy, CURLOPT_USERNAME, o.UserName.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, o.Password.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
  }
  if (x.ProxyMode == TclExchange::TProxy::Direct) {
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
  } else if (x.ProxyMode == TclExchange::TProxy::Named) {
    curl_easy_setopt(easy, CURLOPT_PROXY, x.Proxy.c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, x.NoProxy.c_str());
  }
  if (!o.ProxyUserName.empty() || !o.ProxyPassword.empty()) {
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, o.ProxyUserName.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, o.ProxyPassword.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
  }

  // TLS: the system's trust store, or the one the environment names.
  if (const char* file = std::getenv("SSL_CERT_FILE")) curl_easy_setopt(easy, CURLOPT_CAINFO, file);
  if (const char* dir = std::getenv("SSL_CERT_DIR")) curl_easy_setopt(easy, CURLOPT_CAPATH, dir);
  curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, PrepareTlsContext);
  bool lax = ChainFaultsIgnored(o.SecurityFlags);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, lax ? 0L : 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, (o.SecurityFlags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) ? 0L : 2L);
  if (lax) {
    // A connection checked with chain faults passed over serves no other request.
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
  }
  if (o.ClientCertificate) {
    curl_easy_setopt(easy, CURLOPT_SSLCERTTYPE, "PEM");
    curl_easy_setopt(easy, CURLOPT_SSLCERT, o.ClientCertificate->CertificateFile.c_str());
    if (!o.ClientCertificate->KeyFile.empty()) curl_easy_setopt(easy, CURLOPT_SSLKEY, o.ClientCertificate->KeyFile.c_str());
    if (!o.ClientCertificate->KeyPassword.empty())
      curl_easy_setopt(easy, CURLOPT_KEYPASSWD, o.ClientCertificate->KeyPassword.c_str());
  }
}

DWORD TclCurlTransfer::Pump() {
  if (FAborted) return ERROR_INTERNET_OPERATION_CANCELLED;
  if (FPaused) {
    FPaused = false;
    curl_easy_pause(FSession->Easy, CURLPAUSE_CONT);
  }
  size_t before = Buffered();
  TStage stage = FStage;
  int running = 0;
  CURLMcode result;
  {
    TclTlsCheckScope scope(FTls);
    result = curl_multi_perform(FSession->Multi, &running);
  }
  if (result != CURLM_OK) {
    // The transfer cannot go on and will report no end of its own.
    FTransferDone = true;
    Fail(result == CURLM_OUT_OF_MEMORY ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INTERNET_INTERNAL_ERROR);
    return 0;
  }
  CollectEnd();
  if (Buffered() == before && FStage == stage && !FTransferDone && !FPaused)
    curl_multi_poll(FSession->Multi, nullptr, 0, 1000, nullptr);
  return FAborted ? ERROR_INTERNET_OPERATION_CANCELLED : 0;
}

void TclCurlTransfer::CollectEnd() {
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(FSession->Multi, &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    FTransferDone = true;
    CURLcode code = message->data.result;
    if (code != CURLE_OK)
      Fail(FailureNumber(code));
    else if (FStage == TStage::Body || (FStage == TStage::Awaiting && FReply.Complete() && FReply.StatusCode() >= 200))
      FStage = TStage::Ended;
    else if (FStage == TStage::Awaiting)
      Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
    FHasReply = FHasReply || FStage == TStage::Ended;
  }
}

void TclCurlTransfer::Redirect() {
  std::string scheme;
  std::optional<std::string> target = ResolveLocation(FUrl, FRedirectTo, scheme);
  if (++FRedirects > cMaxRedirects || !target || (scheme != "http" && scheme != "https")) {
    FDetail = "cannot follow the redirection to " + FRedirectTo;
    FStage = TStage::Failed;
    FError = ERROR_HTTP_REDIRECT_FAILED;
    return;
  }
  int status = FReply.StatusCode();
  if (status == 303 || ((status == 301 || status == 302) && FExchange.Verb == "POST")) {
    FExchange.Verb = "GET";
    FExchange.Body.reset();
  }
  FUrl = *target;
  Start();
}

void TclCurlTransfer::Fail(DWORD aError) {
  FStage = TStage::Failed;
  FError = aError;
  FDetail = FErrorText;
}

size_t TclCurlTransfer::OnHeader(char* aData, size_t aSize, size_t aCount, void* aSelf) {
  auto* self = static_cast<TclCurlTransfer*>(aSelf);
  size_t size = aSize * aCount;
  if (self->FStage != TStage::Awaiting) return size;  // trailers, or lines of a dropped reply
  if (self->FReply.Complete()) self->FReply.Clear();  // the block after an interim or retried reply
  if (!self->FReply.AddLine(std::string_view(aData, size))) {
    self->FOwnError = ERROR_HTTP_INVALID_SERVER_RESPONSE;
    return 0;
  }
  if (self->FReply.Complete()) self->OnHeaderBlock();
  return size;
}

void TclCurlTransfer::OnHeaderBlock() {
  int status = FReply.StatusCode();
  if (status >= 100 && status < 200) return;  // interim: the real reply follows
  std::string location = FReply.Value("Location");
  if (FExchange.FollowRedirects && IsRedirect(status) && !location.empty()) {
    FStage = TStage::Redirecting;
    FRedirectTo = location;
    return;
  }
  // A refusal that libcurl answers with the credentials it was given is not the final reply; the
  // first body byte or the end of the transfer tells.
  bool answered = (status == 401 && (!FExchange.Options.UserName.empty() || !FExchange.Options.Password.empty())) ||
                  (status == 407 && (!FExchange.Options.ProxyUserName.empty() || !FExchange.Options.ProxyPassword.empty()));
  if (answered) return;
  FStage = TStage::Body;
  FHasReply = true;
}

size_t TclCurlTransfer::OnBody(char* aData, size_t aSize, size_t aCount, void* aSelf) {
  auto* self = static_cast<TclCurlTransfer*>(aSelf);
  size_t size = aSize * aCount;
  if (self->FStage == TStage::Redirecting) return size;
  if (self->FStage == TStage::Awaiting) {
    self->FStage = TStage::Body;
    self->FHasReply = true;
  }
  if (self->Buffered() >= cBufferLimit) {
    self->FPaused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  self->Append(aData, size);
  return size;
}

void TclCurlTransfer::Append(const char* aData, size_t aSize) {
  if (FHead > 0 && FHead >= FBuffer.size() / 2) {
    FBuffer.erase(FBuffer.begin(), FBuffer.begin() + ptrdiff_t(FHead));
    FHead = 0;
  }
  if (FBuffer.capacity() == 0) FBuffer.reserve(cBufferLimit + size_t(cReceiveSize));
  FBuffer.insert(FBuffer.end(), aData, aData + aSize);
}

DWORD TclCurlTransfer::FailureNumber(CURLcode aCode) const {
  if (FOwnError) return FOwnError;
  if (FTls.Fault) return FTls.Fault;
  if (!FHasReply && FTls.ClientCertificateAsked) return ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED;
  long osError = 0;
  curl_easy_getinfo(FSession->Easy, CURLINFO_OS_ERRNO, &osError);
  switch (aCode) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
      return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case CURLE_URL_MALFORMAT:
      return ERROR_INTERNET_INVALID_URL;
    case CURLE_UNSUPPORTED_PROTOCOL:  // a reply without a status line
    case CURLE_WEIRD_SERVER_REPLY:
      return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_OUT_OF_MEMORY:  // also how libcurl refuses a header line it finds too long
      return FHasReply ? ERROR_NOT_ENOUGH_MEMORY : ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      if (osError == ECONNRESET || osError == EPIPE) return ERROR_INTERNET_CONNECTION_RESET;
      // Without a socket error libcurl refused what it received (a header block too large).
      return osError == 0 && !FHasReply ? ERROR_HTTP_INVALID_SERVER_RESPONSE : ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_PEER_FAILED_VERIFICATION:  // chain faults are classified by the TLS check
      return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_BAD_CONTENT_ENCODING:
      return ERROR_INTERNET_DECODING_FAILED;
    case CURLE_TOO_MANY_REDIRECTS:
      return ERROR_HTTP_REDIRECT_FAILED;
    default:
      return ERROR_INTERNET_INTERNAL_ERROR;
  }
}
