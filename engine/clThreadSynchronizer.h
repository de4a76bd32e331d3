#pragma once
// Runs a call on the thread that created the synchronizer (its base thread) and waits for it:
// how workers raise their events on the UI thread. The call is a message to the base thread's
// message pump, so it runs whenever that thread serves its pump: in its event loop and inside
// every wait it makes. An exception raised by the call is raised again in the caller, and in no
// other wait.
#include <functional>
#include <memory>
#include <thread>

class TclMessagePump;

class TclThreadSynchronizer {
public:
  TclThreadSynchronizer();
  TclThreadSynchronizer(const TclThreadSynchronizer&) = delete;
  TclThreadSynchronizer& operator=(const TclThreadSynchronizer&) = delete;

  std::thread::id SyncBaseThreadID() const { return FBaseThread; }
  // Runs aMethod on the base thread (directly when called there) and returns when it has run.
  // When the base thread has ended or no longer serves its pump, the call does not run and
  // EclInternetError clSyncThreadEndedError is raised.
  void Synchronize(const std::function<void()>& aMethod);

private:
  std::thread::id FBaseThread;
  std::shared_ptr<TclMessagePump> FPump;
};
