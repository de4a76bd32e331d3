#pragma once
// The platform internet client the download engine runs on: the calls of the desktop platform's
// internet library that the engine makes, with the arguments it passes and the results it relies
// on, implemented over libcurl.
//
// Handles form a tree: a root handle (InternetOpenA), server connections under it
// (InternetConnectA) and requests under those (HttpOpenRequestA). Every call may block; closing a
// handle from any other thread aborts at once every call pending on it or on its children (the
// aborted call fails with ERROR_INTERNET_OPERATION_CANCELLED); closing a handle closes the handles
// under it, and later calls on a closed handle fail with ERROR_INVALID_HANDLE. Failures answer
// false / nullptr / INVALID_SET_FILE_POINTER and leave the error number for GetLastError on the
// calling thread.
//
// Redirections are followed here, with the request's own header lines. Connections are kept
// alive for the next requests under the same root handle. The layer has no time-outs of its own:
// callers time a call out by closing its handle.
#include <cstdint>
#include <string>

using DWORD = uint32_t;
using DWORD_PTR = uintptr_t;
using INTERNET_PORT = uint16_t;
using HINTERNET = struct TclInternetHandle*;

// Access types (InternetOpenA).
inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;

// Services (InternetConnectA).
inline constexpr DWORD INTERNET_SERVICE_FTP = 1;
inline constexpr DWORD INTERNET_SERVICE_HTTP = 3;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;

// Request flags (HttpOpenRequestA).
inline constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr DWORD INTERNET_FLAG_KEEP_CONNECTION = 0x00400000;
inline constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;
inline constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;
inline constexpr DWORD INTERNET_FLAG_PASSIVE = 0x08000000;

// HttpAddRequestHeadersA modifiers.
inline constexpr DWORD HTTP_ADDREQ_FLAG_ADD_IF_NEW = 0x10000000;
inline constexpr DWORD HTTP_ADDREQ_FLAG_ADD = 0x20000000;
inline constexpr DWORD HTTP_ADDREQ_FLAG_REPLACE = 0x80000000;
inline constexpr DWORD HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA = 0x40000000;
inline constexpr DWORD HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON = 0x01000000;

// HttpQueryInfoA levels.
inline constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
inline constexpr DWORD HTTP_QUERY_STATUS_TEXT = 20;
inline constexpr DWORD HTTP_QUERY_RAW_HEADERS_CRLF = 22;
inline constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;

// InternetSetFilePointer.
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;

// Options (InternetQueryOptionA / InternetSetOptionA).
inline constexpr DWORD INTERNET_OPTION_USERNAME = 28;
inline constexpr DWORD INTERNET_OPTION_PASSWORD = 29;
inline constexpr DWORD INTERNET_OPTION_SECURITY_FLAGS = 31;   // DWORD
inline constexpr DWORD INTERNET_OPTION_PROXY_USERNAME = 43;
inline constexpr DWORD INTERNET_OPTION_PROXY_PASSWORD = 44;
inline constexpr DWORD INTERNET_OPTION_HTTP_DECODING = 65;    // BOOL as DWORD
// Process-wide (any handle or none); kept and answered, while every request has a connection of
// its own whatever the number.
inline constexpr DWORD INTERNET_OPTION_MAX_CONNS_PER_SERVER = 73;
inline constexpr DWORD INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER = 74;
inline constexpr DWORD INTERNET_OPTION_CLIENT_CERT_CONTEXT = 84;  // TclClientCertificate

// Security flags: server-certificate faults a request ignores. Each fault of the chain fails the
// send with its own number (date 12037, authority 12045, usage 12055, revocation check 12057) and
// a wrong host name with 12038; the certificate authorities trusted are the system's, or the file
// and folder that SSL_CERT_FILE and SSL_CERT_DIR name.
inline constexpr DWORD SECURITY_FLAG_IGNORE_REVOCATION = 0x00000080;
inline constexpr DWORD SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x00000100;
inline constexpr DWORD SECURITY_FLAG_IGNORE_WRONG_USAGE = 0x00000200;
inline constexpr DWORD SECURITY_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
inline constexpr DWORD SECURITY_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;

