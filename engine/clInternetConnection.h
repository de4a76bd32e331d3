#pragma once
// Runs internet actions on a thread of its own while the caller waits with a time-out: a call
// that hangs is abandoned by closing the handle it works under (the root handle), which makes
// the platform call return. One action runs at a time; callers of one connection take turns.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/clInternetAction.h"
#include "engine/clThreadSynchronizer.h"

class TclInternetConnection {
public:
  using TclActionEvent = std::function<void(TclInternetConnection* Sender, TclInternetAction* Action)>;

  // The events go to the creating thread (through its synchronizer). OnActionAdded and
  // OnActionRemoved come while the action is being made or freed: only its TclInternetAction
  // part is there.
  TclInternetConnection();
  ~TclInternetConnection();
  TclInternetConnection(const TclInternetConnection&) = delete;
  TclInternetConnection& operator=(const TclInternetConnection&) = delete;

  // The first registered action of class T or a descendant (a kept root handle, connection or
  // request); null when there is none or the connection is being destroyed.
  template <class T>
  T* GetActionByClass() const {
    if (FDestroying) return nullptr;
    std::lock_guard<std::mutex> guard(FActionsLock);
    for (TclInternetAction* action : FActions)
      if (T* found = dynamic_cast<T*>(action)) return found;
    return nullptr;
  }

  // A stop request: the pending action (or, when none is pending, the next one) is cancelled.
  void Terminate();
  // Frees every registered action (closing their handles) and ends the action thread. Only
  // while nobody fires an action on this connection. The connection can be used again after.
  void Close();

  TclThreadSynchronizer& Synchronizer() { return FSynchronizer; }

  TclActionEvent OnActionAdded;
  TclActionEvent OnActionRemoved;
  TclActionEvent OnBeforeFireAction;
  TclActionEvent OnAfterFireAction;

private:
  friend class TclInternetAction;
  // The four auto-reset signals between the callers and the action thread, in the order a wait
  // prefers them: an action that finished just as a stop arrived is not cancelled.
  enum TclSignal : unsigned { sgBegin = 1, sgWait = 2, sgTerminate = 4, sgEnd = 8 };

  void AddAction(TclInternetAction* aAction);
  void RemoveAction(TclInternetAction* aAction);
  void FireAction(TclInternetAction* aAction, int32_t aTimeOut);
  // Tells every registered action but aExcept that aHandle is being closed.
  void ForgetHandle(HINTERNET aHandle, TclInternetAction* aExcept);
  void Notify(const TclActionEvent& aEvent, TclInternetAction* aAction);

  void Signal(unsigned aSignal);
  // Waits for one of aSignals (aTimeOut < 0: without limit) and resets it; the lowest signal
  // first when several are set. 0 after the time-out.
  unsigned WaitFor(unsigned aSignals, int32_t aTimeOut);
  // The action thread.
  void RunActions();

  std::mutex FLock;
  std::condition_variable FSignalled;
  unsigned FSignals = 0;
  TclInternetAction* FCurrentAction = nullptr;
  std::thread FThread;
  std::mutex FFireLock;
  mutable std::mutex FActionsLock;
  std::vector<TclInternetAction*> FActions;
  std::atomic<bool> FDestroying{false};
  TclThreadSynchronizer FSynchronizer;
};
