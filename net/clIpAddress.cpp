#include "net/clIpAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

#include "net/clSocketErrors.h"
#include "net/clSocketWait.h"

int NativeAddressFamily(int32_t aAddressFamily) {
  switch (aAddressFamily) {
    case clAfInet: return AF_INET;
    case clAfInet6: return AF_INET6;
    default: return -1;
  }
}

namespace {

void CheckPort(int32_t aValue) {
  if (aValue < 0 || aValue > 65535) RaiseSocketError(clInvalidPortError);
}

std::string FormatIpV4(const in_addr& aAddress) {
  const auto* b = reinterpret_cast<const unsigned char*>(&aAddress);
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  return text;
}

struct TclAddrInfoDeleter {
  void operator()(addrinfo* aInfo) const { freeaddrinfo(aInfo); }
};
using TclAddrInfo = std::unique_ptr<addrinfo, TclAddrInfoDeleter>;

}  // namespace

// TclIPAddress

std::unique_ptr<TclIPAddress> TclIPAddress::CreateIpAddress(const std::string& aHost) {
  auto v6 = std::make_unique<TclIPAddress6>();
  if (v6->Parse(aHost)) return v6;
  auto v4 = std::make_unique<TclIPAddress4>();
  if (v4->Parse(aHost)) return v4;
  RaiseSocketError(clInvalidHostAddressError);
}

std::unique_ptr<TclIPAddress> TclIPAddress::CreateNone(int32_t aAddressFamily) {
  auto result = std::make_unique<TclIPAddress6>();
  result->None(aAddressFamily);
  return result;
}

std::unique_ptr<TclIPAddress> TclIPAddress::CreateAny(int32_t aAddressFamily) {
  auto result = std::make_unique<TclIPAddress6>();
  result->Any(aAddressFamily);
  return result;
}

bool TclIPAddress::IsHostIP(const std::string& aHost) {
  if (aHost.empty()) return false;
  return TclIPAddress6().Parse(aHost) || TclIPAddress4().Parse(aHost);
}

std::string TclIPAddress::AddressToString(const sockaddr* aAddress) {
  if (aAddress->sa_family == AF_INET) return FormatIpV4(reinterpret_cast<const sockaddr_in*>(aAddress)->sin_addr);
  if (aAddress->sa_family == AF_INET6)
    return TclIPAddress6::FormatIpV6(reinterpret_cast<const sockaddr_in6*>(aAddress)->sin6_addr);
  return "";
}

// TclIPAddress4

TclIPAddress4::TclIPAddress4() { Clear(); }

int32_t TclIPAddress4::GetPort() const { return ntohs(FSockAddr.sin_port); }

void TclIPAddress4::Clear() {
  std::memset(&FSockAddr, 0, sizeof FSockAddr);
  FSockAddr.sin_family = AF_INET;
}

bool TclIPAddress4::Parse(const std::string& aHost) {
  in_addr addr;
  if (aHost.empty() || inet_pton(AF_INET, aHost.c_str(), &addr) != 1) return false;
  Clear();
  FSockAddr.sin_addr = addr;
  return true;
}

void TclIPAddress4::None(int32_t aAddressFamily) {
  if (aAddressFamily != clAfInet) RaiseSocketError(clInvalidAddressFamilyError);
  Clear();
}

void TclIPAddress4::Any(int32_t aAddressFamily) { None(aAddressFamily); }

void TclIPAddress4::SetPort(int32_t aValue) {
  CheckPort(aValue);
  FSockAddr.sin_port = htons(static_cast<uint16_t>(aValue));
}

std::string TclIPAddress4::ToString() const { return FormatIpV4(FSockAddr.sin_addr); }

bool TclIPAddress4::IsPrivateUseIP(const std::string& aHost) {
  if (aHost.rfind("192.168.", 0) == 0 || aHost.rfind("10.", 0) == 0) return true;
  if (aHost.rfind("172.", 0) != 0) return false;
  int second = 0;
  size_t i = 4;
  for (; i < aHost.size() && i < 7 && aHost[i] >= '0' && aHost[i] <= '9'; ++i) second = second * 10 + (aHost[i] - '0');
  return i > 4 && i < aHost.size() && aHost[i] == '.' && second >= 16 && second <= 31;
}

// TclIPAddress6

TclIPAddress6::TclIPAddress6() { Clear(); }

bool TclIPAddress6::GetIsIpV6() const { return FAddr.ss_family == AF_INET6; }

