#pragma once
// Programs this process starts and answers for: started without a shell, watched, terminated and
// reaped here and nowhere else. Each child is held through a process file descriptor, so a signal
// never reaches an unrelated process that was later given the number of one that has ended, and
// no ended child is left behind as a zombie.
#include <sys/types.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class TclChildProcess {
public:
  // Runs aProgram with the arguments aArgs (argv[1] on), each passed as it is. The child runs
  // hidden: its standard streams are /dev/null and it inherits no other descriptor. Null when the
  // program cannot be started.
  static std::shared_ptr<TclChildProcess> Start(const std::string& aProgram, const std::vector<std::string>& aArgs);

  // A child still running is terminated; either way it is reaped.
  ~TclChildProcess();
  TclChildProcess(const TclChildProcess&) = delete;
  TclChildProcess& operator=(const TclChildProcess&) = delete;

  pid_t Pid() const { return FPid; }
  // Becomes readable (poll) when the child ends.
  int Handle() const { return FHandle; }
  // Reaps the child once it has ended.
  bool IsRunning();
  // After the end: the exit code (0..255), or -1 when a signal ended it. Empty while it runs.
  std::optional<int> ExitStatus();
  // Kills the child and waits until it is gone (a killed process ends at once).
  void Terminate();

private:
  TclChildProcess(pid_t aPid, int aHandle) : FPid(aPid), FHandle(aHandle) {}
  // Collects the exit status; aWait: blocks until there is one. Caller holds FLock.
  void Reap(bool aWait);

  const pid_t FPid;
  const int FHandle;
  std::mutex FLock;
  std::optional<int> FStatus;
};

// The children started through one list, for questions about all of them at once; any thread.
class TclChildProcessList {
public:
  // Starts the child and keeps it (see TclChildProcess::Start); null when it cannot be started.
  std::shared_ptr<TclChildProcess> Start(const std::string& aProgram, const std::vector<std::string>& aArgs);
  // Whether a child of the list still runs; ended children leave the list.
  bool AnyRunning();
  // Terminates every child of the list that still runs and empties it.
  void TerminateAll();

private:
  std::mutex FLock;
  std::vector<std::shared_ptr<TclChildProcess>> FChildren;
};
