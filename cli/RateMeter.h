#pragma once
// Bytes per second over the last few seconds, from a growing byte count sampled now and then.
#include <chrono>
#include <cstdint>
#include <deque>
#include <utility>

class TRateMeter {
public:
  using TClock = std::chrono::steady_clock;
  explicit TRateMeter(std::chrono::milliseconds aWindow = std::chrono::seconds(3)) : FWindow(aWindow) {}

  // The count at aTime; a count that went down (nothing should) starts the measure afresh.
  void Sample(int64_t aBytes, TClock::time_point aTime = TClock::now());
  // Bytes per second between the oldest sample of the window and the newest; 0 before two samples.
  double Rate() const;

private:
  std::chrono::milliseconds FWindow;
  std::deque<std::pair<TClock::time_point, int64_t>> FSamples;
};
