// The engine under injected faults: one item of a random file fetched over 5 ranges through the
// fault proxy while it is stopped and started at random moments (right after a start, from inside
// a data event, or after a random time); every round that finishes must have written the source
// byte for byte, every stop must end the run at once, and no run may sit without an event for
// longer than a time-out allows.
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "engine/clMultiDownLoader.h"
#include "tests/soak/FaultProxy.h"
#include "tests/soak/Soak.h"
#include "tests/support/WebServers.h"

namespace zvsoak {
namespace {

namespace fs = std::filesystem;

constexpr int32_t cTimeOutMs = 1500;
constexpr int32_t cReconnectMs = 50;
constexpr double cStallSeconds = 2.5;
// A stop ends every range at once; this leaves room for a loaded machine.
constexpr int cStopLimitMs = 2 * cTimeOutMs;
// The longest a running item may go without any event: a stalled read runs into its time-out,
// the pause before the next try, and a new request that may stall again.
constexpr int cQuietLimitMs = 2 * cTimeOutMs + int(cStallSeconds * 1000) + cReconnectMs + 3000;

// Bytes at which two files of the same length differ (the length difference counts as wrong too).
int64_t WrongBytes(const std::string& aFile, const std::string& aExpected) {
  std::ifstream a(aFile, std::ios::binary), b(aExpected, std::ios::binary);
  std::vector<char> x(1 << 20), y(1 << 20);
  int64_t wrong = 0;
  for (;;) {
    a.read(x.data(), std::streamsize(x.size()));
    b.read(y.data(), std::streamsize(y.size()));
    const std::streamsize n = std::min(a.gcount(), b.gcount());
    for (std::streamsize i = 0; i < n; ++i) wrong += x[size_t(i)] != y[size_t(i)];
    wrong += std::max(a.gcount(), b.gcount()) - n;
    if (a.gcount() == 0 || b.gcount() == 0) return wrong;
  }
}

enum class TStopWay { AfterStart, InDataEvent, AfterTime };

class TEngineSoak {
public:
  TEngineSoak(const TSoakOptions& aOptions, TFindings& aFindings)
      : FOptions(aOptions), FFindings(aFindings), FRandom(aOptions.Seed) {
    FSize = aOptions.Long ? int64_t(1) << 30 : int64_t(32) << 20;
    FCycles = aOptions.Long ? 100 : 30;
    FBudget = aOptions.Long ? 3600 : 50;
    // Ample for the whole file even when every exchange met a stall.
    FRunLimit = aOptions.Long ? 900 : 60;
  }

  void Run() {
    std::printf("engine: making a %" PRId64 " MiB random file...\n", FSize >> 20);
    std::fflush(stdout);
    zvtest::WriteRandomFile(FSource.File("big.bin"), FSize, FOptions.Seed);
    FSourceSha = zvtest::FileSha256(FSource.File("big.bin"));
    zvtest::NginxServer nginx(FSource.Path());
    TFaultProxy proxy(nginx.Port(), {FOptions.Seed, 0.15, cStallSeconds, ""});
    Setup(proxy.Url("/big.bin"));
    const TClock::time_point start = TClock::now();

    // Runs that finish before their stop do not count: a round ends and the next begins.
    for (int cycle = 0; FStops < FCycles && cycle < 4 * FCycles && Healthy() && SecondsSince(start) < FBudget; ++cycle)
      Cycle();
    // The last round is finished, faults and all.
    for (int tries = 0; tries < 50 && Healthy() && SecondsSince(start) < FBudget + 600; ++tries) {
      FItem->Start();
      if (!RunUntil([] { return false; })) break;
      if (RoundEnded()) break;
    }
    std::printf(
        "engine: %d stop/starts (%d right after the start, %d inside a data event, %d after a time), %d rounds "
        "finished, %" PRId64 " bytes checked, %" PRId64 " bytes wrong, %d failed runs started again, longest stop "
        "%.3f s, %d hangs, %.1f s\n",
        FStops, FWays[TStopWay::AfterStart], FWays[TStopWay::InDataEvent], FWays[TStopWay::AfterTime], FRounds,
        FChecked, FWrong, FFailedRuns, FLongestStop, FHangs, SecondsSince(start));
    std::printf("engine: errors reported by code:");
    for (const auto& [code, count] : FErrorCodes) std::printf(" %d×%d", code, count);
    std::printf("\nengine: faults injected: %s, %" PRId64 " exchanges\n", proxy.Summary().c_str(),
                proxy.Counts()["exchanges"]);
    if (FRounds == 0) FFindings.Add("engine: no round finished");
    FControl.reset();
  }

private:
  void Setup(const std::string& aUrl) {
    FControl = std::make_unique<TclMultiDownLoader>();
    FControl->SetTimeOut(cTimeOutMs);
    FControl->SetReconnectAfter(cReconnectMs);
    FControl->OnDataItemProceed = [this](TclMultiInternetControl*, TclInternetItem* aItem, TclResourceInfo*,
                                         TclResourceStateItem*, const char*, int32_t) {
      FLastEvent = TClock::now();
      if (FStopAt >= 0 && aItem->ResourceState().BytesProceed() >= FStopAt) {
        FStopAt = -1;
        StopNow();
      }
    };
    FControl->OnStatusChanged = [this](TclMultiInternetControl*, TclInternetItem*, TclProcessStatus) {
      FLastEvent = TClock::now();
    };
    FControl->OnError = [this](TclMultiInternetControl*, TclInternetItem*, const std::string&, int32_t aCode) {
      FLastEvent = TClock::now();
      ++FErrorCodes[aCode];
    };
    FItem = FControl->DownLoadList().Add();
    FItem->SetURL(aUrl);
    FItem->SetThreadCount(5);
    FItem->SetLocalFile(FOut.File("round-0.bin"));
  }

