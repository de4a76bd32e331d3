#pragma once
// Per-thread message queue: the stand-in for a thread's window messages. Any thread posts to a
// thread's pump; the owning thread serves it whenever it processes pending UI events or waits
// (socket waits, waits for workers), so events reach it while it is busy in a transfer.
//
// The pump's Handle() is an eventfd that is readable while messages are pending: a GUI event
// loop watches it (a socket notifier), and poll-based waits include it in their descriptor set.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class TclMessagePump : public std::enable_shared_from_this<TclMessagePump> {
public:
  using TclMessage = std::function<void()>;

  // The calling thread's pump, created on first use and closed when the thread ends.
  static TclMessagePump& Current();
  static std::shared_ptr<TclMessagePump> CurrentShared();

  ~TclMessagePump();
  TclMessagePump(const TclMessagePump&) = delete;
  TclMessagePump& operator=(const TclMessagePump&) = delete;

  // Queues aMessage for the owning thread. Returns false once the pump is closed.
  bool Post(TclMessage aMessage);
  // Runs aMessage on the owning thread and returns after it ran (at once when called there).
  // Returns false, without running it, when the pump is closed or closes while waiting.
  bool Send(TclMessage aMessage);

  // Owner thread: runs the messages queued now (one at a time, without holding the lock, so a
  // message may itself wait and pump). Returns how many ran.
  size_t ProcessMessages();

  // What "process pending UI events" means on the owning thread: a GUI installs its event
  // processing here (which must also serve this pump); by default it is ProcessMessages.
  void SetEventProcessor(std::function<void()> aProcessor);
  bool HasEventProcessor() const;
  void ProcessPendingEvents();

  int Handle() const { return FEventFd; }
  bool IsOwnerThread() const { return std::this_thread::get_id() == FOwner; }
  // Stops accepting messages and releases every waiting sender.
  void Close();

private:
  TclMessagePump();

  struct TclQueued {
    TclMessage Message;
    std::shared_ptr<struct TclSendState> Sent;
  };

  bool Enqueue(TclQueued aItem);

  const std::thread::id FOwner;
  int FEventFd;
  mutable std::mutex FLock;
  std::condition_variable FHandled;
  std::deque<TclQueued> FQueue;
  bool FClosed = false;
  std::function<void()> FEventProcessor;
};
