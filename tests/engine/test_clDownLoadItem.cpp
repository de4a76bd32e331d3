#include "engine/clDownLoadItem.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/clMessagePump.h"
#include "engine/clInternetError.h"
#include "engine/clMultiDownLoader.h"
#include "engine/clRangeReply.h"
#include "tests/engine/DownLoadEvents.h"
#include "tests/support/HttpFixture.h"
#include "tests/support/WebServers.h"

using namespace zvtest;

namespace {

using TLines = std::vector<std::string>;

// A control whose failing tries are short, with its events recorded.
struct TDownLoader {
  TDownLoader() : Events(Control) {
    Control.SetReconnectAfter(50);
    Control.SetTimeOut(3000);
  }
  TclDownLoadItem* Add(const std::string& aURL, const std::string& aLocalFile, int32_t aThreadCount = 5) {
    TclDownLoadItem* item = Control.DownLoadList().Add();
    item->SetURL(aURL);
    item->SetLocalFile(aLocalFile);
    item->SetThreadCount(aThreadCount);
    return item;
  }
  // Starts the item and serves the thread until its run is over.
  void Run(TclDownLoadItem* aItem) {
    const int before = Events.Completed();
    aItem->Start();
    ASSERT_TRUE(ServeUntil([&] { return Events.Completed() > before; }, 60000));
  }

  TclMultiDownLoader Control;
  TDownLoadEvents Events;
};

// The Range values of the requests, in arrival order ("" for none).
TLines Ranges(const HttpFixture& aServer) {
  TLines result;
  for (const RecordedRequest& request : aServer.Requests()) result.push_back(request.Field("Range"));
  return result;
}

TLines Sorted(TLines aLines) {
  std::sort(aLines.begin(), aLines.end());
  return aLines;
}

// The first byte of a "bytes=first-last" value.
int64_t RangeStart(const std::string& aRange) { return std::stoll(aRange.substr(6)); }

// A file that holds aData where the given pieces are, and zeros elsewhere.
std::string Partial(const std::string& aData, const std::vector<std::pair<size_t, size_t>>& aPieces) {
  std::string file(aData.size(), '\0');
  for (auto [start, length] : aPieces) file.replace(start, length, aData, start, length);
  return file;
}

void AddRange(TclResourceStateList& aState, int64_t aPos, int64_t aLength, int64_t aDone) {
  TclResourceStateItem& range = aState.Add();
  range.SetResourcePos(aPos);
  range.SetBytesToProceed(aLength);
  range.SetBytesProceed(aDone);
}

}  // namespace

