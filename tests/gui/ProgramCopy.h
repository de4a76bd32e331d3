#pragma once
// A copy of the built program started in a folder of its own, without a display.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "tests/support/TestSupport.h"

namespace zvtest {

// Starts the copy and returns once its start-up has written both binder files (or after a minute
// without them), just before its window opens.
inline std::unique_ptr<ChildProcess> StartProgramCopy(const TempDir& aDir) {
  std::filesystem::copy_file(BinDir() + "/ZentavoDownloader", aDir.File("ZentavoDownloader"));
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  auto program = std::make_unique<ChildProcess>(std::vector<std::string>{aDir.File("ZentavoDownloader")});
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!(std::filesystem::exists(aDir.File("FlvBind.exe")) && std::filesystem::exists(aDir.File("FLVLib.dll"))) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return program;
}

}  // namespace zvtest
