// The reliability soak: the engine, the whole application and a full disk under injected faults.
// Usage: soak [--long] [--seed N] [engine|app|disk ...]
// The short form (the default, run by ctest) takes well under two minutes; --long (or
// ZV_SOAK_LONG=1) fetches 1 GiB with 100 stop/starts and runs 20 parts. Exit status 0 when
// nothing was found; the seed is printed so that a run can be repeated.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <set>
#include <string>

#include "net/clSocketWait.h"
#include "tests/soak/Soak.h"

namespace zvsoak {

void TFindings::Add(const std::string& aText) {
  std::printf("FOUND: %s\n", aText.c_str());
  std::fflush(stdout);
  FTexts.push_back(aText);
}

int64_t Pick(TRandom& aRandom, int64_t aLow, int64_t aHigh) {
  return std::uniform_int_distribution<int64_t>(aLow, aHigh)(aRandom);
}

double SecondsSince(TClock::time_point aStart) {
  return std::chrono::duration<double>(TClock::now() - aStart).count();
}

bool ServeUntil(const std::function<bool()>& aDone, int aTimeoutMs) {
  const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(aTimeoutMs);
  while (!aDone()) {
    if (TClock::now() > deadline) return false;
    ServedPause(5, nullptr);
  }
  return true;
}

}  // namespace zvsoak

int main(int argc, char** argv) {
  using namespace zvsoak;
  if (argc == 5 && std::string(argv[1]) == "--full-disk-child")
    return FullDiskChild(argv[2], argv[3], std::atoll(argv[4]));
  TSoakOptions options;
  options.Seed = uint64_t(std::time(nullptr));
  const char* envLong = std::getenv("ZV_SOAK_LONG");
  options.Long = envLong && std::string(envLong) == "1";
  std::set<std::string> parts;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--long")
      options.Long = true;
    else if (arg == "--seed" && i + 1 < argc)
      options.Seed = std::strtoull(argv[++i], nullptr, 10);
    else if (arg == "engine" || arg == "app" || arg == "disk")
      parts.insert(arg);
    else {
      std::fprintf(stderr, "usage: soak [--long] [--seed N] [engine|app|disk ...]\n");
      return 2;
    }
  }
  if (parts.empty()) parts = {"engine", "app", "disk"};
  std::printf("soak: %s form, seed %llu (repeat with --seed %llu)\n", options.Long ? "long" : "short",
              static_cast<unsigned long long>(options.Seed), static_cast<unsigned long long>(options.Seed));
  std::fflush(stdout);
  TFindings findings;
  if (parts.count("engine")) SoakEngine(options, findings);
  if (parts.count("app")) SoakApplication(options, findings);
  if (parts.count("disk")) SoakFullDisk(options, findings);
  std::printf("soak: %s (seed %llu)\n", findings.Empty() ? "nothing found" : "FOUND FAULTS",
              static_cast<unsigned long long>(options.Seed));
  return findings.Empty() ? 0 : 1;
}
