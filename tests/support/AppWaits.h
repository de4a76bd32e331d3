#pragma once
// Waits and checks of the application's tests: the UI thread serves its events (the engine's among
// them) until a condition holds; the close request, timed; the working files a folder keeps.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/AppPlatform.h"
#include "app/DownloadNames.h"
#include "app/MainForm.h"

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

// Runs the window's close request; whether the window may close. How long it took goes to aTook.
inline bool RunClose(TForm1& aForm, std::chrono::steady_clock::duration* aTook = nullptr) {
  bool canClose = true;
  const auto started = std::chrono::steady_clock::now();
  aForm.FormCloseQuery(&aForm, canClose);
  if (aTook) *aTook = std::chrono::steady_clock::now() - started;
  return canClose;
}

// The working files left in a folder, at any depth.
inline std::vector<std::string> WorkingFiles(const std::string& aFolder) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(aFolder))
    if (entry.path().extension() == kWorkingExtension) found.push_back(entry.path().string());
  return found;
}

}  // namespace zvtest
