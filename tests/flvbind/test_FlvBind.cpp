// FlvBind.exe as the application runs it: messages, exit statuses, retiming and the output file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/flvbind/FlvTestFiles.h"
#include "tests/support/TestSupport.h"

using namespace flvtest;

namespace {

const std::string cBanner =
    "FlvBind - FLV file binder\n"
    "Joins the audio and video of FLV files into one file with continuous timestamps\n"
    "and writes a fresh onMetaData tag\n";

class FlvBind : public ::testing::Test {
protected:
  std::string Dest() const { return FDir.File("合并 video.flv"); }
  // Writes a source file and returns its path.
  std::string Source(const std::string& aName, const std::string& aBytes) {
    zvtest::WriteFile(FDir.File(aName), aBytes);
    return FDir.File(aName);
  }
  bool Exists(const std::string& aPath) const { return access(aPath.c_str(), F_OK) == 0; }
  // Runs the binder, expecting success, and returns the output's tags after its onMetaData tag.
  std::vector<TTag> Join(const std::vector<std::string>& aSources) {
    std::vector<std::string> args{Dest()};
    args.insert(args.end(), aSources.begin(), aSources.end());
    TRunResult r = RunBinder(args);
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Err, cBanner);
    EXPECT_EQ(r.Out, "");
    std::vector<TTag> tags = ListTags(zvtest::ReadFile(Dest()));
    EXPECT_FALSE(Exists(Dest() + ".$$$"));
    EXPECT_TRUE(!tags.empty() && tags[0].Type == 18);
    if (!tags.empty()) tags.erase(tags.begin());
    return tags;
  }
  static std::vector<uint32_t> Times(const std::vector<TTag>& aTags) {
    std::vector<uint32_t> times;
    for (const auto& t : aTags) times.push_back(t.Timestamp);
    return times;
  }
  zvtest::TempDir FDir;
};

TEST_F(FlvBind, ReportsEachFailureWithItsStatus) {
  const std::string good = Source("good.flv", Header(5) + Video(0) + Audio(20) + Script(30) + Video(40));
  const std::string notFlv = Source("text.flv", "this is not an flv file");
  const std::string missing = FDir.File("missing.flv"), pipe = FDir.File("pipe.flv");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  struct {
    std::vector<std::string> Args;
    int Status;
    std::string Message;
    int DestTags;  // -1: no destination file
  } cases[] = {
      {{}, 255, "Usage: flvbind dest_file src_file1 src_file2 ...", -1},
      {{Dest()}, 255, "Usage: flvbind dest_file src_file1 src_file2 ...", -1},
      {{FDir.File("no/such/folder.flv"), good}, 1,
       "Can't create output file for writing, make sure the output path is writable\n", -1},
      {{Dest(), missing, good}, 2, "Can't open source flv " + missing, 0},
      {{Dest(), FDir.Path(), good}, 2, "Can't open source flv " + FDir.Path(), 0},
      {{Dest(), pipe, good}, 2, "Can't open source flv " + pipe, 0},  // no wait for a writer
      {{Dest(), notFlv, good}, 3, "Can't read from source flv " + notFlv + ", bad flv ?", 0},
      {{Dest(), good, missing}, 2, "Can't open source flv " + missing, 3},
      {{Dest(), good, notFlv, good}, 3, "Can't read from source flv " + notFlv + ", bad flv ?", 3},
  };
  for (const auto& c : cases) {
    unlink(Dest().c_str());
    TRunResult r = RunBinder(c.Args);
    EXPECT_EQ(r.Status, c.Status) << c.Message;
    EXPECT_EQ(r.Err, cBanner + c.Message);
    EXPECT_EQ(r.Out, "");
    EXPECT_FALSE(Exists(Dest() + ".$$$"));
    if (c.DestTags < 0) {
      EXPECT_FALSE(Exists(Dest()));
      continue;
    }
    // what was copied before the failure stays, without metadata
    std::string dest = zvtest::ReadFile(Dest());
    EXPECT_EQ(dest.size(), c.DestTags ? 13 + Video(0).size() * 2 + Audio(0).size() : 0u) << c.Message;
  }
}

TEST_F(FlvBind, OneSourceKeepsItsTimesAndLosesItsScriptTags) {
  const std::string v0 = Tag(9, 0, "\x17" "frame", 1), a1 = Audio(21), v2 = Video(40), other = Tag(15, 50, "?");
  std::vector<TTag> tags = Join({Source("a.flv", Header(1) + Script(0) + v0 + a1 + Script(30) + v2 + other)});
  ASSERT_EQ(tags.size(), 3u);
  EXPECT_EQ(tags[0].Raw + tags[1].Raw + tags[2].Raw, v0 + a1 + v2);
  EXPECT_EQ(zvtest::ReadFile(Dest()).substr(0, 13), Header(1));
}

TEST_F(FlvBind, EachSourceContinuesAtThePreviousSourcesEnd) {
  auto segment = [](uint32_t aLast) { return Header(5) + Video(0) + Audio(20) + Video(aLast / 2) + Audio(aLast); };
  std::vector<TTag> tags = Join({Source("1.flv", segment(10000)), Source("2.flv", segment(9960))});
  EXPECT_EQ(Times(tags), (std::vector<uint32_t>{0, 20, 5000, 10000, 10000, 10020, 14980, 19960}));
  EXPECT_EQ(MetadataNumber(zvtest::ReadFile(Dest()), "duration"), 19.96);
  EXPECT_EQ(MetadataNumber(zvtest::ReadFile(Dest()), "lasttimestamp"), 19.96);
}

