#pragma once
// A worker thread made suspended: it is configured first, started by Start, and ends when its
// Execute returns. OnTerminate then runs on the thread that created it; a thread freed on
// termination is deleted right there, on that thread, so nothing of it outlives its last event.
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

#include "net/clSocketWait.h"

class TclMessagePump;

// Scheduling priority of a worker thread.
enum TclProcessPriority { ppLower, ppNormal, ppHigher };

class TclThread {
public:
  TclThread();
  // A thread that runs and is not freed on termination is waited for (see WaitFor).
  virtual ~TclThread();
  TclThread(const TclThread&) = delete;
  TclThread& operator=(const TclThread&) = delete;

  void Start();
  // Asks Execute to end; it checks Terminated at its own pace.
  void Terminate() { FTerminated.store(true, std::memory_order_release); }
  bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }

  // Waits until the thread has ended and its OnTerminate has run. On the creating thread the
  // thread's synchronized calls (and every other pending message) are served meanwhile, so the
  // wait cannot dead-lock. An exception that left Execute or OnTerminate is raised here.
  void WaitFor();

  // Set before Start.
  bool FreeOnTerminate() const { return FFreeOnTerminate; }
  void SetFreeOnTerminate(bool aValue) { FFreeOnTerminate = aValue; }
  TclProcessPriority Priority() const { return FPriority; }
  void SetPriority(TclProcessPriority aValue) { FPriority = aValue; }

  // On the creating thread, after Execute has returned.
  std::function<void(TclThread* Sender)> OnTerminate;

protected:
  virtual void Execute() = 0;
  // For the destructors of derived classes: a thread that runs and is not freed on termination
  // is waited for while everything it uses still exists; its exception is dropped.
  void EndBeforeDestruction();
  // Queues a call for the creating thread; false once that thread no longer serves calls.
  bool PostToCreator(std::function<void()> aCall);

private:
  void Run();
  // On the creating thread: OnTerminate, then the deletion of a thread freed on termination.
  void Finish();

  std::shared_ptr<TclMessagePump> FCreatorPump;
  std::thread FThread;
  std::atomic<bool> FTerminated{false};
  bool FFreeOnTerminate = false;
  TclProcessPriority FPriority = ppNormal;
  std::exception_ptr FFatalException;
  TclWaitEvent FEnded;
};
