// The internet client's calls: each finds its handle, checks its kind and state, and hands the work
// to the handle's objects; failures leave their number on the calling thread.
#include "platform/clWinInet.h"

#include <curl/curl.h>

#include <atomic>
#include <cstring>

#include "platform/clInetErrors.h"
#include "platform/clInetHandles.h"

namespace {

using TKind = TclInetHandle::TKind;

// Connections per server, a process-wide setting.
std::atomic<DWORD> gMaxConnsPerServer{10};
std::atomic<DWORD> gMaxConnsPer10Server{10};

bool Fail(DWORD aError) {
  SetLastError(aError);
  return false;
}

template <typename THandle>
std::shared_ptr<THandle> Find(HINTERNET aNumber, TKind aKind) {
  std::shared_ptr<TclInetHandle> handle = FindHandle(aNumber);
  if (!handle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (handle->Kind() != aKind) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  return std::static_pointer_cast<THandle>(handle);
}

std::string Text(const char* aText) { return aText ? aText : ""; }

// The size protocol of the queries: a buffer too small answers the size needed (with the NUL).
bool CopyText(const std::string& aText, void* aBuffer, DWORD* aLength) {
  if (!aLength) return Fail(ERROR_INVALID_PARAMETER);
  if (!aBuffer || *aLength <= aText.size()) {
    *aLength = DWORD(aText.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(aBuffer, aText.c_str(), aText.size() + 1);
  *aLength = DWORD(aText.size());
  return true;
}

bool CopyNumber(DWORD aValue, void* aBuffer, DWORD* aLength) {
  if (!aLength) return Fail(ERROR_INVALID_PARAMETER);
  if (!aBuffer || *aLength < sizeof aValue) {
    *aLength = sizeof aValue;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(aBuffer, &aValue, sizeof aValue);
  *aLength = sizeof aValue;
  return true;
}

// A text option: at most aLength bytes, up to the first NUL.
std::string OptionText(const void* aBuffer, DWORD aLength) {
  const char* text = static_cast<const char*>(aBuffer);
  return text ? std::string(text, strnlen(text, aLength)) : std::string();
}

// The credential an option number names, or nothing.
std::string* TextOption(TclInternetOptions& aOptions, DWORD aOption) {
  switch (aOption) {
    case INTERNET_OPTION_USERNAME: return &aOptions.UserName;
    case INTERNET_OPTION_PASSWORD: return &aOptions.Password;
    case INTERNET_OPTION_PROXY_USERNAME: return &aOptions.ProxyUserName;
    case INTERNET_OPTION_PROXY_PASSWORD: return &aOptions.ProxyPassword;
    default: return nullptr;
  }
}

std::string HeaderText(const char* aHeaders, DWORD aLength) {
  if (!aHeaders) return "";
  return aLength == DWORD(-1) ? std::string(aHeaders) : std::string(aHeaders, aLength);
}

}  // namespace

HINTERNET InternetOpenA(const char* lpszAgent, DWORD dwAccessType, const char* lpszProxy,
                        const char* lpszProxyBypass, DWORD dwFlags) {
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  if (!initialised) {
    Fail(ERROR_INTERNET_INTERNAL_ERROR);
    return nullptr;
  }
  if (dwAccessType == INTERNET_OPEN_TYPE_PROXY && Text(lpszProxy).empty()) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return RegisterHandle(std::make_shared<TclInetRoot>(Text(lpszAgent), dwAccessType, Text(lpszProxy),
                                                      Text(lpszProxyBypass)));
}

HINTERNET InternetConnectA(HINTERNET hInternet, const char* lpszServerName, INTERNET_PORT nServerPort,
                           const char* lpszUserName, const char* lpszPassword, DWORD dwService, DWORD dwFlags,
                           DWORD_PTR dwContext) {
  auto root = Find<TclInetRoot>(hInternet, TKind::Root);
  if (!root) return nullptr;
  if (dwService != INTERNET_SERVICE_HTTP) {
    Fail(ERROR_INTERNET_INVALID_OPERATION);
    return nullptr;
  }
  if (Text(lpszServerName).empty()) {
    Fail(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  auto server = std::make_shared<TclInetServer>(root, lpszServerName, nServerPort);
  if (lpszUserName || lpszPassword)
    server->EditOptions([&](TclInternetOptions& o) {
      o.UserName = Text(lpszUserName);
      o.Password = Text(lpszPassword);
    });
  HINTERNET number = RegisterHandle(server);
  if (!number) Fail(ERROR_INTERNET_OPERATION_CANCELLED);
  return number;
}

HINTERNET HttpOpenRequestA(HINTERNET hConnect, const char* lpszVerb, const char* lpszObjectName,
                           const char* lpszVersion, const char* lpszReferrer, const char** lplpszAcceptTypes,
                           DWORD dwFlags, DWORD_PTR dwContext) {
  auto server = Find<TclInetServer>(hConnect, TKind::Server);
  if (!server) return nullptr;
  std::string verb = Text(lpszVerb).empty() ? "GET" : Text(lpszVerb);
  std::string object = Text(lpszObjectName);
  if (object.empty() || object.front() != '/') object = "/" + object;
  if (object.find_first_of(" \r\n") != std::string::npos) {
    Fail(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  std::shared_ptr<TclInetRequest> request;
  try {
    request = std::make_shared<TclInetRequest>(server, verb, object, Text(lpszVersion) == "HTTP/1.0", dwFlags);
  } catch (const std::bad_alloc&) {
    Fail(ERROR_INTERNET_OUT_OF_HANDLES);
    return nullptr;
  }
  if (!Text(lpszReferrer).empty()) request->Headers.Apply("Referer: " + Text(lpszReferrer), HTTP_ADDREQ_FLAG_ADD);
  std::string accept;
  for (const char** type = lplpszAcceptTypes; type && *type; ++type) accept += (accept.empty() ? "" : ", ") + Text(*type);
  if (!accept.empty()) request->Headers.Apply("Accept: " + accept, HTTP_ADDREQ_FLAG_ADD);
  HINTERNET number = RegisterHandle(request);
  if (!number) Fail(ERROR_INTERNET_OPERATION_CANCELLED);
  return number;
}

bool HttpAddRequestHeadersA(HINTERNET hRequest, const char* lpszHeaders, DWORD dwHeadersLength, DWORD dwModifiers) {
  auto request = Find<TclInetRequest>(hRequest, TKind::Request);
  if (!request) return false;
  if (!lpszHeaders) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(request->CallLock);
  DWORD error = request->Headers.Apply(HeaderText(lpszHeaders, dwHeadersLength), dwModifiers);
  return error ? Fail(error) : true;
}

bool HttpSendRequestA(HINTERNET hRequest, const char* lpszHeaders, DWORD dwHeadersLength, const void* lpOptional,
                      DWORD dwOptionalLength) {
  auto request = Find<TclInetRequest>(hRequest, TKind::Request);
  if (!request) return false;
  std::lock_guard lock(request->CallLock);
  if (lpszHeaders) {
    DWORD error = request->Headers.Apply(HeaderText(lpszHeaders, dwHeadersLength),
                                         HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    if (error) return Fail(error);
  }
  TclExchange exchange = request->Exchange();
  if (lpOptional) exchange.Body = std::string(static_cast<const char*>(lpOptional), dwOptionalLength);
  DWORD error = request->Transfer->Send(exchange);
  if (error) SetInternetFailure(error, request->Transfer->Detail());
  return error == 0;
}

bool HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, void* lpBuffer, DWORD* lpdwBufferLength,
                    DWORD* lpdwIndex) {
  auto request = Find<TclInetRequest>(hRequest, TKind::Request);
  if (!request) return false;
  std::lock_guard lock(request->CallLock);
  const TclCurlTransfer& transfer = *request->Transfer;
  if (!transfer.HasReply()) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  const TclReplyHeaders& reply = transfer.Reply();
  bool number = dwInfoLevel & HTTP_QUERY_FLAG_NUMBER;
  switch (dwInfoLevel & ~HTTP_QUERY_FLAG_NUMBER) {
    case HTTP_QUERY_STATUS_CODE:
      return number ? CopyNumber(DWORD(reply.StatusCode()), lpBuffer, lpdwBufferLength)
                    : CopyText(std::to_string(reply.StatusCode()), lpBuffer, lpdwBufferLength);
    case HTTP_QUERY_STATUS_TEXT:
    case HTTP_QUERY_RAW_HEADERS_CRLF:
      if (number) return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
      return CopyText(dwInfoLevel == HTTP_QUERY_STATUS_TEXT ? reply.StatusText() : reply.Raw(), lpBuffer,
                      lpdwBufferLength);
    default:
      return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
  }
}

bool InternetReadFile(HINTERNET hFile, void* lpBuffer, DWORD dwNumberOfBytesToRead, DWORD* lpdwNumberOfBytesRead) {
  auto request = Find<TclInetRequest>(hFile, TKind::Request);
  if (!request) return false;
  if (!lpdwNumberOfBytesRead || (!lpBuffer && dwNumberOfBytesToRead)) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(request->CallLock);
  DWORD error = request->Transfer->Read(static_cast<char*>(lpBuffer), dwNumberOfBytesToRead, *lpdwNumberOfBytesRead);
  if (error) SetInternetFailure(error, request->Transfer->Detail());
  return error == 0;
}

DWORD InternetSetFilePointer(HINTERNET hFile, int32_t lDistanceToMove, int32_t* lpDistanceToMoveHigh,
                             DWORD dwMoveMethod, DWORD_PTR dwContext) {
  auto request = Find<TclInetRequest>(hFile, TKind::Request);
  if (!request) return INVALID_SET_FILE_POINTER;
  std::lock_guard lock(request->CallLock);
  TclCurlTransfer& transfer = *request->Transfer;
  if (!transfer.HasReply()) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE), INVALID_SET_FILE_POINTER;
  // Only the end of a body of known length whose server takes byte ranges is a place to go: the
  // position a ranged request would start from.
  const TclReplyHeaders& reply = transfer.Reply();
  int64_t length = -1;
  try {
    length = std::stoll(reply.Value("Content-Length"));
  } catch (const std::exception&) {
  }
  bool decoded = request->Options().Decoding && !reply.Value("Content-Encoding").empty() &&
                 !SameText(reply.Value("Content-Encoding"), "identity");
  bool toEnd = dwMoveMethod == FILE_END && lDistanceToMove == 0 && (!lpDistanceToMoveHigh || *lpDistanceToMoveHigh == 0);
  if (!toEnd || length <= 0 || decoded || !SameText(reply.Value("Accept-Ranges"), "bytes"))
    return Fail(ERROR_INTERNET_INVALID_OPERATION), INVALID_SET_FILE_POINTER;
  transfer.SkipToEnd();
  SetLastError(0);  // tells a position whose low part looks like the failure value from a failure
  if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = int32_t(uint64_t(length) >> 32);
  return DWORD(uint64_t(length) & 0xFFFFFFFF);
}

bool InternetQueryOptionA(HINTERNET hInternet, DWORD dwOption, void* lpBuffer, DWORD* lpdwBufferLength) {
  if (dwOption == INTERNET_OPTION_MAX_CONNS_PER_SERVER) return CopyNumber(gMaxConnsPerServer, lpBuffer, lpdwBufferLength);
  if (dwOption == INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER)
    return CopyNumber(gMaxConnsPer10Server, lpBuffer, lpdwBufferLength);
  std::shared_ptr<TclInetHandle> handle = FindHandle(hInternet);
  if (!handle) return Fail(ERROR_INVALID_HANDLE);
  TclInternetOptions options = handle->Options();
  switch (dwOption) {
    case INTERNET_OPTION_SECURITY_FLAGS:
      return CopyNumber(options.SecurityFlags, lpBuffer, lpdwBufferLength);
    case INTERNET_OPTION_HTTP_DECODING:
      return CopyNumber(options.Decoding, lpBuffer, lpdwBufferLength);
    default:
      if (std::string* text = TextOption(options, dwOption)) return CopyText(*text, lpBuffer, lpdwBufferLength);
      return Fail(ERROR_INTERNET_INVALID_OPTION);
  }
}

bool InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, const void* lpBuffer, DWORD dwBufferLength) {
  bool isNumber = dwOption == INTERNET_OPTION_MAX_CONNS_PER_SERVER || dwOption == INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER ||
                  dwOption == INTERNET_OPTION_SECURITY_FLAGS || dwOption == INTERNET_OPTION_HTTP_DECODING;
  DWORD number = 0;
  if (isNumber) {
    if (!lpBuffer || dwBufferLength == 0) return Fail(ERROR_INVALID_PARAMETER);
    std::memcpy(&number, lpBuffer, std::min<size_t>(dwBufferLength, sizeof number));
  }
  if (dwOption == INTERNET_OPTION_MAX_CONNS_PER_SERVER || dwOption == INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER) {
    if (number == 0) return Fail(ERROR_INVALID_PARAMETER);
    (dwOption == INTERNET_OPTION_MAX_CONNS_PER_SERVER ? gMaxConnsPerServer : gMaxConnsPer10Server) = number;
    return true;
  }
  std::shared_ptr<TclInetHandle> handle = FindHandle(hInternet);
  if (!handle) return Fail(ERROR_INVALID_HANDLE);
  if (dwOption == INTERNET_OPTION_CLIENT_CERT_CONTEXT && (!lpBuffer || dwBufferLength < sizeof(TclClientCertificate)))
    return Fail(ERROR_INVALID_PARAMETER);
  bool known = true;
  handle->EditOptions([&](TclInternetOptions& o) {
    switch (dwOption) {
      case INTERNET_OPTION_SECURITY_FLAGS: o.SecurityFlags = number; break;
      case INTERNET_OPTION_HTTP_DECODING: o.Decoding = number != 0; break;
      case INTERNET_OPTION_CLIENT_CERT_CONTEXT:
        o.ClientCertificate = *static_cast<const TclClientCertificate*>(lpBuffer);
        break;
      default:
        if (std::string* text = TextOption(o, dwOption))
          *text = OptionText(lpBuffer, dwBufferLength);
        else
          known = false;
    }
  });
  return known ? true : Fail(ERROR_INTERNET_INVALID_OPTION);
}

bool InternetCloseHandle(HINTERNET hInternet) {
  std::shared_ptr<TclInetHandle> handle = TakeHandle(hInternet);
  if (!handle) return Fail(ERROR_INVALID_HANDLE);
  handle->Close();
  return true;
}