TEST_F(FlvBind, OffsetsPastTwentyFourBitsUseTheExtendedByte) {
  std::vector<TTag> tags = Join({Source("1.flv", Header(5) + Video(0) + Video(16777000)),
                                 Source("2.flv", Header(5) + Video(0) + Audio(500))});
  EXPECT_EQ(Times(tags), (std::vector<uint32_t>{0, 16777000, 16777000, 16777500}));
  EXPECT_EQ(tags[3].Raw.substr(4, 4), std::string("\x00\x01\x1C\x01", 4));  // 0x0100011C
}

TEST_F(FlvBind, SourcesWithoutMediaMoveTheClockOnlyByTheirTags) {
  std::vector<TTag> tags = Join({
      Source("1.flv", Header(5) + Video(0) + Video(100)),
      Source("scripts.flv", Header(5) + Script(0) + Script(300)),  // adds 300
      Source("empty.flv", Header(5)),                              // adds nothing
      Source("other.flv", Header(5) + Video(10) + Tag(15, 50, "?")),  // the dropped tag still counts
      Source("4.flv", Header(5) + Video(0)),
  });
  EXPECT_EQ(Times(tags), (std::vector<uint32_t>{0, 100, 410, 450}));
}

TEST_F(FlvBind, ADamagedSourceEndsAtItsLastWholeTag) {
  std::string damaged = Header(5) + Video(0) + Audio(40) + Video(80);
  damaged.resize(damaged.size() - 7);
  std::vector<TTag> tags = Join({Source("1.flv", damaged), Source("2.flv", Header(5) + Video(0) + Audio(10))});
  EXPECT_EQ(Times(tags), (std::vector<uint32_t>{0, 40, 40, 50}));
}

TEST_F(FlvBind, ASourceEndingWithAnEarlierTagDoesNotSendTimesBack) {
  // an H.264 end-of-sequence tag closes the video before the last audio
  const std::string endOfSequence = Tag(9, 40, std::string("\x17\x02\0\0\0", 5));
  std::vector<TTag> tags = Join({Source("1.flv", Header(5) + Video(0) + Audio(10) + Video(40) + Audio(60) + endOfSequence),
                                 Source("2.flv", Header(5) + Video(0) + Audio(10))});
  EXPECT_EQ(Times(tags), (std::vector<uint32_t>{0, 10, 40, 60, 40, 60, 70}));
}

TEST_F(FlvBind, RefusesAnOutputThatIsOneOfTheSources) {
  const std::string bytes = Header(5) + Video(0) + Audio(40);
  const std::string a = Source("a.flv", bytes), b = Source("b.flv", bytes);
  ASSERT_EQ(link(b.c_str(), FDir.File("b-link.flv").c_str()), 0);
  for (const std::string& dest : {a, FDir.Path() + "/./a.flv", FDir.File("b-link.flv")}) {
    TRunResult r = RunBinder({dest, a, b});
    EXPECT_EQ(r.Status, 5);
    EXPECT_EQ(r.Err.substr(0, cBanner.size()), cBanner);
    EXPECT_NE(r.Err.find("is also a source flv"), std::string::npos);
    EXPECT_EQ(zvtest::ReadFile(a), bytes);
    EXPECT_EQ(zvtest::ReadFile(b), bytes);
  }
}

TEST_F(FlvBind, JoinsManySmallTagsWithFewSystemCalls) {
  // 20,000 tags of 55 bytes per source, as small audio frames come.
  std::string source = Header(5);
  for (uint32_t i = 0; i < 20000; ++i) source += i % 2 ? Audio(i * 10) : Video(i * 10);
  const std::string a = Source("a.flv", source), b = Source("b.flv", source);
  TRunResult r = RunBinder({Dest(), a, b});
  ASSERT_EQ(r.Status, 0);
  if (r.WriteCalls < 0) GTEST_SKIP() << "the system keeps no count of system calls";
  // Two sources of 1.1 MB read in 16 KiB pieces (stdio's 4 KiB would take 550 reads, and a rewrite
  // reading the 2.2 MB output back more); a write per tag would be 40,000.
  EXPECT_LT(r.WriteCalls, 50);
  EXPECT_LT(r.ReadCalls, 700);
  EXPECT_EQ(ListTags(zvtest::ReadFile(Dest())).size(), 40001u);
}

TEST_F(FlvBind, AFailedWriteFailsTheJoinAndLeavesNoOutput) {
  std::string big = Header(5);
  for (int i = 0; i < 50; ++i) big += Video(i * 40, 1000);
  const std::string src = Source("big.flv", big);
  TRunResult r = RunBinder({Dest(), src, src}, 30000);
  EXPECT_EQ(r.Status, 4);
  EXPECT_EQ(r.Err, cBanner + "Can't write to output file " + Dest() + ", is the disk full ?\n");
  EXPECT_FALSE(Exists(Dest()));
  EXPECT_FALSE(Exists(Dest() + ".$$$"));
  EXPECT_EQ(zvtest::ReadFile(src), big);
}

TEST_F(FlvBind, AFailedRewriteKeepsTheCompleteJoin) {
  std::string source = Header(5);
  for (int i = 0; i < 20; ++i) source += Video(i * 40, 1000);
  // room for the join, not for the join plus its metadata tag
  TRunResult r = RunBinder({Dest(), Source("a.flv", source)}, static_cast<int64_t>(source.size()) + 100);
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(zvtest::ReadFile(Dest()), source);
  EXPECT_FALSE(Exists(Dest() + ".$$$"));
}

}  // namespace
