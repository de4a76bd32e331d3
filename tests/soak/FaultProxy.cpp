#include "tests/soak/FaultProxy.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace zvsoak {

TFaultProxy::TFaultProxy(int aUpstreamPort, const TFaultSettings& aSettings) {
  std::string first;
  FProcess = zvtest::StartFixture(
      "fault_proxy.py",
      {"--upstream", std::to_string(aUpstreamPort), "--seed", std::to_string(aSettings.Seed), "--rate",
       std::to_string(aSettings.Rate), "--stall", std::to_string(aSettings.StallSeconds), "--only", aSettings.Only,
       "--stats", FDir.File("stats.json")},
      first);
  if (first.rfind("PORT ", 0) != 0) throw std::runtime_error("fault proxy did not start: " + first);
  FPort = std::stoi(first.substr(5));
}

TFaultProxy::~TFaultProxy() = default;

std::string TFaultProxy::Url(const std::string& aPath) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + aPath;
}

std::map<std::string, int64_t> TFaultProxy::Counts() const {
  std::map<std::string, int64_t> counts;
  if (!std::filesystem::exists(FDir.File("stats.json"))) return counts;
  const nlohmann::json stats = nlohmann::json::parse(zvtest::ReadFile(FDir.File("stats.json")));
  for (const auto& [kind, count] : stats.items())
    counts[kind] = count.get<int64_t>();
  return counts;
}

std::string TFaultProxy::Summary() const {
  std::string text;
  int64_t total = 0;
  for (const auto& [kind, count] : Counts()) {
    if (kind == "exchanges" || kind == "bytes") continue;
    text += (text.empty() ? "" : ", ") + kind + " " + std::to_string(count);
    total += count;
  }
  return text + " (" + std::to_string(total) + " faults)";
}

}  // namespace zvsoak
