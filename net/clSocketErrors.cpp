#include "net/clSocketErrors.h"

#include <netdb.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

struct TclErrnoCode {
  int Errno;
  int32_t Code;
};

// errno values and their Windows Sockets numbers.
constexpr TclErrnoCode cErrnoCodes[] = {
    {EINTR, 10004},        {EBADF, 10038},         {EACCES, 10013},       {EPERM, 10013},
    {EFAULT, 10014},       {EINVAL, 10022},        {EMFILE, 10024},       {EWOULDBLOCK, 10035},
    {EINPROGRESS, 10035},  {EALREADY, 10037},      {ENOTSOCK, 10038},     {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},     {EPROTOTYPE, 10041},    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
    {EOPNOTSUPP, 10045},   {EAFNOSUPPORT, 10047},  {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},     {ENETUNREACH, 10051},   {ENETRESET, 10052},    {ECONNABORTED, 10053},
    // A send or receive on a connection the peer has already closed.
    {EPIPE, 10053},        {ECONNRESET, 10054},    {ENOBUFS, 10055},      {EISCONN, 10056},
    {ENOTCONN, 10057},     {ESHUTDOWN, 10058},     {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},
    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},
};

std::string Trimmed(std::string aText) {
  while (!aText.empty() && (aText.back() == ' ' || aText.back() == '\n' || aText.back() == '\r' || aText.back() == '.'))
    aText.pop_back();
  if (aText.size() > 256) aText.resize(256);
  return aText;
}

}  // namespace

int32_t SocketErrorCode(int aErrno) {
  for (const auto& e : cErrnoCodes)
    if (e.Errno == aErrno) return e.Code;
  return aErrno;
}

std::string SocketErrorText(int32_t aCode) {
  switch (aCode) {
    case clSocketTimeOutError: return "Timeout error occured";
    case clInvalidHostAddressError: return "Invalid host address";
    case clInvalidPortError: return "Invalid port number";
    case clInvalidBatchSizeError: return "Invalid Batch Size";
    case clNetworkStreamRequiredError: return "NetworkStream is required";
    case clConnectionNotActiveError: return "The connection to the server is not active";
    case clInvalidAddressFamilyError: return "Invalid address family";
    default: return "";
  }
}

void RaiseSocketError(int32_t aCode) {
  throw EclSocketError(SocketErrorText(aCode), aCode);
}

void RaiseSystemSocketError(int aErrno) { throw EclSocketError(Trimmed(std::strerror(aErrno)), SocketErrorCode(aErrno)); }

void RaiseLookupError(int aGaiCode, int aErrno) {
  switch (aGaiCode) {
    case EAI_SYSTEM: RaiseSystemSocketError(aErrno);
    case EAI_AGAIN: throw EclSocketError(Trimmed(gai_strerror(aGaiCode)), 11002);
    case EAI_FAIL: throw EclSocketError(Trimmed(gai_strerror(aGaiCode)), 11003);
#ifdef EAI_NODATA
    case EAI_NODATA: throw EclSocketError(Trimmed(gai_strerror(aGaiCode)), 11004);
#endif
    case EAI_FAMILY: throw EclSocketError(Trimmed(gai_strerror(aGaiCode)), 10047);
    case EAI_MEMORY: throw EclSocketError(Trimmed(gai_strerror(aGaiCode)), 8);
    default: throw EclSocketError(Trimmed(gai_strerror(aGaiCode)), 11001);  // host not found
  }
}

void RaiseAssertion(const std::string& aUnit) { throw std::logic_error("Assertion failure (" + aUnit + ")"); }
