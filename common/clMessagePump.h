#pragma once
// Per-thread message queue: the stand-in for a thread's window messages. Any thread posts to a
// thread's pump; the owning thread serves it whenever it processes pending UI events or waits
// (socket waits, waits for workers), so events reach it while it is busy in a transfer.
//
// The pump's Handle() is an eventfd that is readable while messages are pending: a GUI event
// loop watches it (a socket notifier), and poll-based waits include it in their descriptor set.
//
// A handler's exception never leaves ProcessMessages: a sent message's exception is raised again
// in its sender, a posted message's goes to the pump's exception handler.
#include <atomic>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class TclMessageTarget;

class TclMessagePump {
public:
  using TclMessage = std::function<void()>;
  using TclExceptionHandler = std::function<void(std::exception_ptr)>;

  // The calling thread's pump, created on first use and closed when the thread ends.
  static TclMessagePump& Current();
  static std::shared_ptr<TclMessagePump> CurrentShared();

  ~TclMessagePump();
  TclMessagePump(const TclMessagePump&) = delete;
  TclMessagePump& operator=(const TclMessagePump&) = delete;

  // Queues aMessage for the owning thread. Returns false once the pump is closed.
  bool Post(TclMessage aMessage);
  // Runs aMessage on the owning thread and returns after it ran (at once when called there); an
  // exception it raised is raised again here. Returns false, without running it, when the pump is
  // closed or closes while waiting.
  bool Send(TclMessage aMessage);

  // Owner thread: runs the messages queued now (one at a time, without holding the lock, so a
  // message may itself wait and pump). Returns how many ran.
  size_t ProcessMessages();

  // What "process pending UI events" means on the owning thread: a GUI installs its event
  // processing here (which must also serve this pump); by default it is ProcessMessages.
  void SetEventProcessor(std::function<void()> aProcessor);
  bool HasEventProcessor() const;
  void ProcessPendingEvents();

  // Owner thread: receives the exceptions of posted messages (nobody waits for them). Without
  // one, their text goes to standard error.
  void SetExceptionHandler(TclExceptionHandler aHandler);

  int Handle() const { return FEventFd; }
  bool IsOwnerThread() const { return std::this_thread::get_id() == FOwner; }
  // Stops accepting messages, drops the queued ones and releases every waiting sender.
  void Close();

private:
  friend class TclMessageTarget;
  struct TclSendState;
  struct TclQueued {
    TclMessage Message;
    TclSendState* Sent = nullptr;  // the waiting sender's, on its stack
    const TclMessageTarget* Target = nullptr;
  };

  TclMessagePump();

  bool Enqueue(TclQueued& aItem);
  bool Deliver(TclMessage aMessage, const TclMessageTarget* aTarget);
  bool SendTo(TclMessage aMessage, const TclMessageTarget* aTarget);
  void Run(TclQueued& aItem);
  void ReportPosted(std::exception_ptr aError);
  // The handle is written outside the lock, once each time FSignalled turns true: a poster
  // must not hold the lock that the owner it wakes takes first.
  void Signal();
  void Unsignal();
  // Cancels aTarget (closes the pump when null), removes its queued messages (all of them when
  // null) and releases their senders.
  void Drop(TclMessageTarget* aTarget);

  const std::thread::id FOwner;
  int FEventFd;
  mutable std::mutex FLock;
  std::deque<TclQueued> FQueue;
  bool FSignalled = false;  // a wake-up is written or on its way
  bool FClosed = false;
  std::function<void()> FEventProcessor;
  TclExceptionHandler FExceptionHandler;
};

// The address of messages meant for one object: the object holds it, and destroying (or
// cancelling) it drops the object's queued messages and releases their senders without running
// them, so nothing runs for an object that is gone. Cancelling on the owning thread (for example
// inside one of the object's own handlers) also keeps every later handler from starting; from
// another thread it cannot stop a handler that has already started.
class TclMessageTarget {
public:
  // Addressed to the calling thread's pump.
  TclMessageTarget();
  explicit TclMessageTarget(std::shared_ptr<TclMessagePump> aPump);
  ~TclMessageTarget();
  TclMessageTarget(const TclMessageTarget&) = delete;
  TclMessageTarget& operator=(const TclMessageTarget&) = delete;

  // As the pump's Post and Send; both also answer false once the target is cancelled.
  bool Post(TclMessagePump::TclMessage aMessage);
  bool Send(TclMessagePump::TclMessage aMessage);
  void Cancel();
  bool IsCancelled() const { return FCancelled.load(std::memory_order_acquire); }
  TclMessagePump& Pump() const { return *FPump; }

private:
  friend class TclMessagePump;
  std::shared_ptr<TclMessagePump> FPump;
  std::atomic<bool> FCancelled{false};  // set under the pump's lock
};
