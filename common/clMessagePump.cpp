#include "common/clMessagePump.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <stdexcept>

struct TclSendState {
  bool Done = false;
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

bool TclMessagePump::Enqueue(TclQueued aItem) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FClosed) return false;
    FQueue.push_back(std::move(aItem));
  }
  uint64_t one = 1;
  ssize_t ignored = ::write(FEventFd, &one, sizeof one);
  (void)ignored;
  return true;
}

bool TclMessagePump::Post(TclMessage aMessage) { return Enqueue({std::move(aMessage), nullptr}); }

bool TclMessagePump::Send(TclMessage aMessage) {
  if (IsOwnerThread()) {
    aMessage();
    return true;
  }
  auto state = std::make_shared<TclSendState>();
  if (!Enqueue({std::move(aMessage), state})) return false;
  std::unique_lock<std::mutex> lock(FLock);
  FHandled.wait(lock, [&] { return state->Done || FClosed; });
  return state->Done;
}

size_t TclMessagePump::ProcessMessages() {
  uint64_t count;
  ssize_t ignored = ::read(FEventFd, &count, sizeof count);
  (void)ignored;
  size_t ran = 0;
  // Only what is queued now: messages posted by the handlers wait for the next round.
  size_t pending;
  {
    std::lock_guard<std::mutex> guard(FLock);
    pending = FQueue.size();
  }
  while (pending-- > 0) {
    TclQueued item;
    {
      std::lock_guard<std::mutex> guard(FLock);
      if (FQueue.empty()) break;
      item = std::move(FQueue.front());
      FQueue.pop_front();
    }
    // A handler that throws must not leave its sender waiting forever.
    struct TclRelease {
      TclMessagePump* Pump;
      std::shared_ptr<TclSendState>& Sent;
      ~TclRelease() {
        if (!Sent) return;
        std::lock_guard<std::mutex> guard(Pump->FLock);
        Sent->Done = true;
        Pump->FHandled.notify_all();
      }
    } release{this, item.Sent};
    item.Message();
    ++ran;
  }
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

void TclMessagePump::Close() {
  std::lock_guard<std::mutex> guard(FLock);
  FClosed = true;
  FQueue.clear();
  FHandled.notify_all();
}
