#pragma once
// The socket holder and the waits every blocking transport operation is built of. A wait watches
// the socket, an abort signal and the calling thread's message pump, so a transfer on a thread
// with a window keeps the window served.
#include <cstdint>

class TclSocket {
public:
  TclSocket() = default;
  ~TclSocket();
  TclSocket(const TclSocket&) = delete;
  TclSocket& operator=(const TclSocket&) = delete;

  int32_t AddressFamily() const { return FAddressFamily; }
  int Socket() const { return FSocket; }
  bool IsOpen() const { return FSocket >= 0; }
  // A non-blocking TCP stream socket; failure raises the system error.
  void Create(int32_t aAddressFamily);
  // Shuts the socket down both ways and closes it.
  void Close();

private:
  int32_t FAddressFamily = 0;
  int FSocket = -1;
};

// Milliseconds of a monotonic clock.
int64_t GetTickCount64();

// An event on an eventfd: Signal from any thread; it stays signalled, waking every wait on it,
// until Reset.
class TclWaitEvent {
public:
  TclWaitEvent();
  ~TclWaitEvent();
  TclWaitEvent(const TclWaitEvent&) = delete;
  TclWaitEvent& operator=(const TclWaitEvent&) = delete;
  int Handle() const { return FHandle; }
  void Signal();
  void Reset();

private:
  int FHandle;
};

// Waits until aSocket reports one of aEvents (poll(2) flags), aAbortEvent (may be null) is
// signalled, or the time-out counted from aStartTicks elapses (aTimeOut < 0: none). Returns the
// socket's reported flags; 0 after an abort signal (left signalled, so that a stop is seen by
// every wait that follows) or after the thread's pending events were processed (the caller
// loops). Pending events are served even when the socket is ready too, so a busy socket cannot
// starve them. A time-out raises -1 "Timeout error occured".
short SocketWait(int aSocket, short aEvents, TclWaitEvent* aAbortEvent, int64_t aStartTicks, int32_t aTimeOut);

// Waits aMilliseconds while serving the thread's pending events; ends early when aAbortEvent is
// signalled (leaving it signalled for the next wait).
void ServedPause(int64_t aMilliseconds, TclWaitEvent* aAbortEvent);
