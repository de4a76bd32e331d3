#include "engine/clInternetConnection.h"

#include <algorithm>
#include <chrono>

#include "engine/clInternetError.h"

TclInternetConnection::TclInternetConnection() = default;

TclInternetConnection::~TclInternetConnection() {
  FDestroying = true;
  Close();
}

void TclInternetConnection::Terminate() {
  std::lock_guard<std::mutex> guard(FLock);
  if (!FCurrentAction) {
    FStopPending = true;
    return;
  }
  FStopped = true;
  FCurrentAction->Cancel();
}

void TclInternetConnection::Close() {
  // Requests before their server connection before the root handle.
  for (;;) {
    TclInternetAction* last;
    {
      std::lock_guard<std::mutex> guard(FActionsLock);
      if (FActions.empty()) break;
      last = FActions.back();
    }
    delete last;
  }
  {
    std::lock_guard<std::mutex> guard(FLock);
    FEnding = true;
  }
  FWatchdogWake.notify_all();
  if (FWatchdog.joinable()) FWatchdog.join();
  std::lock_guard<std::mutex> guard(FLock);
  FEnding = false;
  FStopPending = false;
}

void TclInternetConnection::AddAction(TclInternetAction* aAction) {
  {
    std::lock_guard<std::mutex> guard(FActionsLock);
    FActions.push_back(aAction);
  }
  Notify(OnActionAdded, aAction);
}

void TclInternetConnection::RemoveAction(TclInternetAction* aAction) {
  {
    std::lock_guard<std::mutex> guard(FActionsLock);
    FActions.erase(std::remove(FActions.begin(), FActions.end(), aAction), FActions.end());
  }
  Notify(OnActionRemoved, aAction);
}

void TclInternetConnection::ForgetHandle(HINTERNET aHandle, TclInternetAction* aExcept) {
  std::lock_guard<std::mutex> guard(FActionsLock);
  for (TclInternetAction* action : FActions)
    if (action != aExcept) action->HandleClosed(aHandle);
}

void TclInternetConnection::Notify(const TclActionEvent& aEvent, TclInternetAction* aAction) {
  if (aEvent) FSynchronizer.Synchronize([&] { aEvent(this, aAction); });
}

void TclInternetConnection::FireAction(TclInternetAction* aAction, int32_t aTimeOut) {
  if (FDestroying) return;
  std::lock_guard<std::mutex> turn(FFireLock);
  Notify(OnBeforeFireAction, aAction);
  {
    std::lock_guard<std::mutex> guard(FLock);
    FCurrentAction = aAction;
    FTimedOut = false;
    FStopped = false;
    FHasDeadline = aTimeOut >= 0;
    if (FHasDeadline) {
      FDeadline = TClock::now() + std::chrono::milliseconds(aTimeOut);
      if (!FWatchdog.joinable())
        FWatchdog = std::thread(&TclInternetConnection::Watch, this);
      else if (!FWatchdogTimed || FDeadline < FWatchdogUntil)
        FWatchdogWake.notify_one();
    }
    if (FStopPending) {
      FStopPending = false;
      FStopped = true;
      aAction->Cancel();
    }
  }
  aAction->Run();
  bool timedOut, stopped;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FCurrentAction = nullptr;
    FHasDeadline = false;
    timedOut = FTimedOut;
    stopped = FStopped;
  }
  if (timedOut) throw EclTimeoutInternetError();
  // A stopped call's own failure, if any, is the action's error.
  if (!stopped) Notify(OnAfterFireAction, aAction);
}

void TclInternetConnection::Watch() {
  std::unique_lock<std::mutex> lock(FLock);
  while (!FEnding) {
    if (FHasDeadline && FCurrentAction && TClock::now() >= FDeadline) {
      // Closing the handle makes the call return at once; the caller raises the time-out.
      FTimedOut = true;
      FHasDeadline = false;
      FCurrentAction->Cancel();
      continue;
    }
    FWatchdogTimed = FHasDeadline;
    FWatchdogUntil = FDeadline;
    if (FWatchdogTimed)
      FWatchdogWake.wait_until(lock, FWatchdogUntil);
    else
      FWatchdogWake.wait(lock);
  }
}
