#pragma once
// Errors of the network transport. Negative codes are the transport's own; positive codes keep the
// numbering of Windows Sockets (10035 would block, 10038 not a socket, 10053 aborted, ...) so that
// callers can tell a dropped connection from other failures the same way on every platform.
#include <cstdint>
#include <string>

#include "common/clErrors.h"

class EclSocketError : public EclError {
public:
  using EclError::EclError;
};

class EclTcpClientError : public EclSocketError {
public:
  using EclSocketError::EclSocketError;
};

// The transport's own codes.
constexpr int32_t clSocketTimeOutError = -1;
constexpr int32_t clInvalidHostAddressError = -2;
constexpr int32_t clInvalidPortError = -3;
constexpr int32_t clInvalidBatchSizeError = -4;
constexpr int32_t clNetworkStreamRequiredError = -5;
constexpr int32_t clConnectionNotActiveError = -6;
constexpr int32_t clInvalidAddressFamilyError = -7;

// System codes the transport and its callers act on.
constexpr int32_t clWouldBlock = 10035;
constexpr int32_t clNotASocket = 10038;
constexpr int32_t clAddressInUse = 10048;
constexpr int32_t clAccessDenied = 10013;
constexpr int32_t clConnectionAborted = 10053;
constexpr int32_t clInterrupted = 10004;

// Raises EclSocketError with one of the transport's own codes and its text.
[[noreturn]] void RaiseSocketError(int32_t aCode);
// Raises EclSocketError for an errno value, mapped to the system numbering, with the system's text.
[[noreturn]] void RaiseSystemSocketError(int aErrno);
// Raises EclSocketError for a getaddrinfo result code.
[[noreturn]] void RaiseLookupError(int aGaiCode, int aErrno);
// The system numbering of an errno value.
int32_t SocketErrorCode(int aErrno);
// The text of one of the transport's own codes.
std::string SocketErrorText(int32_t aCode);
// A programming error or broken invariant: raised as std::logic_error.
[[noreturn]] void RaiseAssertion(const std::string& aUnit);
