// Real FLV files made by ffmpeg, cut into segments, joined by FlvBind.exe and checked with ffprobe.
#include <gtest/gtest.h>

#include "tests/support/FfmpegTools.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace zvtest;

TEST(FlvBindWithFfmpeg, JoinsRealSegmentsIntoOnePlayableFile) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  struct {
    const char* Name;
    const char* Codecs;
  } cases[] = {{"h264-aac", "-c:v libx264 -preset ultrafast -c:a aac"}, {"sorenson-mp3", "-c:v flv -c:a libmp3lame"}};
  for (const auto& c : cases) {
    TempDir dir;
    const std::string whole = dir.File("whole.flv");
    ASSERT_TRUE(MakeFlv(whole, 4, c.Codecs)) << c.Name;
    const int segments = CutFlv(whole, dir.File("part 4-%d.flv"));
    ASSERT_GE(segments, 3) << c.Name;
    std::string sources;
    int64_t sum = 0;
    for (int i = 0; i < segments; ++i) {
      const std::string segment = dir.File("part 4-" + std::to_string(i) + ".flv");
      sum += ProbePackets(segment).Length;
      sources += " " + ShellQuote(segment);
    }
    const std::string joined = dir.File("joined.flv");
    EXPECT_EQ(Shell(BinDir() + "/FlvBind.exe " + ShellQuote(joined) + sources).first, 0);

    EXPECT_EQ(Shell("ffprobe -v error " + ShellQuote(joined)).first, 0) << c.Name;
    TPacketTimes result = ProbePackets(joined);
    EXPECT_EQ(result.Streams, 2u);
    EXPECT_TRUE(result.MonotonicDts) << c.Name;
    // one clock: each join drops at most the last frame's duration (40 ms at 25 fps)
    EXPECT_LE(result.Length, sum) << c.Name;
    EXPECT_GE(result.Length, sum - 40 * (segments - 1)) << c.Name;
    EXPECT_NEAR(ProbeDuration(joined), result.Length, 60) << c.Name;
  }
}

}  // namespace