TEST(TclDownLoadItem, CutsTheResourceIntoRangesAndAsksForEachOnTheWire) {
  struct TCase {
    size_t Size;
    int32_t ThreadCount;
    TLines Ranges;
  };
  const TCase cases[] = {
      {100000, 5, {"bytes=0-19999", "bytes=20000-39999", "bytes=40000-59999", "bytes=60000-79999", "bytes=80000-99999"}},
      {20000, 5, {"bytes=0-9999", "bytes=10000-19999"}},
      {5000, 5, {"bytes=0-4999"}},
      {100003, 3, {"bytes=0-33333", "bytes=33334-66667", "bytes=66668-100002"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Size);
    TServedFile served(c.Size);
    auto& [dir, data, server] = served;
    server.Route("/f.flv", {fx::Serve(dir.File("source"))});
    TDownLoader loader;
    TclDownLoadItem* item = loader.Add(server.Url("/f.flv"), dir.File("f.flv.vtq"), c.ThreadCount);
    loader.Run(item);
    EXPECT_EQ(item->ResourceState().LastStatus(), psSuccess);
    EXPECT_TRUE(SameBytes(ReadFile(dir.File("f.flv.vtq")), data));
    const TLines ranges = Ranges(server);
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ(ranges.front(), "") << "the information request asks for no range";
    EXPECT_EQ(Sorted(TLines(ranges.begin() + 1, ranges.end())), c.Ranges);
  }
}

TEST(TclDownLoadItem, AReplyWithoutLengthIsFetchedWholeByOneRequest) {
  TempDir dir;
  const std::string data = PatternBytes(70000);
  HttpFixture server;
  server.Route("/stream", {fx::Send(HttpResponse(200, "OK", {"Content-Type: video/x-flv"}, data, false)), fx::Close()});
  TDownLoader loader;
  TclDownLoadItem* item = loader.Add(server.Url("/stream"), dir.File("stream.vtq"));
  loader.Run(item);
  EXPECT_EQ(item->ResourceState().LastStatus(), psSuccess);
  EXPECT_TRUE(SameBytes(ReadFile(dir.File("stream.vtq")), data));
  EXPECT_EQ(Ranges(server), (TLines{"", ""}));
  ASSERT_EQ(item->ResourceState().Count(), 1);
  EXPECT_EQ(item->ResourceState().Items(0).BytesProceed(), int64_t(data.size()));
}

TEST(TclDownLoadItem, RestartedItemAsksOnlyForTheMissingBytesOfEachRange) {
  TempDir dir;
  const std::string data = PatternBytes(300000);
  WriteFile(dir.File("source"), data);
  WriteFile(dir.File("f.vtq"), Partial(data, {{0, 30000}, {100000, 100000}, {200000, 10000}}));
  HttpFixture server;
  server.Route("/f", {fx::Serve(dir.File("source"))});
  TDownLoader loader;
  TclDownLoadItem* item = loader.Add(server.Url("/f"), dir.File("f.vtq"), 3);
  TclResourceStateList& state = item->ResourceState();
  state.SetResourceSize(300000);
  AddRange(state, 0, 100000, 30000);
  AddRange(state, 100000, 100000, 100000);
  AddRange(state, 200000, 100000, 10000);
  loader.Run(item);
  EXPECT_EQ(state.LastStatus(), psSuccess);
  EXPECT_TRUE(SameBytes(ReadFile(dir.File("f.vtq")), data));
  EXPECT_EQ(Sorted(Ranges(server)), (TLines{"", "bytes=210000-299999", "bytes=30000-99999"}));
  EXPECT_EQ(loader.Events.DataBytes(0), 70000 + 90000);
  EXPECT_EQ(state.BytesProceed(), 300000);
}

TEST(TclDownLoadItem, RangesAreLaidOutAfreshWhenTheFileIsGoneOrChanged) {
  for (bool truncated : {false, true}) {
    SCOPED_TRACE(truncated ? "truncated file" : "missing file");
    TempDir dir;
    const std::string data = PatternBytes(100000);
    WriteFile(dir.File("source"), data);
    if (truncated) WriteFile(dir.File("f.vtq"), data.substr(0, 60000));
    HttpFixture server;
    server.Route("/f", {fx::Serve(dir.File("source"))});
    TDownLoader loader;
    TclDownLoadItem* item = loader.Add(server.Url("/f"), dir.File("f.vtq"), 2);
    item->ResourceState().SetResourceSize(100000);
    AddRange(item->ResourceState(), 0, 50000, 25000);
    AddRange(item->ResourceState(), 50000, 50000, 25000);
    loader.Run(item);
    EXPECT_EQ(item->ResourceState().LastStatus(), psSuccess);
    EXPECT_TRUE(SameBytes(ReadFile(dir.File("f.vtq")), data));
    EXPECT_EQ(Sorted(Ranges(server)), (TLines{"", "bytes=0-49999", "bytes=50000-99999"}));
  }
}

TEST(TclDownLoadItem, StoppedRunEndsTerminatedAndItsResumeFetchesEveryByteOnce) {
  TServedFile served(200000);
  auto& [dir, data, server] = served;
  const fx::ServeOptions slow = Slowly(2000, 20);
  server.Route("/f", {fx::Serve(dir.File("source"), slow)}, 4, rfRanged);
  server.Route("/f", {fx::Serve(dir.File("source"))});
  TDownLoader loader;
  TclDownLoadItem* item = loader.Add(server.Url("/f"), dir.File("f.vtq"), 4);
  item->Start();
  ASSERT_TRUE(ServeUntil([&] { return loader.Events.DataBytes(0) >= 40000; }));
  item->Stop();
  ASSERT_TRUE(ServeUntil([&] { return loader.Events.Completed() == 1; }));
  EXPECT_EQ(loader.Events.Lines(), (TLines{"busy 1", "status 0 psProcess", "url 0", "info 0", "status 0 psTerminated",
                                           "text 0", "busy 0", "completed 0 psTerminated"}));
  const int64_t first = loader.Events.DataBytes(0);
  ASSERT_LT(first, int64_t(data.size()));

  loader.Run(item);
  EXPECT_EQ(item->ResourceState().LastStatus(), psSuccess);
  EXPECT_TRUE(SameBytes(ReadFile(dir.File("f.vtq")), data));
  EXPECT_EQ(loader.Events.DataBytes(0), int64_t(data.size())) << "bytes of the first run were fetched again";
}

TEST(TclDownLoadItem, StopWhileTheInformationPhaseEndsStartsNoDataPhase) {
  TServedFile served(200000);
  auto& [dir, data, server] = served;
  server.Route("/f", {fx::Serve(dir.File("source"))}, -1);
  TDownLoader loader;
  TclDownLoadItem* item = loader.Add(server.Url("/f"), dir.File("f.vtq"), 4);
  TclMessageTarget later;
  auto recorded = loader.Control.OnGetResourceInfo;
  loader.Control.OnGetResourceInfo = [&](TclMultiInternetControl* aSender, TclInternetItem* aItem,
                                         TclResourceInfo* aInfo) {
    if (recorded) recorded(aSender, aItem, aInfo);
    // Queued ahead of the information threader's end: when it runs, that threader has done its
    // work and only its end waits to be handled.
    later.Post([aItem] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      aItem->Stop();
    });
  };
  loader.Run(item);
  EXPECT_EQ(item->ResourceState().LastStatus(), psTerminated);
  EXPECT_EQ(loader.Events.ItemLines(0).back(), "completed 0 psTerminated");
  EXPECT_EQ(loader.Events.DataBytes(0), 0);
  EXPECT_EQ(server.Requests().size(), 1u) << "the stopped item went on to its data phase";
}

