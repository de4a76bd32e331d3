#include "tests/cli/ProgramRun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

TProgramRun::TProgramRun(const std::vector<std::string>& aArgs, const std::string& aSite,
                         const std::string& aWorkFolder)
    : FOutputFile(FOutputFolder.File("output")) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry)
    if (std::strncmp(*entry, "ZENTAVO_SITE=", 13) != 0) environment.emplace_back(*entry);
  if (!aSite.empty()) environment.push_back("ZENTAVO_SITE=" + aSite);
  std::vector<std::string> args{zvtest::BinDir() + "/zentavo-dl"};
  args.insert(args.end(), aArgs.begin(), aArgs.end());

  std::vector<char*> argv, envp;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, aWorkFolder.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, FOutputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  int rc = posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
}

TProgramRun::~TProgramRun() {
  if (FReaped) return;
  kill(FPid, SIGKILL);
  waitpid(FPid, nullptr, 0);
}

int TProgramRun::Wait(int aTimeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
  int status = 0;
  while (waitpid(FPid, &status, WNOHANG) != FPid) {
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("zentavo-dl did not end:\n" + Output());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  FReaped = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void TProgramRun::Signal(int aSignal) { kill(FPid, aSignal); }

std::string TProgramRun::Output() const { return zvtest::ReadFile(FOutputFile); }

TProgramResult RunProgram(const std::vector<std::string>& aArgs, const std::string& aSite,
                          const std::string& aWorkFolder) {
  TProgramRun run(aArgs, aSite, aWorkFolder);
  int status = run.Wait();
  return {status, run.Output()};
}
