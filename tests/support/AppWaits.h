#pragma once
// Waits of the application's tests: the UI thread serves its events (the engine's among them)
// until a condition holds.
#include <chrono>

#include "app/AppPlatform.h"

namespace zvtest {

// Serves events until aDone answers true; false when aTimeoutMs passed first.
template <typename TDone>
bool ServeUntil(TAppPlatform& aPlatform, TDone aDone, int aTimeoutMs = 30000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
  while (!aDone()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    aPlatform.WaitForEvents(20);
  }
  return true;
}

}  // namespace zvtest
