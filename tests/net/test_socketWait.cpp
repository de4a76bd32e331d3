// The socket wait against a local socket pair: what it serves while it waits, and how it ends.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "common/clMessagePump.h"
#include "net/clSocketWait.h"

namespace {

class SocketPair {
public:
  SocketPair() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, FEnds) != 0) throw std::runtime_error("socketpair");
  }
  ~SocketPair() {
    ::close(FEnds[0]);
    ::close(FEnds[1]);
  }
  int Near() const { return FEnds[0]; }
  // Leaves a byte unread, so the near end stays readable.
  void Feed() const { EXPECT_EQ(::write(FEnds[1], "x", 1), 1); }

private:
  int FEnds[2];
};

}  // namespace

TEST(SocketWaitTest, AReadySocketStillServesPendingMessages) {
  SocketPair pair;
  pair.Feed();
  bool ran = false;
  TclMessagePump::Current().Post([&] { ran = true; });
  EXPECT_EQ(SocketWait(pair.Near(), POLLIN, nullptr, GetTickCount64(), 1000), POLLIN);
  EXPECT_TRUE(ran);
}

TEST(SocketWaitTest, AReadySocketStillGivesTheWindowItsSlices) {
  SocketPair pair;
  pair.Feed();
  auto& pump = TclMessagePump::Current();
  int served = 0;
  pump.SetEventProcessor([&] {
    ++served;
    pump.ProcessMessages();
  });
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  while (std::chrono::steady_clock::now() < end) EXPECT_EQ(SocketWait(pair.Near(), POLLIN, nullptr, GetTickCount64(), 1000), POLLIN);
  pump.SetEventProcessor(nullptr);
  EXPECT_GE(served, 2);
}

TEST(SocketWaitTest, APostedHandlersExceptionStaysOutOfTheWait) {
  SocketPair pair;
  auto& pump = TclMessagePump::Current();
  int reported = 0;
  pump.SetExceptionHandler([&](std::exception_ptr) { ++reported; });
  pump.Post([] { throw std::runtime_error("handler failed"); });
  EXPECT_EQ(SocketWait(pair.Near(), POLLIN, nullptr, GetTickCount64(), 1000), 0);
  pair.Feed();
  EXPECT_EQ(SocketWait(pair.Near(), POLLIN, nullptr, GetTickCount64(), 1000), POLLIN);
  pump.SetExceptionHandler(nullptr);
  EXPECT_EQ(reported, 1);
}

TEST(SocketWaitTest, AnAbortFromAnotherThreadEndsAWaitWithoutTimeOut) {
  SocketPair pair;
  TclWaitEvent abort;
  std::thread aborter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    abort.Signal();
  });
  EXPECT_EQ(SocketWait(pair.Near(), POLLIN, &abort, GetTickCount64(), -1), 0);
  aborter.join();
}