  bool Healthy() const { return FHangs == 0 && FWrong == 0; }

  void StopNow() {
    FItem->Stop();
    FStopped = TClock::now();
    ++FStops;
  }

  void Cycle() {
    if (!FItem->IsBusy()) FItem->Start();
    const int64_t done = FItem->ResourceState().BytesProceed();
    const TStopWay way = TStopWay(Pick(FRandom, 0, 2));
    ++FWays[way];
    if (way == TStopWay::InDataEvent) {
      const int64_t share = 2 * (FSize - done) / (FCycles - FStops + 1);
      FStopAt = done + Pick(FRandom, 1, std::max<int64_t>(share, 2));
    } else {
      const int64_t ms = way == TStopWay::AfterStart ? Pick(FRandom, 0, 150)
                                                    : Pick(FRandom, 5, FOptions.Long ? 3000 : 100);
      const TClock::time_point due = TClock::now() + std::chrono::milliseconds(ms);
      if (!RunUntil([&] { return TClock::now() >= due; })) return;
      if (FItem->IsBusy()) StopNow();
    }
    if (!RunUntil([] { return false; })) return;
    FStopAt = -1;
    if (FItem->IsBusy()) {
      FFindings.Add("engine: item still busy after its run ended");
      ++FHangs;
      return;
    }
    RoundEnded();
  }

  // Serves events until aDone holds or the item is idle. False on a hang: no event for too long
  // while running, or a stop that did not end the run in time.
  bool RunUntil(const std::function<bool()>& aDone) {
    FLastEvent = TClock::now();
    const TClock::time_point start = FLastEvent;
    for (;;) {
      if (SecondsSince(start) > FRunLimit) {
        FFindings.Add("engine: a run went on for more than " + std::to_string(int(FRunLimit)) + " s");
        ++FHangs;
        return false;
      }
      ServeUntil([&] { return aDone() || !FItem->IsBusy(); }, 50);
      if (!FItem->IsBusy()) {
        if (FStopped != TClock::time_point{}) {
          FLongestStop = std::max(FLongestStop, SecondsSince(FStopped));
          FStopped = {};
        }
        return true;
      }
      if (aDone()) return true;
      if (FStopped != TClock::time_point{} && SecondsSince(FStopped) * 1000 > cStopLimitMs) {
        FFindings.Add("engine: a stop did not end the run within " + std::to_string(cStopLimitMs) + " ms");
        ++FHangs;
        return false;
      }
      if (SecondsSince(FLastEvent) * 1000 > cQuietLimitMs) {
        FFindings.Add("engine: no event for " + std::to_string(cQuietLimitMs) + " ms while running");
        ++FHangs;
        return false;
      }
    }
  }

  // After a run: a finished round is checked and the next one begins; a failed run is counted.
  // True when a round finished.
  bool RoundEnded() {
    const TclProcessStatus status = FItem->ResourceState().LastStatus();
    if (status == psFailed || status == psErrors) ++FFailedRuns;
    if (status != psSuccess) return false;
    const std::string file = FItem->LocalFile();
    if (zvtest::FileSha256(file) != FSourceSha) {
      const int64_t wrong = WrongBytes(file, FSource.File("big.bin"));
      FWrong += std::max<int64_t>(wrong, 1);
      FFindings.Add("engine: round " + std::to_string(FRounds) + " wrote " + std::to_string(wrong) + " wrong bytes");
    }
    FChecked += FSize;
    ++FRounds;
    fs::remove(file);
    FItem->SetLocalFile(FOut.File("round-" + std::to_string(FRounds) + ".bin"));
    return true;
  }

  const TSoakOptions& FOptions;
  TFindings& FFindings;
  TRandom FRandom;
  int64_t FSize = 0;
  int FCycles = 0;
  double FBudget = 0, FRunLimit = 0;
  zvtest::TempDir FSource, FOut;
  std::string FSourceSha;
  std::unique_ptr<TclMultiDownLoader> FControl;
  TclDownLoadItem* FItem = nullptr;

  TClock::time_point FLastEvent, FStopped;
  int64_t FStopAt = -1;
  int FStops = 0, FRounds = 0, FFailedRuns = 0, FHangs = 0;
  std::map<TStopWay, int> FWays;
  std::map<int32_t, int> FErrorCodes;
  int64_t FChecked = 0, FWrong = 0;
  double FLongestStop = 0;
};

}  // namespace

void SoakEngine(const TSoakOptions& aOptions, TFindings& aFindings) { TEngineSoak(aOptions, aFindings).Run(); }

}  // namespace zvsoak
