#include "net/clSocketWait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>

#include "common/clMessagePump.h"
#include "net/clIpAddress.h"
#include "net/clSocketErrors.h"

namespace {

// With a GUI event processor installed, waits wake this often so the window keeps repainting.
constexpr int cEventSliceMs = 30;

int PollTimeout(int64_t aRemaining, bool aSliced) {
  if (aRemaining < 0) return aSliced ? cEventSliceMs : -1;
  int64_t t = aSliced ? std::min<int64_t>(aRemaining, cEventSliceMs) : aRemaining;
  return static_cast<int>(std::min<int64_t>(t, 1 << 30));
}

// When a wait of this thread last served its pending events.
thread_local int64_t tLastServed = 0;

void ServeEvents(TclMessagePump& aPump) {
  tLastServed = GetTickCount64();
  aPump.ProcessPendingEvents();
}

bool EventSliceDue() { return GetTickCount64() - tLastServed >= cEventSliceMs; }

}  // namespace

TclSocket::~TclSocket() { Close(); }

void TclSocket::Create(int32_t aAddressFamily) {
  int native = NativeAddressFamily(aAddressFamily);
  if (native < 0) RaiseSocketError(clInvalidAddressFamilyError);
  int s = ::socket(native, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) RaiseSystemSocketError(errno);
  FSocket = s;
  FAddressFamily = aAddressFamily;
}

void TclSocket::Close() {
  if (FSocket < 0) return;
  ::shutdown(FSocket, SHUT_RDWR);
  ::close(FSocket);
  FSocket = -1;
  FAddressFamily = 0;
}

int64_t GetTickCount64() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

TclWaitEvent::TclWaitEvent() : FHandle(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (FHandle < 0) RaiseSystemSocketError(errno);
}

TclWaitEvent::~TclWaitEvent() { ::close(FHandle); }

void TclWaitEvent::Signal() {
  uint64_t one = 1;
  ssize_t ignored = ::write(FHandle, &one, sizeof one);
  (void)ignored;
}

void TclWaitEvent::Reset() {
  uint64_t count;
  ssize_t ignored = ::read(FHandle, &count, sizeof count);
  (void)ignored;
}

short SocketWait(int aSocket, short aEvents, TclWaitEvent* aAbortEvent, int64_t aStartTicks, int32_t aTimeOut) {
  TclMessagePump& pump = TclMessagePump::Current();
  const bool sliced = pump.HasEventProcessor();
  auto timedOut = [&] { return aTimeOut >= 0 && GetTickCount64() - aStartTicks >= aTimeOut; };
  const int64_t remaining = aTimeOut < 0 ? -1 : std::max<int64_t>(0, aTimeOut - (GetTickCount64() - aStartTicks));

  pollfd fds[3] = {{aSocket, aEvents, 0}, {pump.Handle(), POLLIN, 0}, {-1, POLLIN, 0}};
  nfds_t count = 2;
  if (aAbortEvent) {
    fds[2].fd = aAbortEvent->Handle();
    count = 3;
  }
  int rc = ::poll(fds, count, PollTimeout(remaining, sliced));
  if (rc < 0) {
    if (errno == EINTR) return 0;
    RaiseSystemSocketError(errno);
  }
  if (fds[0].revents) {
    // A socket that is always ready must not starve the thread's messages or its window.
    if (fds[1].revents || (sliced && EventSliceDue())) ServeEvents(pump);
    return fds[0].revents;
  }
  if (count == 3 && fds[2].revents) return 0;
  if (fds[1].revents || sliced) {
    ServeEvents(pump);
    if (timedOut()) RaiseSocketError(clSocketTimeOutError);
    return 0;
  }
  if (timedOut()) RaiseSocketError(clSocketTimeOutError);
  return 0;
}

void ServedPause(int64_t aMilliseconds, TclWaitEvent* aAbortEvent) {
  TclMessagePump& pump = TclMessagePump::Current();
  const int64_t start = GetTickCount64();
  for (;;) {
    int64_t remaining = aMilliseconds - (GetTickCount64() - start);
    if (remaining <= 0) return;
    pollfd fds[2] = {{pump.Handle(), POLLIN, 0}, {aAbortEvent ? aAbortEvent->Handle() : -1, POLLIN, 0}};
    int rc = ::poll(fds, 2, PollTimeout(remaining, pump.HasEventProcessor()));
    if (rc < 0 && errno != EINTR) RaiseSystemSocketError(errno);
    if (fds[1].revents) return;
    if (fds[0].revents || pump.HasEventProcessor()) pump.ProcessPendingEvents();
  }
}