TEST(TclDownLoadItem, FaultyRepliesNeverPutWrongBytesIntoTheFile) {
  struct TCase {
    const char* Name;
    fx::ServeOptions Fault;
    bool Once;            // the first ranged request only; the others are served well
    bool Silent;          // the first ranged request gets no answer at all
    bool Completes;
    int32_t TimeOut = 3000;
  };
  auto options = [](auto aSet) {
    fx::ServeOptions o;
    aSet(o);
    return o;
  };
  const TCase cases[] = {
      {"connection dropped mid-range", options([](auto& o) { o.DropAfter = 5000; }), true, false, true},
      {"range cut short", options([](auto& o) { o.Short = 1000; }), true, false, true},
      {"range ignored", options([](auto& o) { o.IgnoreRange = true; }), false, false, true},
      {"range starting early", options([](auto& o) { o.Shift = -1000; }), false, false, true},
      {"silent server", {}, true, true, true, 500},
      {"range stalled midway", options([](auto& o) { o.StallAfter = 5000; }), true, false, true, 500},
      {"range starting late", options([](auto& o) { o.Shift = 1000; }), false, false, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TServedFile served(200000);
    auto& [dir, data, server] = served;
    if (c.Silent)
      server.Route("/f", {fx::Sleep(3000)}, 1, rfRanged);
    else
      server.Route("/f", {fx::Serve(dir.File("source"), c.Fault)}, c.Once ? 1 : -1, rfRanged);
    server.Route("/f", {fx::Serve(dir.File("source"))});
    TDownLoader loader;
    loader.Control.SetTimeOut(c.TimeOut);
    loader.Control.SetTryCount(3);
    TclDownLoadItem* item = loader.Add(server.Url("/f"), dir.File("f.vtq"), 4);
    loader.Run(item);
    const std::string file = ReadFile(dir.File("f.vtq"));
    ASSERT_EQ(file.size(), data.size());
    if (c.Completes) {
      EXPECT_EQ(item->ResourceState().LastStatus(), psSuccess);
      EXPECT_TRUE(SameBytes(file, data));
      EXPECT_TRUE(loader.Events.Errors().empty());
      continue;
    }
    EXPECT_EQ(item->ResourceState().LastStatus(), psFailed);
    ASSERT_FALSE(item->Errors().empty());
    EXPECT_EQ(item->Errors().front().Code, clRangeMismatchError);
    for (size_t i = 0; i < file.size(); ++i)
      if (file[i] != 0 && file[i] != data[i]) FAIL() << "wrong byte at " << i;
  }
}

TEST(TclDownLoadItem, ADroppedRangeContinuesWhereItStopped) {
  TServedFile served(200000);
  auto& [dir, data, server] = served;
  fx::ServeOptions drop;
  drop.DropAfter = 5000;
  server.Route("/f", {fx::Serve(dir.File("source"), drop)}, 1, rfRanged);
  server.Route("/f", {fx::Serve(dir.File("source"))});
  TDownLoader loader;
  TclDownLoadItem* item = loader.Add(server.Url("/f"), dir.File("f.vtq"), 4);
  loader.Run(item);
  EXPECT_TRUE(SameBytes(ReadFile(dir.File("f.vtq")), data));
  const TLines ranges = Ranges(server);
  ASSERT_EQ(ranges.size(), 6u);
  const int64_t dropped = RangeStart(ranges[1]);
  EXPECT_NE(std::find(ranges.begin() + 2, ranges.end(), "bytes=" + std::to_string(dropped + 5000) + "-" +
                                                            std::to_string(dropped + 49999)),
            ranges.end());
  EXPECT_EQ(loader.Events.DataBytes(0), int64_t(data.size()));
}

TEST(TclDownLoadItem, AFullDiskFailsTheRunWithAnErrorAndHarmsNothingElse) {
  TempDir mountPoint, dir;
  if (::mount("tmpfs", mountPoint.Path().c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "a small file system can only be mounted by root";
  struct TUnmount {
    std::string Path;
    ~TUnmount() { ::umount2(Path.c_str(), MNT_DETACH); }
  } unmount{mountPoint.Path()};
  const std::string data = PatternBytes(3 << 20);
  WriteFile(dir.File("source"), data);
  HttpFixture server;
  server.Route("/f", {fx::Serve(dir.File("source"))});
  TDownLoader loader;
  TclDownLoadItem* full = loader.Add(server.Url("/f"), mountPoint.File("f.vtq"));
  loader.Run(full);
  EXPECT_EQ(full->ResourceState().LastStatus(), psFailed);
  EXPECT_EQ(loader.Events.ItemLines(0), (TLines{"status 0 psProcess", "url 0", "info 0", "error 0 0", "status 0 psFailed",
                                                "completed 0 psFailed"}));
  ASSERT_EQ(full->Errors().size(), 1u);
  EXPECT_NE(full->Errors()[0].Text.find("space"), std::string::npos) << full->Errors()[0].Text;

  TclDownLoadItem* fine = loader.Add(server.Url("/f"), dir.File("f.vtq"));
  loader.Run(fine);
  EXPECT_TRUE(SameBytes(ReadFile(dir.File("f.vtq")), data));
}

TEST(TclDownLoadItem, StatusEventsOfFailingRunsFollowTheRanges) {
  struct TCase {
    const char* Name;
    int FailedRanges;  // ranged requests answered 404 (one try each)
    TLines Lines;
    TLines Alternative;  // when the second range fails only after the first one's end was reported
  };
  const TCase cases[] = {
      {"a range fails while the other runs",
       1,
       {"status 0 psProcess", "url 0", "info 0", "error 0 404", "status 0 psFailed", "status 0 psProcess",
        "status 0 psSuccess", "text 0", "completed 0 psSuccess"},
       {}},
      {"all ranges fail",
       2,
       {"status 0 psProcess", "url 0", "info 0", "error 0 404", "error 0 404", "status 0 psFailed", "text 0",
        "completed 0 psFailed"},
       {"status 0 psProcess", "url 0", "info 0", "error 0 404", "status 0 psFailed", "status 0 psProcess",
        "error 0 404", "status 0 psFailed", "text 0", "completed 0 psFailed"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TServedFile served(40000);
    auto& [dir, data, server] = served;
    server.Route("/f", {fx::Send(HttpResponse(404, "Not Found"))}, c.FailedRanges, rfRanged);
    const fx::ServeOptions slow = Slowly(2000, 20);
    server.Route("/f", {fx::Serve(dir.File("source"), slow)});
    TDownLoader loader;
    loader.Control.SetTryCount(1);
    TclDownLoadItem* item = loader.Add(server.Url("/f"), dir.File("f.vtq"), 2);
    loader.Run(item);
    const TLines lines = loader.Events.ItemLines(0);
    if (c.Alternative.empty() || lines != c.Alternative) EXPECT_EQ(lines, c.Lines);
  }
}

TEST(TclDownLoadItem, InformationRequestFailureAndStopEndTheRunWithoutDataPhase) {
  HttpFixture server;
  server.Route("/missing", {fx::Send(HttpResponse(404, "Not Found"))});
  server.Route("/hanging", {fx::Sleep(20000)});
  TempDir dir;
  TDownLoader loader;
  loader.Control.SetTryCount(2);
  TclDownLoadItem* missing = loader.Add(server.Url("/missing"), dir.File("missing.vtq"));
  loader.Run(missing);
  EXPECT_EQ(loader.Events.ItemLines(0), (TLines{"status 0 psProcess", "url 0", "error 0 404", "completed 0 psFailed"}));
  EXPECT_EQ(server.Requests().size(), 2u);

  TclDownLoadItem* hanging = loader.Add(server.Url("/hanging"), dir.File("hanging.vtq"));
  hanging->Start();
  ASSERT_TRUE(ServeUntil([&] { return server.Requests().size() == 3; }));
  hanging->Stop();
  ASSERT_TRUE(ServeUntil([&] { return loader.Events.Completed() == 2; }, 2000));
  EXPECT_EQ(loader.Events.ItemLines(1), (TLines{"status 1 psProcess", "url 1", "status 1 psTerminated",
                                                "completed 1 psTerminated"}));
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing.vtq")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("hanging.vtq")));
}

TEST(TclDownLoadItem, InformationOnlyRunAnswersTheResourceInfo) {
  TempDir dir;
  WriteFile(dir.File("source"), PatternBytes(12345));
  HttpFixture server;
  server.Route("/f", {fx::Serve(dir.File("source"))});
  TDownLoader loader;
  TclDownLoadItem* item = loader.Add(server.Url("/f"), dir.File("f.vtq"));
  TclResourceInfo* info = item->GetResourceInfo(false);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->Size(), 12345);
  EXPECT_TRUE(info->AllowsRandomAccess());
  EXPECT_EQ(info->ContentType(), "application/octet-stream");
  EXPECT_EQ(loader.Events.ItemLines(0), (TLines{"status 0 psProcess", "url 0", "info 0", "status 0 psSuccess",
                                                "completed 0 psSuccess"}));
  EXPECT_FALSE(std::filesystem::exists(dir.File("f.vtq")));
  EXPECT_EQ(item->GetResourceInfo(false), info) << "a known resource info is answered without a request";
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(TclDownLoadItem, GivenStreamTakesTheDataAndTheFileOnlyGetsTheResourceDate) {
  TempDir dir;
  const std::string data = PatternBytes(50000);
  WriteFile(dir.File("source"), data);
  WriteFile(dir.File("existing.flv"), "keep me");
  HttpFixture server;
  server.Route("/f", {fx::Serve(dir.File("source"))});
  TDownLoader loader;
  TMemoryStream stream;
  TclDownLoadItem* item = loader.Add(server.Url("/f"), dir.File("existing.flv"));
  item->SetDataStream(&stream);
  loader.Run(item);
  EXPECT_TRUE(SameBytes(stream.Data(), data));
  EXPECT_EQ(ReadFile(dir.File("existing.flv")), "keep me");
  struct stat info {};
  ASSERT_EQ(::stat(dir.File("existing.flv").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 1623233894) << "Wed, 09 Jun 2021 10:18:14 GMT";
}

TEST(TclDownLoadItem, CompressedReplyIsDecodedExactlyOnce) {
  TempDir root, dir;
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i) + " of the comment list\n";
  WriteFile(root.File("list.txt"), text);
  NginxServer nginx(root.Path());
  TDownLoader loader;
  TclDownLoadItem* toFile = loader.Add(nginx.Url("/list.txt"), dir.File("list.txt"));
  loader.Run(toFile);
  EXPECT_TRUE(toFile->ResourceInfo()->Compressed()) << "nginx did not compress; the test proves nothing";
  EXPECT_EQ(ReadFile(dir.File("list.txt")), text);
  EXPECT_FALSE(std::filesystem::exists(dir.File("list.txt~")));

  TMemoryStream stream;
  TclDownLoadItem* toMemory = loader.Add(nginx.Url("/list.txt"), "");
  toMemory->SetDataStream(&stream);
  loader.Run(toMemory);
  EXPECT_EQ(stream.Data(), text);
}

TEST(TclDownLoadItem, RequestObjectHeaderLinesAndTheAgentGoWithEveryRequest) {
  TServedFile served(30000);
  auto& [dir, data, server] = served;
  server.Route("/f", {fx::Serve(dir.File("source"))});
  TDownLoader loader;
  loader.Control.SetInternetAgent("Agent/1.0");
  TclHttpRequest request;
  request.Header().SetReferer("https://www.zentavo.com/");
  TclDownLoadItem* item = loader.Add(server.Url("/f"), dir.File("f.vtq"), 3);
  item->SetHttpRequest(&request);
  loader.Run(item);
  EXPECT_TRUE(SameBytes(ReadFile(dir.File("f.vtq")), data));
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  for (const RecordedRequest& r : requests) {
    EXPECT_EQ(r.Field("Accept"), "*/*");
    EXPECT_EQ(r.Field("Referer"), "https://www.zentavo.com/");
    EXPECT_EQ(r.Field("User-Agent"), "Agent/1.0");
    EXPECT_EQ(r.Field("Content-Length"), "");
  }
  // The body text of the request object goes as the query, without its Content- lines.
  request.AddTextData("a=1&b=2");
  item->SetUseHttpRequest(true);
  loader.Run(item);
  requests = server.Requests();
  EXPECT_EQ(requests.back().RequestLine(), "GET /f?a=1&b=2 HTTP/1.1");
  EXPECT_EQ(requests.back().Field("Content-Length"), "");
}

TEST(TclDownLoadItem, DeleteRemoteFileSendsDeleteAndRaisesARefusal) {
  HttpFixture server;
  server.Route("/gone", {fx::Send(HttpResponse(204, "No Content"))});
  server.Route("/kept", {fx::Send(HttpResponse(405, "Method Not Allowed"))});
  TDownLoader loader;
  TclDownLoadItem* item = loader.Add(server.Url("/gone"), "");
  item->DeleteRemoteFile();
  EXPECT_EQ(server.Requests().at(0).RequestLine(), "DELETE /gone HTTP/1.1");
  item->SetURL(server.Url("/kept"));
  loader.Control.SetTryCount(1);
  try {
    item->DeleteRemoteFile();
    ADD_FAILURE() << "the refusal was taken";
  } catch (const EclInternetError& e) {
    EXPECT_EQ(e.ErrorCode(), 405);
  }
}
