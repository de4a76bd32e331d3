#include "app/SiteSettings.h"

#include <cstdlib>

std::string TSiteSettings::PageAddress(const std::string& aAddress) const {
  if (PageHost.empty()) return aAddress;
  size_t scheme = aAddress.find("://");
  size_t host = scheme == std::string::npos ? 0 : scheme + 3;
  // Addresses already on the stand-in stay as they are.
  if (aAddress.compare(0, PageHost.size(), PageHost) == 0) return aAddress;
  return PageHost + "/" + aAddress.substr(host);
}

TSiteSettings TSiteSettings::FromEnvironment() {
  TSiteSettings settings;
  const char* base = std::getenv("ZENTAVO_SITE");
  if (base == nullptr || *base == '\0') return settings;
  std::string host(base);
  while (!host.empty() && host.back() == '/') host.pop_back();
  settings.InterfaceHost = settings.ApiHost = settings.PageHost = host;
  return settings;
}
