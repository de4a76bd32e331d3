#include "engine/clInternetConnection.h"

#include <algorithm>
#include <chrono>

#include "engine/clInternetError.h"

TclInternetConnection::TclInternetConnection() = default;

TclInternetConnection::~TclInternetConnection() {
  FDestroying = true;
  Close();
}

void TclInternetConnection::Terminate() { Signal(sgTerminate); }

void TclInternetConnection::Close() {
  Signal(sgTerminate);
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
  Signal(sgEnd);
  if (FThread.joinable()) FThread.join();
  std::lock_guard<std::mutex> guard(FLock);
  FSignals = 0;
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
  struct TclCurrent {
    TclInternetConnection* Self;
    ~TclCurrent() {
      std::lock_guard<std::mutex> guard(Self->FLock);
      Self->FCurrentAction = nullptr;
    }
  } current{this};
  {
    std::lock_guard<std::mutex> guard(FLock);
    FCurrentAction = aAction;
  }
  Notify(OnBeforeFireAction, aAction);
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FThread.joinable()) FThread = std::thread(&TclInternetConnection::RunActions, this);
  }
  Signal(sgBegin);
  const unsigned signal = WaitFor(sgWait | sgTerminate, aTimeOut);
  if (signal == sgWait) {
    Notify(OnAfterFireAction, aAction);
    return;
  }
  // A stop request or the time-out: closing the handle makes the call return at once.
  aAction->Cancel();
  WaitFor(sgWait, -1);
  if (signal == 0) throw EclTimeoutInternetError();
}

void TclInternetConnection::Signal(unsigned aSignal) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FSignals |= aSignal;
  }
  FSignalled.notify_all();
}

unsigned TclInternetConnection::WaitFor(unsigned aSignals, int32_t aTimeOut) {
  std::unique_lock<std::mutex> lock(FLock);
  auto signalled = [&] { return (FSignals & aSignals) != 0; };
  if (aTimeOut < 0)
    FSignalled.wait(lock, signalled);
  else if (!FSignalled.wait_for(lock, std::chrono::milliseconds(aTimeOut), signalled))
    return 0;
  unsigned set = FSignals & aSignals;
  const unsigned first = set & (~set + 1);
  FSignals &= ~first;
  return first;
}

void TclInternetConnection::RunActions() {
  while (WaitFor(sgBegin | sgEnd, -1) == sgBegin) {
    TclInternetAction* action;
    {
      std::lock_guard<std::mutex> guard(FLock);
      action = FCurrentAction;
    }
    if (!action) continue;
    action->Run();
    Signal(sgWait);
  }
}
