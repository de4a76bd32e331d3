#include "engine/clThreadSynchronizer.h"

#include <atomic>
#include <exception>

#include "common/clMessagePump.h"
#include "engine/clInternetError.h"

namespace {

// One call on its way to the base thread. The caller stays until the call has run or is
// abandoned, so the call may refer to the caller's method.
struct TclSyncCall {
  enum TState : int { stQueued, stRunning, stDone, stAbandoned };
  explicit TclSyncCall(const std::function<void()>& aMethod) : Method(aMethod) {}

  const std::function<void()>& Method;
  std::atomic<int> State{stQueued};
  std::exception_ptr Error;

  // On the base thread.
  void Run() {
    int expected = stQueued;
    if (!State.compare_exchange_strong(expected, stRunning)) return;
    try {
      Method();
    } catch (...) {
      Error = std::current_exception();
    }
    State.store(stDone);
    State.notify_all();
  }

  // In the caller, when the pump gave up on the message: the call must not start any more; one
  // that already started is waited for. False when it never ran.
  bool Abandon() {
    int expected = stQueued;
    if (State.compare_exchange_strong(expected, stAbandoned)) return false;
    for (int state = State.load(); state != stDone; state = State.load()) State.wait(state);
    return true;
  }
};

}  // namespace

TclThreadSynchronizer::TclThreadSynchronizer()
    : FBaseThread(std::this_thread::get_id()), FPump(TclMessagePump::CurrentShared()) {}

void TclThreadSynchronizer::Synchronize(const std::function<void()>& aMethod) {
  if (std::this_thread::get_id() == FBaseThread) {
    aMethod();
    return;
  }
  auto call = std::make_shared<TclSyncCall>(aMethod);
  // A closed pump answers at once, also while the call waits in its queue or runs: the call's own
  // state tells whether it ran.
  FPump->Send([call] { call->Run(); });
  if (call->State.load() != TclSyncCall::stDone && !call->Abandon())
    throw EclInternetError("The thread of the synchronized call no longer serves calls", clSyncThreadEndedError);
  // Taken out of the call, so that the exception dies on this thread, not with the message.
  if (std::exception_ptr error = std::move(call->Error)) std::rethrow_exception(error);
}
