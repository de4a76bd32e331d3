#include "engine/clDownLoadThreader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/engine/DownLoadEvents.h"
#include "tests/support/HttpFixture.h"

using namespace zvtest;

namespace {

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point aStart) {
  return std::chrono::duration<double>(TClock::now() - aStart).count();
}

struct TRefused : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string NotFound() { return HttpResponse(404, "Not Found", {"Content-Type: text/plain"}, "gone"); }

// A threader for a path that is always refused, with its error codes and statuses recorded.
struct TRefusedThreader {
  explicit TRefusedThreader(int32_t aReconnectAfter) {
    Server.Route("/missing", {fx::Send(NotFound())});
    Threader.SetReconnectAfter(aReconnectAfter);
    Threader.OnError = [this](TclCustomThreader*, const std::string& aError, int32_t aCode) {
      Codes.push_back(aCode);
      EXPECT_EQ(aError, "HTTP resource access error occured, code = 404");
    };
    Threader.OnStatusChanged = [this](TclCustomThreader*, TclProcessStatus aStatus) { Statuses.push_back(aStatus); };
  }
  HttpFixture Server;
  TclDownLoadThreader Threader{Server.Url("/missing"), nullptr, false};
  std::vector<int32_t> Codes;
  std::vector<TclProcessStatus> Statuses;
};

}  // namespace

TEST(TclDownLoadThreader, WaitServesTheEventsAndRaisesOnlyItsOwnThreadersException) {
  TempDir dir;
  const std::string data = PatternBytes(40000);
  WriteFile(dir.File("slow.bin"), data);
  HttpFixture server;
  const fx::ServeOptions slow = Slowly(4000, 30);
  server.Route("/slow.bin", {fx::Serve(dir.File("slow.bin"), slow)});
  server.Route("/missing", {fx::Send(NotFound())});

  TMemoryStream stream;
  TclDownLoadThreader good(server.Url("/slow.bin"), &stream, false);
  TclDownLoadThreader bad(server.Url("/missing"), nullptr, false);
  bad.SetTryCount(1);
  bool badReported = false;
  bad.OnError = [&](TclCustomThreader*, const std::string&, int32_t) {
    badReported = true;
    throw TRefused("refused in a handler");
  };
  std::thread::id eventThread;
  int64_t received = 0;
  good.OnDataItemProceed = [&](TclCustomThreader*, TclResourceInfo*, int64_t, const char*, int32_t aSize) {
    eventThread = std::this_thread::get_id();
    received += aSize;
  };
  TClock::time_point ended;
  good.OnTerminate = [&](TclThread*) { ended = TClock::now(); };
  bad.Perform();
  good.Perform();
  EXPECT_NO_THROW(good.Wait());
  EXPECT_LT(SecondsSince(ended), 0.5) << "the wait outlasted the thread";
  EXPECT_TRUE(badReported) << "the other threader's events were not served during the wait";
  EXPECT_EQ(eventThread, std::this_thread::get_id());
  EXPECT_EQ(received, int64_t(data.size()));
  EXPECT_TRUE(SameBytes(stream.Data(), data));
  EXPECT_EQ(good.Status(), psSuccess);
  EXPECT_THROW(bad.Wait(), TRefused);
}

TEST(TclDownLoadThreader, RefusedStatusIsTriedTryCountTimesApartThenReportedOnce) {
  TRefusedThreader refused(2000);
  refused.Threader.Perform();
  refused.Threader.Wait();
  EXPECT_EQ(refused.Codes, std::vector<int32_t>{404});
  EXPECT_EQ(refused.Statuses, (std::vector<TclProcessStatus>{psProcess, psFailed}));
  const auto requests = refused.Server.Requests();
  ASSERT_EQ(requests.size(), 5u);
  for (size_t i = 1; i < requests.size(); ++i) {
    const double gap = requests[i].Time - requests[i - 1].Time;
    EXPECT_GT(gap, 1.9) << "try " << i + 1;
    EXPECT_LT(gap, 3.0) << "try " << i + 1;
  }
}

TEST(TclDownLoadThreader, StopDuringThePauseEndsAtOnceWithoutError) {
  TRefusedThreader refused(60000);
  refused.Threader.Perform();
  ASSERT_TRUE(ServeUntil([&] { return !refused.Server.Requests().empty(); }));
  ServeUntil([] { return false; }, 300);  // the refusal arrives, the pause begins
  const auto stopped = TClock::now();
  refused.Threader.Stop();
  refused.Threader.Wait();
  EXPECT_LT(SecondsSince(stopped), 1.0);
  EXPECT_TRUE(refused.Codes.empty());
  EXPECT_EQ(refused.Statuses, (std::vector<TclProcessStatus>{psProcess, psTerminated}));
  EXPECT_EQ(refused.Server.Requests().size(), 1u);
}
