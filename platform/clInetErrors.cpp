#include "platform/clInetErrors.h"

#include <cstring>
#include <unordered_map>

namespace {

thread_local DWORD tLastError = 0;
thread_local DWORD tResponseError = 0;
thread_local std::string tResponseText;

const std::unordered_map<DWORD, const char*>& MessageTable() {
  static const std::unordered_map<DWORD, const char*> table = {
      {ERROR_INVALID_HANDLE, "The handle is invalid."},
      {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
      {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
      {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
      {ERROR_INTERNET_OUT_OF_HANDLES, "No more handles could be generated at this time."},
      {ERROR_INTERNET_TIMEOUT, "The operation timed out."},
      {ERROR_INTERNET_EXTENDED_ERROR, "An extended error was returned from the server."},
      {ERROR_INTERNET_INTERNAL_ERROR, "An internal error occurred in the internet client."},
      {ERROR_INTERNET_INVALID_URL, "The URL is invalid."},
      {ERROR_INTERNET_UNRECOGNIZED_SCHEME, "The URL does not use a recognized protocol."},
      {ERROR_INTERNET_NAME_NOT_RESOLVED, "The server name or address could not be resolved."},
      {ERROR_INTERNET_INVALID_OPTION, "The option is invalid."},
      {ERROR_INTERNET_INVALID_OPERATION, "The operation is invalid."},
      {ERROR_INTERNET_OPERATION_CANCELLED, "The operation was cancelled, because the handle it was performed on was closed."},
      {ERROR_INTERNET_INCORRECT_HANDLE_TYPE, "The type of handle supplied is incorrect for this operation."},
      {ERROR_INTERNET_INCORRECT_HANDLE_STATE, "The requested operation cannot be carried out in the current state of the handle."},
      {ERROR_INTERNET_CANNOT_CONNECT, "A connection with the server could not be established."},
      {ERROR_INTERNET_CONNECTION_ABORTED, "The connection with the server was terminated abnormally."},
      {ERROR_INTERNET_CONNECTION_RESET, "The connection with the server was reset."},
      {ERROR_INTERNET_FORCE_RETRY, "The request must be sent again."},
      {ERROR_INTERNET_SEC_CERT_DATE_INVALID, "The SSL certificate date that was received from the server is bad. The certificate is expired."},
      {ERROR_INTERNET_SEC_CERT_CN_INVALID, "The SSL certificate common name (host name field) is incorrect."},
      {ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED, "The server requests client authentication."},
      {ERROR_INTERNET_INVALID_CA, "The certificate authority is invalid or incorrect."},
      {ERROR_INTERNET_SEC_CERT_ERRORS, "The SSL certificate contains errors."},
      {ERROR_INTERNET_SEC_CERT_REV_FAILED, "Certificate revocation check failed."},
      {ERROR_HTTP_HEADER_NOT_FOUND, "The requested header could not be located."},
      {ERROR_HTTP_INVALID_SERVER_RESPONSE, "The server returned an invalid or unrecognized response."},
      {ERROR_HTTP_INVALID_QUERY_REQUEST, "The request made to HttpQueryInfo is invalid."},
      {ERROR_HTTP_HEADER_ALREADY_EXISTS, "The header could not be added because it already exists."},
      {ERROR_HTTP_REDIRECT_FAILED, "The redirection failed because either the scheme changed or all attempts made to redirect failed."},
      {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, "An error occurred in the secure channel support."},
      {ERROR_INTERNET_SEC_INVALID_CERT, "The SSL certificate is invalid."},
      {ERROR_INTERNET_SEC_CERT_REVOKED, "The SSL certificate was revoked."},
      {ERROR_INTERNET_DECODING_FAILED, "Content decoding has failed."},
  };
  return table;
}

}  // namespace

DWORD GetLastError() { return tLastError; }

void SetLastError(DWORD dwErrCode) { tLastError = dwErrCode; }

void SetInternetFailure(DWORD aError, const std::string& aDetail) {
  tLastError = aError;
  tResponseError = aError;
  tResponseText = aDetail;
}

const std::string& LastResponseText() { return tResponseText; }

DWORD LastResponseError() { return tResponseError; }

std::string FormatInternetMessage(DWORD dwMessageId) {
  auto it = MessageTable().find(dwMessageId);
  // The table reads like the platform's: full sentences with a closing period and line break.
  return it == MessageTable().end() ? std::string() : std::string(it->second) + "\r\n";
}

bool InternetGetLastResponseInfoA(DWORD* lpdwError, char* lpszBuffer, DWORD* lpdwBufferLength) {
  if (!lpdwBufferLength) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (lpdwError) *lpdwError = tResponseError;
  const std::string& text = tResponseText;
  if (text.empty()) {
    if (lpszBuffer && *lpdwBufferLength > 0) lpszBuffer[0] = 0;
    *lpdwBufferLength = 0;
    return true;
  }
  if (!lpszBuffer || *lpdwBufferLength <= text.size()) {
    *lpdwBufferLength = DWORD(text.size() + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::memcpy(lpszBuffer, text.c_str(), text.size() + 1);
  *lpdwBufferLength = DWORD(text.size());
  return true;
}
