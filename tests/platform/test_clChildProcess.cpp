// Children started, watched, terminated and reaped by their process descriptors; lists of them
// that answer only for their own.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/clChildProcess.h"
#include "tests/support/TestSupport.h"

using namespace zvtest;

namespace {

// The child is gone for good: no process, not even one waiting to be reaped, has its number.
bool Reaped(pid_t aPid) { return waitpid(aPid, nullptr, WNOHANG) < 0 && errno == ECHILD && kill(aPid, 0) < 0; }

bool EndsWithin(TclChildProcess& aChild, int aMs) {
  pollfd handle{aChild.Handle(), POLLIN, 0};
  return poll(&handle, 1, aMs) == 1;
}

}  // namespace

TEST(ChildProcess, PassesEachArgumentAsItIsAndReportsTheExitCode) {
  TempDir dir;
  auto child = TclChildProcess::Start(
      "/bin/sh", {"-c", "printf '%s|' \"$@\" > \"$0\"; exit 7", dir.File("args"), "a b", "\"quoted\"", "第1话", ""});
  ASSERT_TRUE(child);
  ASSERT_TRUE(EndsWithin(*child, 10000));
  EXPECT_EQ(child->ExitStatus(), 7);
  EXPECT_FALSE(child->IsRunning());
  EXPECT_TRUE(Reaped(child->Pid()));
  EXPECT_EQ(ReadFile(dir.File("args")), "a b|\"quoted\"|第1话||");
}

TEST(ChildProcess, RunsHiddenWithNothingButItsOwnStandardStreams) {
  int leaked = open("/dev/null", O_RDONLY);  // a descriptor without close-on-exec
  auto child = TclChildProcess::Start("/bin/sleep", {"60"});
  close(leaked);
  ASSERT_TRUE(child);
  // Once sleep sleeps, its descriptors are those it keeps: before, the loader and its locale
  // set-up open files of their own for a moment.
  const std::string proc = "/proc/" + std::to_string(child->Pid());
  const auto sleeping = [&] {
    return std::filesystem::read_symlink(proc + "/exe") == "/usr/bin/sleep" && ProcessState(child->Pid()) == 'S';
  };
  for (int tries = 0; tries < 1000 && !sleeping(); ++tries) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::map<std::string, std::string> seen;
  for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd"))
    seen[entry.path().filename()] = std::filesystem::read_symlink(entry.path());
  EXPECT_EQ(seen, (std::map<std::string, std::string>{{"0", "/dev/null"}, {"1", "/dev/null"}, {"2", "/dev/null"}}));
}

TEST(ChildProcess, ProgramThatCannotRunGivesNoChild) {
  TempDir dir;
  WriteFile(dir.File("not executable"), "#!/bin/sh\n");
  EXPECT_FALSE(TclChildProcess::Start(dir.File("missing"), {}));
  EXPECT_FALSE(TclChildProcess::Start(dir.File("not executable"), {}));
}

TEST(ChildProcess, TerminateKillsAndReapsAtOnce) {
  auto child = TclChildProcess::Start("/bin/sleep", {"60"});
  ASSERT_TRUE(child);
  EXPECT_TRUE(child->IsRunning());
  EXPECT_EQ(child->ExitStatus(), std::nullopt);
  child->Terminate();
  EXPECT_EQ(child->ExitStatus(), -1);
  EXPECT_TRUE(Reaped(child->Pid()));
  child->Terminate();  // once gone, nothing is signalled again
  EXPECT_EQ(child->ExitStatus(), -1);
}

TEST(ChildProcess, ChildThatIsLetGoOfIsTerminated) {
  pid_t pid;
  {
    auto child = TclChildProcess::Start("/bin/sleep", {"60"});
    ASSERT_TRUE(child);
    pid = child->Pid();
  }
  EXPECT_TRUE(Reaped(pid));
}

TEST(ChildProcess, ThreadsAskingWhileTheChildEndsAgreeOnOneStatus) {
  auto child = TclChildProcess::Start("/bin/sh", {"-c", "exit 3"});
  ASSERT_TRUE(child);
  std::vector<std::thread> askers;
  for (int i = 0; i < 4; ++i)
    askers.emplace_back([&] {
      while (child->IsRunning()) std::this_thread::yield();
      EXPECT_EQ(child->ExitStatus(), 3);
    });
  for (auto& asker : askers) asker.join();
  EXPECT_TRUE(Reaped(child->Pid()));
}

TEST(ChildProcessList, AnswersAndTerminatesOnlyForItsOwnChildren) {
  ChildProcess stranger({"/bin/sleep", "60"});
  TclChildProcessList list;
  EXPECT_FALSE(list.AnyRunning());

  auto quick = list.Start("/bin/true", {});
  auto slow = list.Start("/bin/sleep", {"60"});
  ASSERT_TRUE(quick && slow);
  EXPECT_FALSE(list.Start("/nonexistent/program", {}));
  ASSERT_TRUE(EndsWithin(*quick, 10000));
  EXPECT_TRUE(list.AnyRunning());

  // The terminating thread and an asking one meet on the same children.
  std::thread asker([&] {
    while (list.AnyRunning()) std::this_thread::yield();
  });
  list.TerminateAll();
  asker.join();
  EXPECT_FALSE(list.AnyRunning());
  EXPECT_EQ(slow->ExitStatus(), -1);
  EXPECT_EQ(quick->ExitStatus(), 0);
  EXPECT_TRUE(Reaped(slow->Pid()));
  EXPECT_EQ(kill(stranger.Pid(), 0), 0);
  EXPECT_EQ(waitpid(stranger.Pid(), nullptr, WNOHANG), 0) << "still running";
}