// Error numbers.
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INTERNET_OUT_OF_HANDLES = 12001;
inline constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr DWORD ERROR_INTERNET_EXTENDED_ERROR = 12003;
inline constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
inline constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr DWORD ERROR_INTERNET_INVALID_OPTION = 12009;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
inline constexpr DWORD ERROR_INTERNET_INVALID_OPERATION = 12016;
inline constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
inline constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr DWORD ERROR_INTERNET_FORCE_RETRY = 12032;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
inline constexpr DWORD ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED = 12044;
inline constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_ERRORS = 12055;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_REV_FAILED = 12057;
inline constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;
inline constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr DWORD ERROR_HTTP_INVALID_QUERY_REQUEST = 12154;
inline constexpr DWORD ERROR_HTTP_HEADER_ALREADY_EXISTS = 12155;
inline constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;
inline constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
inline constexpr DWORD ERROR_INTERNET_SEC_INVALID_CERT = 12169;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_REVOKED = 12170;
inline constexpr DWORD ERROR_INTERNET_DECODING_FAILED = 12175;

// A client certificate given with INTERNET_OPTION_CLIENT_CERT_CONTEXT: PEM files.
struct TclClientCertificate {
  std::string CertificateFile;
  std::string KeyFile;
  std::string KeyPassword;
};

HINTERNET InternetOpenA(const char* lpszAgent, DWORD dwAccessType, const char* lpszProxy,
                        const char* lpszProxyBypass, DWORD dwFlags);
HINTERNET InternetConnectA(HINTERNET hInternet, const char* lpszServerName, INTERNET_PORT nServerPort,
                           const char* lpszUserName, const char* lpszPassword, DWORD dwService,
                           DWORD dwFlags, DWORD_PTR dwContext);
// lpszObjectName is the path with its query; the scheme is https when dwFlags has
// INTERNET_FLAG_SECURE. Redirections are followed unless INTERNET_FLAG_NO_AUTO_REDIRECT.
HINTERNET HttpOpenRequestA(HINTERNET hConnect, const char* lpszVerb, const char* lpszObjectName,
                           const char* lpszVersion, const char* lpszReferrer,
                           const char** lplpszAcceptTypes, DWORD dwFlags, DWORD_PTR dwContext);
// dwHeadersLength may be (DWORD)-1 for a NUL-terminated text of CR LF separated lines.
bool HttpAddRequestHeadersA(HINTERNET hRequest, const char* lpszHeaders, DWORD dwHeadersLength,
                            DWORD dwModifiers);
// Sends the request and reads the reply's header block; the body is then read with
// InternetReadFile. Sending again on the same handle starts a new exchange.
bool HttpSendRequestA(HINTERNET hRequest, const char* lpszHeaders, DWORD dwHeadersLength,
                      const void* lpOptional, DWORD dwOptionalLength);
// Two-call size protocol: a too small buffer fails with ERROR_INSUFFICIENT_BUFFER and sets
// *lpdwBufferLength to the size needed (text levels: including the terminating NUL).
bool HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, void* lpBuffer, DWORD* lpdwBufferLength,
                    DWORD* lpdwIndex);
// Blocks until up to dwNumberOfBytesToRead body bytes are there, or the body has ended
// (*lpdwNumberOfBytesRead = 0).
bool InternetReadFile(HINTERNET hFile, void* lpBuffer, DWORD dwNumberOfBytesToRead,
                      DWORD* lpdwNumberOfBytesRead);
// Answered from the reply: FILE_END succeeds when the length is known and ranges are accepted.
DWORD InternetSetFilePointer(HINTERNET hFile, int32_t lDistanceToMove, int32_t* lpDistanceToMoveHigh,
                             DWORD dwMoveMethod, DWORD_PTR dwContext);
bool InternetQueryOptionA(HINTERNET hInternet, DWORD dwOption, void* lpBuffer, DWORD* lpdwBufferLength);
bool InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, const void* lpBuffer, DWORD dwBufferLength);
// Safe from any thread, also while another thread is inside a call on this handle or a child.
bool InternetCloseHandle(HINTERNET hInternet);
// The server's last response text on this thread (two-call size protocol).
bool InternetGetLastResponseInfoA(DWORD* lpdwError, char* lpszBuffer, DWORD* lpdwBufferLength);

DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
// The message table of the internet client and the system: the text of an error number, or an
// empty string when there is none.
std::string FormatInternetMessage(DWORD dwMessageId);
