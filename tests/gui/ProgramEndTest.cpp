#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

#include "tests/support/TestSupport.h"

// Told to terminate, the program closes its window through the close request and exits cleanly.
TEST(ProgramEnd, TerminationSignalEndsTheProgramCleanly) {
  zvtest::TempDir dir;
  std::filesystem::copy_file(zvtest::BinDir() + "/ZentavoDownloader", dir.File("ZentavoDownloader"));
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  zvtest::ChildProcess program({dir.File("ZentavoDownloader")});
  // The binder files are written during start-up, just before the window opens.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!std::filesystem::exists(dir.File("FLVLib.dll")) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  kill(program.Pid(), SIGTERM);
  auto exit = std::async(std::launch::async, [&] { return program.Wait(); });
  if (exit.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    kill(program.Pid(), SIGKILL);
    ADD_FAILURE() << "the program did not end within 10 s";
  }
  EXPECT_EQ(exit.get(), 0);
}
