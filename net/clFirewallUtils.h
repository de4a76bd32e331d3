#pragma once
// The SOCKS proxy a TCP client goes through; an empty Server means none.
#include <cstdint>
#include <string>

enum TclFirewallType { ftSocks4, ftSocks5 };

class TclFirewallSettings {
public:
  TclFirewallType FirewallType() const { return FFirewallType; }
  void SetFirewallType(TclFirewallType aValue) { FFirewallType = aValue; }
  const std::string& Server() const { return FServer; }
  void SetServer(const std::string& aValue) { FServer = aValue; }
  int32_t Port() const { return FPort; }
  void SetPort(int32_t aValue) { FPort = aValue; }
  const std::string& UserName() const { return FUserName; }
  void SetUserName(const std::string& aValue) { FUserName = aValue; }
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& aValue) { FPassword = aValue; }
  // True: the proxy resolves the target host name; false: it gets the locally resolved address.
  bool NeedResolveIP() const { return FNeedResolveIP; }
  void SetNeedResolveIP(bool aValue) { FNeedResolveIP = aValue; }

  void Assign(const TclFirewallSettings& aSource) { *this = aSource; }
  void Clear() { *this = TclFirewallSettings(); }

private:
  TclFirewallType FFirewallType = ftSocks4;
  std::string FServer;
  int32_t FPort = 1080;
  std::string FUserName;
  std::string FPassword;
  bool FNeedResolveIP = true;
};