int32_t TclIPAddress6::GetAddressFamily() const {
  if (FAddr.ss_family == AF_INET6) return clAfInet6;
  if (FAddr.ss_family == AF_INET) return clAfInet;
  return clAfUnspec;
}

int32_t TclIPAddress6::GetPort() const {
  if (FAddr.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&FAddr)->sin6_port);
  if (FAddr.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&FAddr)->sin_port);
  return 0;
}

void TclIPAddress6::Clear() {
  std::memset(&FAddr, 0, sizeof FAddr);
  FLength = 0;
}

bool TclIPAddress6::Parse(const std::string& aHost) {
  if (aHost.empty()) return false;
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(aHost.c_str(), nullptr, &hints, &result) != 0) return false;
  TclAddrInfo owner(result);
  if (result->ai_addrlen > sizeof FAddr) return false;
  Clear();
  std::memcpy(&FAddr, result->ai_addr, result->ai_addrlen);
  FLength = result->ai_addrlen;
  return true;
}

void TclIPAddress6::None(int32_t aAddressFamily) {
  Clear();
  if (aAddressFamily == clAfInet) {
    FAddr.ss_family = AF_INET;
    FLength = sizeof(sockaddr_in);
  } else if (aAddressFamily == clAfInet6) {
    FAddr.ss_family = AF_INET6;
    FLength = sizeof(sockaddr_in6);
  } else {
    RaiseSocketError(clInvalidAddressFamilyError);
  }
}

void TclIPAddress6::Any(int32_t aAddressFamily) { None(aAddressFamily); }

void TclIPAddress6::SetPort(int32_t aValue) {
  CheckPort(aValue);
  uint16_t port = htons(static_cast<uint16_t>(aValue));
  if (FAddr.ss_family == AF_INET6)
    reinterpret_cast<sockaddr_in6*>(&FAddr)->sin6_port = port;
  else if (FAddr.ss_family == AF_INET)
    reinterpret_cast<sockaddr_in*>(&FAddr)->sin_port = port;
  else
    RaiseSocketError(clInvalidHostAddressError);
}

std::string TclIPAddress6::ToString() const {
  if (FLength == 0) return "";
  return AddressToString(reinterpret_cast<const sockaddr*>(&FAddr));
}

std::string TclIPAddress6::FormatIpV6(const in6_addr& aAddress) {
  uint16_t groups[8];
  for (int i = 0; i < 8; ++i) groups[i] = static_cast<uint16_t>(aAddress.s6_addr[2 * i] << 8 | aAddress.s6_addr[2 * i + 1]);
  // Only the first run of zero groups is shortened, and only when it is two or more groups long.
  int runStart = -1, runLength = 0;
  for (int i = 0; i < 8; ++i) {
    if (groups[i] != 0) continue;
    int j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i >= 2) {
      runStart = i;
      runLength = j - i;
    }
    break;
  }
  std::string text;
  char group[8];
  for (int i = 0; i < 8; ++i) {
    if (i == runStart) {
      text += "::";
      i += runLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    std::snprintf(group, sizeof group, "%X", groups[i]);
    text += group;
  }
  return text;
}

// TclHostResolver

namespace {

// What a lookup thread hands back; shared so an abandoned lookup can finish on its own.
struct TclLookupState {
  std::mutex Lock;
  std::vector<sockaddr_storage> Addresses;
  std::exception_ptr Failure;
  TclWaitEvent Completed;
};

std::vector<sockaddr_storage> SystemLookup(const std::string& aHostName, int aFamily) {
  addrinfo hints{};
  hints.ai_family = aFamily;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  int rc = getaddrinfo(aHostName.c_str(), nullptr, &hints, &result);
  if (rc != 0) RaiseLookupError(rc, errno);
  std::vector<sockaddr_storage> found;
  for (addrinfo* p = result; p; p = p->ai_next) {
    if ((p->ai_family != AF_INET && p->ai_family != AF_INET6) || p->ai_addrlen > sizeof(sockaddr_storage)) continue;
    sockaddr_storage address{};
    std::memcpy(&address, p->ai_addr, p->ai_addrlen);
    found.push_back(address);
  }
  freeaddrinfo(result);
  if (found.empty()) RaiseLookupError(EAI_NONAME, 0);
  return found;
}

std::mutex gLookupFunctionLock;
TclLookupFunction gLookupFunction;  // none: SystemLookup

TclLookupFunction CurrentLookupFunction() {
  std::lock_guard<std::mutex> guard(gLookupFunctionLock);
  return gLookupFunction ? gLookupFunction : SystemLookup;
}

std::string AddressText(const sockaddr_storage& aAddress) {
  return TclIPAddress::AddressToString(reinterpret_cast<const sockaddr*>(&aAddress));
}

}  // namespace

