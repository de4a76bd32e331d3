#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zvtest {

std::string SourceDir() { return ZV_SOURCE_DIR; }
std::string BinDir() { return ZV_BIN_DIR; }

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "zvtest-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  FPath = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(FPath, ec);
}

std::string ReadFile(const std::string& aPath) {
  std::ifstream in(aPath, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + aPath);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

char ProcessState(int aPid) {
  std::ifstream stat("/proc/" + std::to_string(aPid) + "/stat");
  std::string line;
  // The name in parentheses may itself hold ") ", so the state follows the last one.
  const size_t close = std::getline(stat, line) ? line.rfind(") ") : std::string::npos;
  return close == std::string::npos ? 0 : line[close + 2];
}

std::map<std::string, std::string> BuiltBinderResources() {
  return {{"flvexe", ReadFile(BinDir() + "/FlvBind.exe")}, {"flvdll", ReadFile(BinDir() + "/FLVLib.dll")}};
}

void WriteFile(const std::string& aPath, const std::string& aData) {
  std::ofstream out(aPath, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + aPath);
  out << aData;
}

ChildProcess::ChildProcess(const std::vector<std::string>& aArgs) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  std::vector<char*> argv;
  for (const auto& a : aArgs) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int rc = posix_spawnp(&FPid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  FOut = fds[0];
  if (rc != 0) {
    close(FOut);
    throw std::runtime_error("cannot start " + aArgs[0]);
  }
}

ChildProcess::~ChildProcess() {
  if (!FReaped && FPid > 0) {
    kill(FPid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
      if (waitpid(FPid, nullptr, WNOHANG) == FPid) {
        FReaped = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!FReaped) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
    }
  }
  if (FOut >= 0) close(FOut);
}

std::string ChildProcess::ReadLine(int aTimeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
  while (true) {
    auto nl = FBuffer.find('\n');
    if (nl != std::string::npos) {
      std::string line = FBuffer.substr(0, nl);
      FBuffer.erase(0, nl + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) throw std::runtime_error("child printed no line in time");
    pollfd p{FOut, POLLIN, 0};
    if (poll(&p, 1, int(left)) <= 0) continue;
    char buf[4096];
    ssize_t n = read(FOut, buf, sizeof buf);
    if (n <= 0) throw std::runtime_error("child closed its output");
    FBuffer.append(buf, size_t(n));
  }
}

int ChildProcess::Wait() {
  int status = 0;
  waitpid(FPid, &status, 0);
  FReaped = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::chrono::milliseconds TimeStopped(const std::function<void()>& aCall, const std::function<void()>& aStop) {
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    aStop();
  });
  auto start = std::chrono::steady_clock::now();
  try {
    aCall();
  } catch (...) {
    stopper.join();
    throw;
  }
  stopper.join();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

void WriteRandomFile(const std::string& aPath, int64_t aSize, uint64_t aSeed) {
  std::ofstream out(aPath, std::ios::binary);
  std::mt19937_64 random(aSeed);
  std::vector<uint64_t> block(1 << 17);
  for (int64_t written = 0; written < aSize;) {
    for (uint64_t& word : block) word = random();
    const int64_t count = std::min<int64_t>(aSize - written, int64_t(block.size() * sizeof(uint64_t)));
    out.write(reinterpret_cast<const char*>(block.data()), count);
    written += count;
  }
}

std::string FileSha256(const std::string& aPath) {
  ChildProcess sum({"/usr/bin/sha256sum", "-b", aPath});
  // A file of a gibibyte on a busy machine takes a while.
  return sum.ReadLine(600000).substr(0, 64);
}

std::unique_ptr<ChildProcess> StartFixture(const std::string& aScript, const std::vector<std::string>& aArgs,
                                           std::string& aFirstLine) {
  std::vector<std::string> args{"/usr/bin/python3", "-u", SourceDir() + "/tests/fixtures/" + aScript};
  args.insert(args.end(), aArgs.begin(), aArgs.end());
  auto child = std::make_unique<ChildProcess>(args);
  aFirstLine = child->ReadLine();
  return child;
}

::testing::AssertionResult SameBytes(const std::string& aActual, const std::string& aExpected) {
  if (aActual == aExpected) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < aActual.size() && i < aExpected.size() && aActual[i] == aExpected[i]) ++i;
  return ::testing::AssertionFailure() << "got " << aActual.size() << " bytes, expected " << aExpected.size()
                                       << ", first difference at " << i;
}

}  // namespace zvtest
