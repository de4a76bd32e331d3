#include "platform/clInetProxy.h"

#include <vector>

#include "platform/clInetHeaders.h"

namespace {

std::vector<std::string_view> Entries(std::string_view aList) {
  std::vector<std::string_view> entries;
  while (!aList.empty()) {
    size_t end = aList.find_first_of(" ;\t");
    if (end != 0) entries.push_back(aList.substr(0, end));
    aList.remove_prefix(end == std::string_view::npos ? aList.size() : end + 1);
  }
  return entries;
}

// "http://host:port" or "host:port" -> "http://host:port"; socks entries keep their kind.
std::string ProxyUrl(std::string_view aScheme, std::string_view aValue) {
  size_t marker = aValue.find("://");
  if (marker != std::string_view::npos) aValue.remove_prefix(marker + 3);
  while (!aValue.empty() && aValue.back() == '/') aValue.remove_suffix(1);
  if (aValue.empty()) return "";
  return std::string(SameText(aScheme, "socks") ? "socks4://" : "http://") + std::string(aValue);
}

}  // namespace

std::string ProxyForScheme(std::string_view aList, std::string_view aScheme) {
  std::string common;
  for (std::string_view entry : Entries(aList)) {
    size_t equals = entry.find('=');
    if (equals == std::string_view::npos) {
      if (common.empty()) common = ProxyUrl("http", entry);
    } else if (SameText(entry.substr(0, equals), aScheme)) {
      return ProxyUrl(aScheme, entry.substr(equals + 1));
    } else if (SameText(entry.substr(0, equals), "socks") && common.empty()) {
      common = ProxyUrl("socks", entry.substr(equals + 1));
    }
  }
  return common;
}

std::string NoProxyList(std::string_view aBypass) {
  std::string list;
  for (std::string_view entry : Entries(aBypass)) {
    if (entry == "*") return "*";
    if (entry.substr(0, 2) == "*.") entry.remove_prefix(2);
    if (entry.find_first_of("*<>") != std::string_view::npos) continue;
    if (!list.empty()) list += ",";
    list += entry;
  }
  return list;
}