TclHostResolver::TclHostResolver(TclWaitEvent& aAbortEvent, std::function<bool()> aIsAborted)
    : FOwnerAbortEvent(&aAbortEvent), FOwnerIsAborted(std::move(aIsAborted)) {}

std::string TclHostResolver::GetIPAddress(const std::string& aHostName) {
  return TclHostResolver6().Resolve(aHostName);
}

void TclHostResolver::GetIPAddressList(const std::string& aHostName, TStrings& aList) {
  TclHostResolver6().ResolveList(aHostName, aList);
}

std::string TclHostResolver::GetLocalHost() {
  char name[257] = {};
  if (gethostname(name, 256) != 0) return "";
  return name;
}

TclLookupFunction TclHostResolver::SetLookupFunction(TclLookupFunction aLookup) {
  std::lock_guard<std::mutex> guard(gLookupFunctionLock);
  std::swap(gLookupFunction, aLookup);
  return aLookup;
}

void TclHostResolver::Abort() {
  FIsAborted = true;
  FAbortSignal.Signal();
}

std::vector<sockaddr_storage> TclHostResolver::Lookup(const std::string& aHostName, int aFamily, int32_t aTimeOut) {
  // An owner's abort counts from the start of its own attempt; a bare resolver's from this lookup.
  if (!FOwnerAbortEvent) {
    FIsAborted = false;
    FAbortSignal.Reset();
  }
  TclWaitEvent& abortEvent = FOwnerAbortEvent ? *FOwnerAbortEvent : FAbortSignal;
  auto state = std::make_shared<TclLookupState>();
  if (IsAborted()) RaiseSystemSocketError(EINTR);
  std::thread([state, aHostName, aFamily, lookup = CurrentLookupFunction()] {
    std::vector<sockaddr_storage> found;
    std::exception_ptr failure;
    try {
      found = lookup(aHostName, aFamily);
    } catch (...) {
      failure = std::current_exception();
    }
    // Handed over whole: a failure's only owner is then the thread that rethrows it.
    std::lock_guard<std::mutex> guard(state->Lock);
    state->Addresses = std::move(found);
    state->Failure = std::move(failure);
    state->Completed.Signal();
  }).detach();
  for (;;) {
    // The time-out period restarts on every turn: a thread busy with its messages is not a lookup failure.
    short ready = SocketWait(state->Completed.Handle(), POLLIN, &abortEvent, GetTickCount64(), aTimeOut);
    if (IsAborted()) RaiseSystemSocketError(EINTR);
    if (ready) break;
    // A signal without the flag is left from an abort the owner has since cleared; the flag is
    // checked again before the next wait, so an abort landing now is not lost.
    abortEvent.Reset();
    if (IsAborted()) RaiseSystemSocketError(EINTR);
  }
  std::exception_ptr failure;
  std::vector<sockaddr_storage> found;
  {
    std::lock_guard<std::mutex> guard(state->Lock);
    failure = std::move(state->Failure);
    found = std::move(state->Addresses);
  }
  if (failure) std::rethrow_exception(failure);
  if (found.empty()) RaiseLookupError(EAI_NONAME, 0);
  return found;
}

std::string TclHostResolver6::Resolve(const std::string& aHostName) {
  if (TclIPAddress::IsHostIP(aHostName)) return aHostName;
  std::vector<sockaddr_storage> found = Lookup(aHostName, AF_UNSPEC, -1);
  for (const auto& a : found)
    if (a.ss_family == AF_INET) return AddressText(a);
  return AddressText(found.front());
}

void TclHostResolver6::ResolveList(const std::string& aHostName, TStrings& aList) {
  if (TclIPAddress::IsHostIP(aHostName)) {
    aList.push_back(aHostName);
    return;
  }
  for (const auto& a : Lookup(aHostName, AF_UNSPEC, -1)) aList.push_back(AddressText(a));
}

std::string TclHostResolver4::Resolve(const std::string& aHostName) {
  if (TclIPAddress::IsHostIP(aHostName)) return aHostName;
  return AddressText(Lookup(aHostName, AF_INET, FTimeOut).front());
}

void TclHostResolver4::ResolveList(const std::string& aHostName, TStrings& aList) {
  if (TclIPAddress::IsHostIP(aHostName)) {
    aList.push_back(aHostName);
    return;
  }
  for (const auto& a : Lookup(aHostName, AF_INET, FTimeOut)) aList.push_back(AddressText(a));
}
