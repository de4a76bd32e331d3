#pragma once
// What the parts of the soak share: their options, the report of findings, a seeded random
// source, and serving the calling thread's events while a condition is awaited.
#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace zvsoak {

struct TSoakOptions {
  bool Long = false;  // the long form: 1 GiB, 100 stop/starts, 20 parts
  uint64_t Seed = 1;
};

// Findings of one part of the soak; a part passes when it has none.
class TFindings {
public:
  void Add(const std::string& aText);
  bool Empty() const { return FTexts.empty(); }
  size_t Count() const { return FTexts.size(); }

private:
  std::vector<std::string> FTexts;
};

using TRandom = std::mt19937_64;
// A whole number from aLow to aHigh, both included.
int64_t Pick(TRandom& aRandom, int64_t aLow, int64_t aHigh);

using TClock = std::chrono::steady_clock;
double SecondsSince(TClock::time_point aStart);

// Serves the calling thread's events (the engine's among them) until aDone answers true; false
// when aTimeoutMs passed first.
bool ServeUntil(const std::function<bool()>& aDone, int aTimeoutMs);

// The soaks, each reporting its figures on standard output.
void SoakEngine(const TSoakOptions& aOptions, TFindings& aFindings);
void SoakApplication(const TSoakOptions& aOptions, TFindings& aFindings);
void SoakFullDisk(const TSoakOptions& aOptions, TFindings& aFindings);
// The child side of SoakFullDisk, run in a process whose files may not grow past aLimit bytes.
int FullDiskChild(const std::string& aScenario, const std::string& aFolder, int64_t aLimit);

}  // namespace zvsoak
