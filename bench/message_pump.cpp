// Synchronized round trips per second: 1, 5 and 10 worker threads each call Send in a loop into
// one thread that pumps as the UI thread does (ProcessMessages whenever poll finds the pump's
// handle readable), and the same through the download engine's TclThreadSynchronizer made on that
// thread (its own hand-off state on top of Send). The peer, measured in the same run, is the
// textbook hand-off: a mutex and a condition variable guarding a queue of std::packaged_task,
// each worker waiting on its future.
// Usage: bench_message_pump [rounds, default 7]
#include <poll.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/BenchResult.h"
#include "common/clMessagePump.h"
#include "engine/clThreadSynchronizer.h"

namespace {

// Short rounds, ours and the peer's taken in turn, and the median of each: the machine is shared,
// and a burst of load elsewhere then spoils one round of either side instead of a whole figure.
constexpr auto RoundTime = std::chrono::milliseconds(300);

double ProcessCpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

struct Figures {
  double TripsPerSecond;
  double CpuMicrosPerTrip;  // all threads
};

Figures Median(std::vector<Figures> aRounds) {
  auto middle = aRounds.begin() + aRounds.size() / 2;
  std::nth_element(aRounds.begin(), middle, aRounds.end(),
                   [](const Figures& a, const Figures& b) { return a.TripsPerSecond < b.TripsPerSecond; });
  return *middle;
}

// Starts aWorkers threads that call aRoundTrip until the run time is over.
Figures Measure(int aWorkers, const std::function<void()>& aRoundTrip) {
  std::atomic<bool> stop{false};
  std::atomic<int64_t> trips{0};
  std::vector<std::thread> workers;
  auto start = std::chrono::steady_clock::now();
  double cpuStart = ProcessCpuSeconds();
  for (int i = 0; i < aWorkers; ++i)
    workers.emplace_back([&] {
      int64_t mine = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        aRoundTrip();
        ++mine;
      }
      trips += mine;
    });
  std::this_thread::sleep_for(RoundTime);
  stop = true;
  for (auto& worker : workers) worker.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double cpu = ProcessCpuSeconds() - cpuStart;
  return {trips / seconds, cpu * 1e6 / trips};
}

// The UI thread's side: a poll loop on the pump's handle.
class PumpThread {
public:
  PumpThread() {
    std::promise<std::shared_ptr<TclMessagePump>> started;
    auto pump = started.get_future();
    FThread = std::thread([this, &started] {
      FSynchronizer = std::make_unique<TclThreadSynchronizer>();
      started.set_value(TclMessagePump::CurrentShared());
      TclMessagePump& own = TclMessagePump::Current();
      while (!FStop.load(std::memory_order_relaxed)) {
        pollfd fd{own.Handle(), POLLIN, 0};
        if (::poll(&fd, 1, 100) > 0) own.ProcessMessages();
      }
    });
    FPump = pump.get();
  }
  ~PumpThread() {
    FStop = true;
    FPump->Post([] {});
    FThread.join();
  }
  TclMessagePump& Pump() { return *FPump; }
  TclThreadSynchronizer& Synchronizer() { return *FSynchronizer; }

private:
  std::atomic<bool> FStop{false};
  std::unique_ptr<TclThreadSynchronizer> FSynchronizer;
  std::shared_ptr<TclMessagePump> FPump;
  std::thread FThread;
};

class PeerThread {
public:
  PeerThread()
      : FThread([this] {
          std::unique_lock<std::mutex> lock(FLock);
          for (;;) {
            FReady.wait(lock, [this] { return FStop || !FQueue.empty(); });
            if (FQueue.empty()) return;
            auto task = std::move(FQueue.front());
            FQueue.pop_front();
            lock.unlock();
            task();
            lock.lock();
          }
        }) {}
  ~PeerThread() {
    {
      std::lock_guard<std::mutex> guard(FLock);
      FStop = true;
    }
    FReady.notify_one();
    FThread.join();
  }
  void Send(std::function<void()> aHandler) {
    std::packaged_task<void()> task(std::move(aHandler));
    auto done = task.get_future();
    {
      std::lock_guard<std::mutex> guard(FLock);
      FQueue.push_back(std::move(task));
    }
    FReady.notify_one();
    done.get();
  }

private:
  std::mutex FLock;
  std::condition_variable FReady;
  std::deque<std::packaged_task<void()>> FQueue;
  bool FStop = false;
  std::thread FThread;
};

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  // Touched by both serving threads, never at once: each Send returns after its handler ran.
  int64_t handled = 0;
  for (int workers : {1, 5, 10}) {
    PumpThread pump;
    PeerThread plain;
    std::vector<Figures> oursRounds, syncRounds, peerRounds;
    for (int round = 0; round < rounds; ++round) {
      oursRounds.push_back(Measure(workers, [&] {
        if (!pump.Pump().Send([&] { ++handled; })) std::exit(1);
      }));
      syncRounds.push_back(Measure(workers, [&] { pump.Synchronizer().Synchronize([&] { ++handled; }); }));
      peerRounds.push_back(Measure(workers, [&] { plain.Send([&] { ++handled; }); }));
    }
    Figures ours = Median(oursRounds), sync = Median(syncRounds), peer = Median(peerRounds);
    std::printf("Send round trips, %2d workers: ours %.0f/s (%.1f us CPU each), peer %.0f/s (%.1f us CPU each), "
                "ratio ours/peer %.2f\n",
                workers, ours.TripsPerSecond, ours.CpuMicrosPerTrip, peer.TripsPerSecond, peer.CpuMicrosPerTrip,
                ours.TripsPerSecond / peer.TripsPerSecond);
    std::printf("Synchronize round trips, %2d workers: %.0f/s (%.1f us CPU each), ratio to peer %.2f\n", workers,
                sync.TripsPerSecond, sync.CpuMicrosPerTrip, sync.TripsPerSecond / peer.TripsPerSecond);
    const std::string count = std::to_string(workers), threads = count + (workers == 1 ? " worker" : " workers");
    zvbench::PrintResult(("pump-send-" + count).c_str(),
                         ("synchronized calls, " + threads + ": message pump Send vs mutex+condvar").c_str(),
                         ours.TripsPerSecond, peer.TripsPerSecond, "calls/s");
    zvbench::PrintResult(("engine-synchronize-" + count).c_str(),
                         ("synchronized calls, " + threads + ": engine Synchronize vs mutex+condvar").c_str(),
                         sync.TripsPerSecond, peer.TripsPerSecond, "calls/s");
  }
  return handled > 0 ? 0 : 1;
}
