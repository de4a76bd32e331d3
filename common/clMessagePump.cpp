#include "common/clMessagePump.h"

#include <linux/futex.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <stdexcept>
#include <utility>
#include <vector>

// A sender's wait, on the sender's stack, woken alone. The pump completes it once; the sender
// sleeps on a futex only after marking itself asleep, so a completion that comes first costs no
// wake-up call. The wake-up names the word by address only, so it is harmless when the sender
// has already seen the result and returned. Senders do not spin before sleeping: with more
// senders than cores, spinning takes the time the owner needs to run their handlers.
struct TclMessagePump::TclSendState {
  enum : uint32_t { cWaiting, cAsleep, cRan, cDropped };
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free);

  std::atomic<uint32_t> Phase{cWaiting};
  std::exception_ptr Error;

  void Complete(uint32_t aPhase) {
    void* word = &Phase;
    if (Phase.exchange(aPhase, std::memory_order_acq_rel) == cAsleep)
      ::syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
  }

  uint32_t Wait() {
    uint32_t phase = cWaiting;
    if (Phase.compare_exchange_strong(phase, cAsleep, std::memory_order_acquire)) phase = cAsleep;
    while (phase == cAsleep) {
      ::syscall(SYS_futex, &Phase, FUTEX_WAIT_PRIVATE, cAsleep, nullptr, nullptr, 0);
      phase = Phase.load(std::memory_order_acquire);
    }
    return phase;
  }
};

namespace {

// Closes the thread's pump when the thread ends, so senders waiting on it are released.
struct TclPumpHolder {
  std::shared_ptr<TclMessagePump> Pump;
  ~TclPumpHolder() {
    if (Pump) Pump->Close();
  }
};

thread_local TclPumpHolder tPump;

}  // namespace

TclMessagePump::TclMessagePump() : FOwner(std::this_thread::get_id()), FEventFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (FEventFd < 0) throw std::runtime_error("eventfd failed");
}

TclMessagePump::~TclMessagePump() { ::close(FEventFd); }

std::shared_ptr<TclMessagePump> TclMessagePump::CurrentShared() {
  if (!tPump.Pump) tPump.Pump.reset(new TclMessagePump());
  return tPump.Pump;
}

TclMessagePump& TclMessagePump::Current() { return *CurrentShared(); }

void TclMessagePump::Signal() {
  uint64_t one = 1;
  ssize_t ignored = ::write(FEventFd, &one, sizeof one);
  (void)ignored;
}

void TclMessagePump::Unsignal() {
  uint64_t count;
  ssize_t ignored = ::read(FEventFd, &count, sizeof count);
  (void)ignored;
}

bool TclMessagePump::Enqueue(TclQueued& aItem) {
  bool wake;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FClosed || (aItem.Target && aItem.Target->IsCancelled())) return false;
    FQueue.push_back(std::move(aItem));
    // One wake-up stands for every message queued until the owner drains the queue.
    wake = !std::exchange(FSignalled, true);
  }
  if (wake) Signal();
  return true;
}

bool TclMessagePump::Deliver(TclMessage aMessage, const TclMessageTarget* aTarget) {
  TclQueued item{std::move(aMessage), nullptr, aTarget};
  return Enqueue(item);
}

bool TclMessagePump::Post(TclMessage aMessage) { return Deliver(std::move(aMessage), nullptr); }

bool TclMessagePump::SendTo(TclMessage aMessage, const TclMessageTarget* aTarget) {
  if (IsOwnerThread()) {
    if (aTarget && aTarget->IsCancelled()) return false;
    aMessage();
    return true;
  }
  TclSendState state;
  TclQueued item{std::move(aMessage), &state, aTarget};
  if (!Enqueue(item) || state.Wait() == TclSendState::cDropped) return false;
  if (state.Error) std::rethrow_exception(state.Error);
  return true;
}

bool TclMessagePump::Send(TclMessage aMessage) { return SendTo(std::move(aMessage), nullptr); }

void TclMessagePump::Run(TclQueued& aItem) {
  std::exception_ptr error;
  try {
    aItem.Message();
  } catch (...) {
    error = std::current_exception();
  }
  aItem.Message = nullptr;  // its captures go before the sender moves on
  if (aItem.Sent) {
    aItem.Sent->Error = std::move(error);
    aItem.Sent->Complete(TclSendState::cRan);
  } else if (error) {
    ReportPosted(std::move(error));
  }
}

void TclMessagePump::ReportPosted(std::exception_ptr aError) {
  if (FExceptionHandler) {
    try {
      FExceptionHandler(aError);
      return;
    } catch (...) {
      aError = std::current_exception();
    }
  }
  try {
    std::rethrow_exception(aError);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Exception in a posted message: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Exception in a posted message\n");
  }
}

size_t TclMessagePump::ProcessMessages() {
  // Reset before taking the queue: a wake-up that a poster writes late, for a message this pass
  // takes, then costs one spurious wake-up and never leaves the handle readable for good.
  Unsignal();
  size_t ran = 0;
  std::unique_lock<std::mutex> lock(FLock);
  FSignalled = false;
  // Only what is queued now: messages posted by the handlers wait for the next round.
  for (size_t pending = FQueue.size(); pending > 0 && !FQueue.empty(); --pending) {
    TclQueued item = std::move(FQueue.front());
    FQueue.pop_front();
    lock.unlock();
    Run(item);
    ++ran;
    lock.lock();
  }
  const bool wake = !FQueue.empty() && !std::exchange(FSignalled, true);
  lock.unlock();
  if (wake) Signal();
  return ran;
}

void TclMessagePump::SetEventProcessor(std::function<void()> aProcessor) { FEventProcessor = std::move(aProcessor); }

bool TclMessagePump::HasEventProcessor() const { return static_cast<bool>(FEventProcessor); }

void TclMessagePump::ProcessPendingEvents() {
  if (FEventProcessor)
    FEventProcessor();
  else
    ProcessMessages();
}

void TclMessagePump::SetExceptionHandler(TclExceptionHandler aHandler) { FExceptionHandler = std::move(aHandler); }

void TclMessagePump::Drop(TclMessageTarget* aTarget) {
  std::vector<TclQueued> dropped;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (aTarget)
      aTarget->FCancelled.store(true, std::memory_order_release);
    else
      FClosed = true;
    auto gone = std::stable_partition(FQueue.begin(), FQueue.end(),
                                      [aTarget](const TclQueued& aItem) { return aTarget && aItem.Target != aTarget; });
    std::move(gone, FQueue.end(), std::back_inserter(dropped));
    FQueue.erase(gone, FQueue.end());
  }
  // Outside the lock: a message's captures may post again when they go.
  for (TclQueued& item : dropped) {
    item.Message = nullptr;
    if (item.Sent) item.Sent->Complete(TclSendState::cDropped);
  }
}

void TclMessagePump::Close() { Drop(nullptr); }

TclMessageTarget::TclMessageTarget() : TclMessageTarget(TclMessagePump::CurrentShared()) {}

TclMessageTarget::TclMessageTarget(std::shared_ptr<TclMessagePump> aPump) : FPump(std::move(aPump)) {}

TclMessageTarget::~TclMessageTarget() { Cancel(); }

bool TclMessageTarget::Post(TclMessagePump::TclMessage aMessage) { return FPump->Deliver(std::move(aMessage), this); }

bool TclMessageTarget::Send(TclMessagePump::TclMessage aMessage) { return FPump->SendTo(std::move(aMessage), this); }

void TclMessageTarget::Cancel() { FPump->Drop(this); }
