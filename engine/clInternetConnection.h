#pragma once
// Runs internet actions with a time-out that can be stopped from any thread: a call that hangs is
// abandoned by closing the handle it works under (the root handle), which makes the platform call
// return. The caller makes the call itself while the connection's watchdog thread keeps its
// deadline, so a call costs no thread switch; the watchdog wakes only when a deadline passes or
// an earlier one begins. One action runs at a time; callers of one connection take turns.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "common/clLink.h"
#include "engine/clInternetAction.h"
#include "engine/clThreadSynchronizer.h"

// Controls and threaders that share a connection hold it through a TclLink.
class TclInternetConnection : public TclLinkTarget {
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
  // Frees every registered action (closing their handles) and ends the watchdog thread. Only
  // while nobody fires an action on this connection. The connection can be used again after.
  void Close();

  TclThreadSynchronizer& Synchronizer() { return FSynchronizer; }

  TclActionEvent OnActionAdded;
  TclActionEvent OnActionRemoved;
  TclActionEvent OnBeforeFireAction;
  TclActionEvent OnAfterFireAction;

private:
  friend class TclInternetAction;
  using TClock = std::chrono::steady_clock;

  void AddAction(TclInternetAction* aAction);
  void RemoveAction(TclInternetAction* aAction);
  void FireAction(TclInternetAction* aAction, int32_t aTimeOut);
  // Tells every registered action but aExcept that aHandle is being closed.
  void ForgetHandle(HINTERNET aHandle, TclInternetAction* aExcept);
  void Notify(const TclActionEvent& aEvent, TclInternetAction* aAction);
  // The watchdog thread: cancels the running action once its deadline has passed.
  void Watch();

  // Guards the running action's state and the watchdog's.
  std::mutex FLock;
  std::condition_variable FWatchdogWake;
  TclInternetAction* FCurrentAction = nullptr;
  bool FHasDeadline = false;
  TClock::time_point FDeadline;
  bool FTimedOut = false;
  bool FStopped = false;
  // A stop that came while no action ran: the next one is cancelled.
  bool FStopPending = false;
  // What the watchdog sleeps until; it needs waking only for an earlier deadline.
  bool FWatchdogTimed = false;
  TClock::time_point FWatchdogUntil;
  bool FEnding = false;
  std::thread FWatchdog;
  std::mutex FFireLock;
  mutable std::mutex FActionsLock;
  std::vector<TclInternetAction*> FActions;
  std::atomic<bool> FDestroying{false};
  TclThreadSynchronizer FSynchronizer;
};
