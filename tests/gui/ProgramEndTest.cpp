#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <future>
#include <thread>

#include "tests/gui/ProgramCopy.h"

// Told to terminate, the program closes its window through the close request and exits cleanly.
TEST(ProgramEnd, TerminationSignalEndsTheProgramCleanly) {
  zvtest::TempDir dir;
  auto program = zvtest::StartProgramCopy(dir);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // into the event loop

  kill(program->Pid(), SIGTERM);
  auto exit = std::async(std::launch::async, [&] { return program->Wait(); });
  if (exit.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    kill(program->Pid(), SIGKILL);
    ADD_FAILURE() << "the program did not end within 10 s";
  }
  EXPECT_EQ(exit.get(), 0);
}
