#include "platform/clChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

// This C library's header declares the process descriptor calls without C linkage.
extern "C" {
#include <sys/pidfd.h>
}

extern char** environ;

namespace {

// Spawn attributes and file actions released on every path.
struct TSpawnSetup {
  posix_spawnattr_t Attributes;
  posix_spawn_file_actions_t Actions;
  TSpawnSetup() {
    posix_spawnattr_init(&Attributes);
    posix_spawn_file_actions_init(&Actions);
  }
  ~TSpawnSetup() {
    posix_spawn_file_actions_destroy(&Actions);
    posix_spawnattr_destroy(&Attributes);
  }
};

}  // namespace

std::shared_ptr<TclChildProcess> TclChildProcess::Start(const std::string& aProgram,
                                                        const std::vector<std::string>& aArgs) {
  TSpawnSetup setup;
  // The child begins with no blocked signals and SIGPIPE at its default, whatever this process set.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&setup.Attributes, &none);
  posix_spawnattr_setsigdefault(&setup.Attributes, &defaults);
  posix_spawnattr_setflags(&setup.Attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_addopen(&setup.Actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&setup.Actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.Actions, 1, 2);
  posix_spawn_file_actions_addclosefrom_np(&setup.Actions, 3);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(aProgram.c_str()));
  for (const auto& arg : aArgs) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawn(&pid, aProgram.c_str(), &setup.Actions, &setup.Attributes, argv.data(), environ) != 0) return nullptr;
  // An ended child stays a zombie until reaped, so the number still names it here.
  int handle = pidfd_open(pid, 0);
  if (handle < 0) {
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return nullptr;
  }
  fcntl(handle, F_SETFD, FD_CLOEXEC);
  return std::shared_ptr<TclChildProcess>(new TclChildProcess(pid, handle));
}

TclChildProcess::~TclChildProcess() {
  Terminate();
  close(FHandle);
}

void TclChildProcess::Reap(bool aWait) {
  if (FStatus) return;
  siginfo_t info{};
  int result;
  while ((result = waitid(P_PIDFD, FHandle, &info, WEXITED | (aWait ? 0 : WNOHANG))) < 0 && errno == EINTR) {
  }
  if (result < 0)
    FStatus = -1;  // not ours to reap any more: it has ended in any case
  else if (info.si_pid != 0)
    FStatus = info.si_code == CLD_EXITED ? info.si_status : -1;
}

bool TclChildProcess::IsRunning() {
  std::lock_guard<std::mutex> lock(FLock);
  Reap(false);
  return !FStatus;
}

std::optional<int> TclChildProcess::ExitStatus() {
  std::lock_guard<std::mutex> lock(FLock);
  Reap(false);
  return FStatus;
}

void TclChildProcess::Terminate() {
  std::lock_guard<std::mutex> lock(FLock);
  if (FStatus) return;
  pidfd_send_signal(FHandle, SIGKILL, nullptr, 0);
  Reap(true);
}

std::shared_ptr<TclChildProcess> TclChildProcessList::Start(const std::string& aProgram,
                                                            const std::vector<std::string>& aArgs) {
  auto child = TclChildProcess::Start(aProgram, aArgs);
  if (child) {
    std::lock_guard<std::mutex> lock(FLock);
    FChildren.push_back(child);
  }
  return child;
}

bool TclChildProcessList::AnyRunning() {
  std::lock_guard<std::mutex> lock(FLock);
  std::erase_if(FChildren, [](const auto& aChild) { return !aChild->IsRunning(); });
  return !FChildren.empty();
}

void TclChildProcessList::TerminateAll() {
  std::vector<std::shared_ptr<TclChildProcess>> children;
  {
    std::lock_guard<std::mutex> lock(FLock);
    children.swap(FChildren);
  }
  for (const auto& child : children) child->Terminate();
}
