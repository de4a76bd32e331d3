#include "cli/RateMeter.h"

void TRateMeter::Sample(int64_t aBytes, TClock::time_point aTime) {
  if (!FSamples.empty() && aBytes < FSamples.back().second) FSamples.clear();
  FSamples.emplace_back(aTime, aBytes);
  // One sample older than the window stays, so the window is always spanned.
  while (FSamples.size() > 2 && aTime - FSamples[1].first >= FWindow) FSamples.pop_front();
}

double TRateMeter::Rate() const {
  if (FSamples.size() < 2) return 0;
  auto elapsed = std::chrono::duration<double>(FSamples.back().first - FSamples.front().first).count();
  if (elapsed <= 0) return 0;
  return double(FSamples.back().second - FSamples.front().second) / elapsed;
}
