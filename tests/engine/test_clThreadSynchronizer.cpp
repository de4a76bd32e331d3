#include "engine/clThreadSynchronizer.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/clMessagePump.h"
#include "engine/clInternetError.h"
#include "net/clSocketWait.h"

namespace {

struct TWorkerError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Serves the calling thread's pump until aDone holds.
void PumpUntil(const std::atomic<bool>& aDone) {
  TclMessagePump& pump = TclMessagePump::Current();
  while (!aDone) {
    pollfd fd{pump.Handle(), POLLIN, 0};
    ::poll(&fd, 1, 10);
    pump.ProcessMessages();
  }
}

int32_t SyncErrorCode(TclThreadSynchronizer& aSync) {
  try {
    aSync.Synchronize([] { ADD_FAILURE() << "ran on a thread that no longer serves calls"; });
  } catch (const EclInternetError& e) {
    return e.ErrorCode();
  }
  return 0;
}

}  // namespace

TEST(TclThreadSynchronizer, RunsCallsOnTheBaseThreadAndCarriesEachExceptionToItsOwnCaller) {
  TclThreadSynchronizer sync;
  EXPECT_EQ(sync.SyncBaseThreadID(), std::this_thread::get_id());
  const std::thread::id base = std::this_thread::get_id();
  constexpr int cWorkers = 6, cCalls = 200;
  std::atomic<int> finished{0};
  std::atomic<bool> done{false};
  int counter = 0;  // touched only on the base thread
  std::vector<std::string> caught(cWorkers);
  std::vector<std::thread> workers;
  for (int w = 0; w < cWorkers; ++w)
    workers.emplace_back([&, w] {
      for (int i = 0; i < cCalls; ++i) {
        try {
          sync.Synchronize([&] {
            EXPECT_EQ(std::this_thread::get_id(), base);
            ++counter;
            // Odd workers fail on one call; nobody else may see it.
            if (w % 2 == 1 && i == 100) throw TWorkerError("worker " + std::to_string(w));
          });
        } catch (const TWorkerError& e) {
          caught[w] += e.what();
        }
      }
      if (++finished == cWorkers) done = true;
    });
  EXPECT_NO_THROW(PumpUntil(done));
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(counter, cWorkers * cCalls);
  for (int w = 0; w < cWorkers; ++w) EXPECT_EQ(caught[w], w % 2 == 1 ? "worker " + std::to_string(w) : "");

  // On the base thread itself the call runs at once, its exception plainly raised.
  EXPECT_THROW(sync.Synchronize([] { throw TWorkerError("here"); }), TWorkerError);
}

TEST(TclThreadSynchronizer, BaseThreadInASocketWaitServesTheCall) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
  TclThreadSynchronizer sync;
  bool ranHere = false;
  // The peer writes only after its call ran, so the wait ends only if it served the call.
  std::thread worker([&] {
    sync.Synchronize([&] { ranHere = std::this_thread::get_id() == sync.SyncBaseThreadID(); });
    EXPECT_EQ(::write(pair[1], "x", 1), 1);
  });
  const int64_t start = GetTickCount64();
  while (SocketWait(pair[0], POLLIN, nullptr, start, 20000) == 0) {
  }
  worker.join();
  EXPECT_TRUE(ranHere);
  ::close(pair[0]);
  ::close(pair[1]);
}

TEST(TclThreadSynchronizer, ACallToAThreadThatStoppedServingRaisesInsteadOfHanging) {
  // The base thread has ended.
  std::unique_ptr<TclThreadSynchronizer> orphan;
  std::thread([&] { orphan = std::make_unique<TclThreadSynchronizer>(); }).join();
  EXPECT_EQ(SyncErrorCode(*orphan), clSyncThreadEndedError);

  // The base thread lives but closes its pump while a call waits in it.
  std::promise<std::shared_ptr<TclMessagePump>> basePump;
  std::promise<void> release;
  std::unique_ptr<TclThreadSynchronizer> sync;
  std::thread base([&] {
    sync = std::make_unique<TclThreadSynchronizer>();
    basePump.set_value(TclMessagePump::CurrentShared());
    release.get_future().wait();
  });
  std::shared_ptr<TclMessagePump> pump = basePump.get_future().get();
  std::future<int32_t> code = std::async(std::launch::async, [&] { return SyncErrorCode(*sync); });
  pollfd queued{pump->Handle(), POLLIN, 0};
  ASSERT_EQ(::poll(&queued, 1, 20000), 1);
  pump->Close();
  EXPECT_EQ(code.get(), clSyncThreadEndedError);
  release.set_value();
  base.join();
}
