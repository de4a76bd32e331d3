// The reliability soak: the engine, the whole application and a full disk under injected faults.
// Usage: soak [--long] [--seed N] [engine|app|disk ...]
// The short form (the default, run by ctest) takes well under two minutes; --long (or
// ZV_SOAK_LONG=1) fetches 1 GiB with 100 stop/starts and runs 20 parts. Exit status 0 when
// nothing was found; the seed is printed so that a run can be repeated.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

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

namespace {

// Ends this process's own children (fixture servers, binders), which no destructor will stop now.
void StopChildren() {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
    int parent = 0;
    char state = 0;
    if (std::sscanf(line.c_str() + line.rfind(')') + 1, " %c %d", &state, &parent) == 2 && parent == getpid())
      kill(std::stoi(line), SIGTERM);
  }
}

}  // namespace

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
  // Whatever hangs, the soak ends: a wait that never returns is reported and the process leaves.
  const int limit = options.Long ? 3 * 3600 : 140;
  std::thread([limit] {
    std::this_thread::sleep_for(std::chrono::seconds(limit));
    std::printf("FOUND: the soak hangs: still running after %d s\n", limit);
    std::fflush(stdout);
    StopChildren();
    std::_Exit(3);
  }).detach();
  TFindings findings;
  const std::pair<std::string, void (*)(const TSoakOptions&, TFindings&)> soaks[] = {
      {"engine", SoakEngine}, {"app", SoakApplication}, {"disk", SoakFullDisk}};
  for (const auto& [name, soak] : soaks) {
    if (!parts.count(name)) continue;
    try {
      soak(options, findings);
    } catch (const std::exception& e) {
      findings.Add(name + ": stopped by " + e.what());
    }
  }
  std::printf("soak: %s (seed %llu)\n", findings.Empty() ? "nothing found" : "FOUND FAULTS",
              static_cast<unsigned long long>(options.Seed));
  return findings.Empty() ? 0 : 1;
}
