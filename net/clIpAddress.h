#pragma once
// IP address objects and host name resolution.
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/clSocketWait.h"

// Address families as the transport numbers them (0 when no socket is open).
constexpr int32_t clAfUnspec = 0;
constexpr int32_t clAfInet = 2;
constexpr int32_t clAfInet6 = 23;

// The native family (AF_INET/AF_INET6) of one of the numbers above, or -1.
int NativeAddressFamily(int32_t aAddressFamily);

class TclIPAddress {
public:
  virtual ~TclIPAddress() = default;

  virtual bool GetIsIpV6() const = 0;
  virtual const sockaddr* GetAddress() const = 0;
  virtual int32_t GetAddressFamily() const = 0;
  virtual socklen_t GetAddressLength() const = 0;
  virtual int32_t GetPort() const = 0;
  virtual void Clear() = 0;
  virtual bool Parse(const std::string& aHost) = 0;
  virtual void None(int32_t aAddressFamily) = 0;
  virtual void Any(int32_t aAddressFamily) = 0;
  // Negative ports (and ports beyond 65535) raise -3 "Invalid port number".
  virtual void SetPort(int32_t aValue) = 0;
  virtual std::string ToString() const = 0;

  // The address written in aHost, or -2 "Invalid host address".
  static std::unique_ptr<TclIPAddress> CreateIpAddress(const std::string& aHost);
  // The all-zero address of IPv4 (2) or IPv6 (23); other families raise -7.
  static std::unique_ptr<TclIPAddress> CreateNone(int32_t aAddressFamily);
  static std::unique_ptr<TclIPAddress> CreateAny(int32_t aAddressFamily);
  // Whether the text is an IPv6 or IPv4 address.
  static bool IsHostIP(const std::string& aHost);
  // Text of a native socket address (IPv4 dotted, IPv6 in the transport's own form).
  static std::string AddressToString(const sockaddr* aAddress);
};

class TclIPAddress4 : public TclIPAddress {
public:
  TclIPAddress4();
  bool GetIsIpV6() const override { return false; }
  const sockaddr* GetAddress() const override { return reinterpret_cast<const sockaddr*>(&FSockAddr); }
  int32_t GetAddressFamily() const override { return clAfInet; }
  socklen_t GetAddressLength() const override { return sizeof FSockAddr; }
  int32_t GetPort() const override;
  void Clear() override;
  bool Parse(const std::string& aHost) override;
  void None(int32_t aAddressFamily) override;
  void Any(int32_t aAddressFamily) override;
  void SetPort(int32_t aValue) override;
  std::string ToString() const override;

  // Addresses of the private-use ranges 10/8, 172.16/12 and 192.168/16.
  static bool IsPrivateUseIP(const std::string& aHost);

private:
  sockaddr_in FSockAddr;
};

// An address read by the numeric address lookup: IPv6, or IPv4 written as such.
class TclIPAddress6 : public TclIPAddress {
public:
  TclIPAddress6();
  bool GetIsIpV6() const override;
  const sockaddr* GetAddress() const override { return reinterpret_cast<const sockaddr*>(&FAddr); }
  int32_t GetAddressFamily() const override;
  socklen_t GetAddressLength() const override { return FLength; }
  int32_t GetPort() const override;
  void Clear() override;
  bool Parse(const std::string& aHost) override;
  void None(int32_t aAddressFamily) override;
  void Any(int32_t aAddressFamily) override;
  void SetPort(int32_t aValue) override;
  std::string ToString() const override;

  // IPv6 text: eight upper-case hexadecimal groups; the first run of two or more zero groups is
  // written "::", later zero groups "0".
  static std::string FormatIpV6(const in6_addr& aAddress);

private:
  sockaddr_storage FAddr;
  socklen_t FLength = 0;
};

using TStrings = std::vector<std::string>;

// How a host name becomes addresses (AF_UNSPEC or AF_INET), in the lookup's order; raises
// EclSocketError when there are none. Runs on a lookup's helper thread.
using TclLookupFunction = std::function<std::vector<sockaddr_storage>(const std::string& aHostName, int aFamily)>;

// Host name resolution. Lookups run on a helper thread while the calling thread waits serving
// its messages, so a window stays responsive; Abort from another thread ends a running lookup.
class TclHostResolver {
public:
  TclHostResolver() = default;
  // Lookups that end as well when aAbortEvent is signalled and aIsAborted() is true: those of a
  // connection, which its own abort ends.
  TclHostResolver(TclWaitEvent& aAbortEvent, std::function<bool()> aIsAborted);
  virtual ~TclHostResolver() = default;
  // The address text for a host; an address text comes back unchanged, without a lookup.
  static std::string GetIPAddress(const std::string& aHostName);
  static void GetIPAddressList(const std::string& aHostName, TStrings& aList);
  // The local host name, empty on failure.
  static std::string GetLocalHost();
  // Puts aLookup in place of the system's lookup for every later lookup (none: the system's
  // again); returns the one it replaces. Lets tests hold a lookup that never ends by itself.
  static TclLookupFunction SetLookupFunction(TclLookupFunction aLookup);

  virtual std::string Resolve(const std::string& aHostName) = 0;
  virtual void ResolveList(const std::string& aHostName, TStrings& aList) = 0;
  void Abort();

protected:
  // The addresses of a host (AF_UNSPEC or AF_INET), in the lookup's order. aTimeOut (< 0: none)
  // counts from the last turn of the wait. An abort raises 10004; what the lookup raises, failure
  // or any other exception, is raised here, in the thread that waits for it.
  std::vector<sockaddr_storage> Lookup(const std::string& aHostName, int aFamily, int32_t aTimeOut);

private:
  bool IsAborted() const { return FIsAborted || (FOwnerIsAborted && FOwnerIsAborted()); }

  TclWaitEvent FAbortSignal;
  std::atomic<bool> FIsAborted{false};
  TclWaitEvent* FOwnerAbortEvent = nullptr;
  std::function<bool()> FOwnerIsAborted;
};

// Any family: the first IPv4 result, else the first result.
class TclHostResolver6 : public TclHostResolver {
public:
  using TclHostResolver::TclHostResolver;
  std::string Resolve(const std::string& aHostName) override;
  void ResolveList(const std::string& aHostName, TStrings& aList) override;
};

// IPv4 only, with a time-out of 5000 ms of silence by default.
class TclHostResolver4 : public TclHostResolver {
public:
  using TclHostResolver::TclHostResolver;
  std::string Resolve(const std::string& aHostName) override;
  void ResolveList(const std::string& aHostName, TStrings& aList) override;
  void SetTimeOut(int32_t aTimeOut) { FTimeOut = aTimeOut; }

private:
  int32_t FTimeOut = 5000;
};
