#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/support/TestSupport.h"

// The program carries the binder built alongside it and writes both files next to itself.
TEST(EmbeddedBinder, ProgramWritesTheBinderItCarriesIntoItsOwnFolder) {
  zvtest::TempDir dir;
  std::filesystem::copy_file(zvtest::BinDir() + "/ZentavoDownloader", dir.File("ZentavoDownloader"));
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  {
    zvtest::ChildProcess program({dir.File("ZentavoDownloader")});
    // Start-up writes the files before the window opens; the program then runs until stopped.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!(std::filesystem::exists(dir.File("FlvBind.exe")) && std::filesystem::exists(dir.File("FLVLib.dll"))) &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(std::filesystem::exists(dir.File("FlvBind.exe")));
  EXPECT_EQ(zvtest::ReadFile(dir.File("FlvBind.exe")), zvtest::ReadFile(zvtest::BinDir() + "/FlvBind.exe"));
  EXPECT_EQ(zvtest::ReadFile(dir.File("FLVLib.dll")), zvtest::ReadFile(zvtest::BinDir() + "/FLVLib.dll"));

  // The written binder runs from there with the library beside it (the loader would fail with 127):
  // without arguments it shows its usage and fails.
  zvtest::ChildProcess binder({dir.File("FlvBind.exe")});
  EXPECT_EQ(binder.Wait(), 255);
}
