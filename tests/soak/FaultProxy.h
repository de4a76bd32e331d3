#pragma once
// tests/fixtures/fault_proxy.py seen from the soak: a reverse proxy on 127.0.0.1 in front of one
// server that injects faults from a seed, and the counts of what it injected.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "tests/support/TestSupport.h"

namespace zvsoak {

struct TFaultSettings {
  uint64_t Seed = 1;
  double Rate = 0.1;     // share of exchanges that get a fault
  double StallSeconds = 3;
  std::string Only;      // faults only for request paths holding this text (empty: all)
};

class TFaultProxy {
public:
  TFaultProxy(int aUpstreamPort, const TFaultSettings& aSettings);
  ~TFaultProxy();
  int Port() const { return FPort; }
  std::string Url(const std::string& aPath = "") const;
  // Injected faults per kind, plus "exchanges" and "bytes" passed on.
  std::map<std::string, int64_t> Counts() const;
  // The counts as one line: "drop 3, reset 1, ..." (exchanges and bytes left out).
  std::string Summary() const;

private:
  zvtest::TempDir FDir;
  std::unique_ptr<zvtest::ChildProcess> FProcess;
  int FPort = 0;
};

}  // namespace zvsoak
