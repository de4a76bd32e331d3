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

}  // namespace

TEST(TclDownLoadThreader, WaitServesTheEventsAndRaisesOnlyItsOwnThreadersException) {
  TempDir dir;
  const std::string data = PatternBytes(40000);
  WriteFile(dir.File("slow.bin"), data);
  HttpFixture server;
  fx::ServeOptions slow;
  slow.Split = 4000;
  slow.DelayMs = 30;
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
  HttpFixture server;
  server.Route("/missing", {fx::Send(NotFound())});
  TclDownLoadThreader threader(server.Url("/missing"), nullptr, false);
  threader.SetReconnectAfter(2000);
  std::vector<int32_t> codes;
  std::vector<TclProcessStatus> statuses;
  threader.OnError = [&](TclCustomThreader*, const std::string& aError, int32_t aCode) {
    codes.push_back(aCode);
    EXPECT_EQ(aError, "HTTP resource access error occured, code = 404");
  };
  threader.OnStatusChanged = [&](TclCustomThreader*, TclProcessStatus aStatus) { statuses.push_back(aStatus); };
  threader.Perform();
  threader.Wait();
  EXPECT_EQ(codes, std::vector<int32_t>{404});
  EXPECT_EQ(statuses, (std::vector<TclProcessStatus>{psProcess, psFailed}));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 5u);
  for (size_t i = 1; i < requests.size(); ++i) {
    const double gap = requests[i].Time - requests[i - 1].Time;
    EXPECT_GT(gap, 1.9) << "try " << i + 1;
    EXPECT_LT(gap, 3.0) << "try " << i + 1;
  }
}

TEST(TclDownLoadThreader, StopDuringThePauseEndsAtOnceWithoutError) {
  HttpFixture server;
  server.Route("/missing", {fx::Send(NotFound())});
  TclDownLoadThreader threader(server.Url("/missing"), nullptr, false);
  threader.SetReconnectAfter(60000);
  std::vector<int32_t> codes;
  std::vector<TclProcessStatus> statuses;
  threader.OnError = [&](TclCustomThreader*, const std::string&, int32_t aCode) { codes.push_back(aCode); };
  threader.OnStatusChanged = [&](TclCustomThreader*, TclProcessStatus aStatus) { statuses.push_back(aStatus); };
  threader.Perform();
  ASSERT_TRUE(ServeUntil([&] { return !server.Requests().empty(); }));
  ServeUntil([] { return false; }, 300);  // the refusal arrives, the pause begins
  const auto stopped = TClock::now();
  threader.Stop();
  threader.Wait();
  EXPECT_LT(SecondsSince(stopped), 1.0);
  EXPECT_TRUE(codes.empty());
  EXPECT_EQ(statuses, (std::vector<TclProcessStatus>{psProcess, psTerminated}));
  EXPECT_EQ(server.Requests().size(), 1u);
}
