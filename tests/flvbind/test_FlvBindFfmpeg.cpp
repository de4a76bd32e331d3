// Real FLV files made by ffmpeg, cut into segments, joined by FlvBind.exe and checked with ffprobe.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "tests/support/TestSupport.h"

namespace {

// Runs a shell command; returns its exit status and standard output.
std::pair<int, std::string> Shell(const std::string& aCommand) {
  std::string out;
  FILE* pipe = popen((aCommand + " 2>/dev/null").c_str(), "r");
  if (!pipe) return {-1, out};
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string Quote(const std::string& aPath) { return "'" + aPath + "'"; }

struct TPacketTimes {
  int64_t Length = 0;       // from the first packet's start to the last packet's end, ms
  bool MonotonicDts = true;  // per stream
  size_t Streams = 0;
};

TPacketTimes Probe(const std::string& aPath) {
  auto [status, csv] = Shell("ffprobe -v error -show_entries packet=stream_index,dts,duration -of csv=p=0 " + Quote(aPath));
  EXPECT_EQ(status, 0) << aPath;
  TPacketTimes t;
  std::map<int, int64_t> lastDts;
  int64_t first = INT64_MAX, end = 0;
  std::istringstream lines(csv);
  for (std::string line; std::getline(lines, line);) {
    int stream = 0;
    long long dts = 0, duration = 0;
    if (std::sscanf(line.c_str(), "%d,%lld,%lld", &stream, &dts, &duration) < 2) continue;
    if (lastDts.count(stream) && dts < lastDts[stream]) t.MonotonicDts = false;
    lastDts[stream] = dts;
    first = std::min<int64_t>(first, dts);
    end = std::max<int64_t>(end, dts + duration);
  }
  t.Length = end - first;
  t.Streams = lastDts.size();
  return t;
}

TEST(FlvBindWithFfmpeg, JoinsRealSegmentsIntoOnePlayableFile) {
  if (Shell("ffmpeg -version").first != 0 || Shell("ffprobe -version").first != 0) GTEST_SKIP() << "no ffmpeg";
  struct {
    const char* Name;
    const char* Codecs;
  } cases[] = {{"h264-aac", "-c:v libx264 -preset ultrafast -c:a aac"}, {"sorenson-mp3", "-c:v flv -c:a libmp3lame"}};
  for (const auto& c : cases) {
    zvtest::TempDir dir;
    const std::string whole = dir.File("whole.flv");
    ASSERT_EQ(Shell("ffmpeg -nostdin -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=sample_rate=44100 -t 4 -g 25 " +
                    std::string(c.Codecs) + " " + Quote(whole))
                  .first,
              0)
        << c.Name;
    ASSERT_EQ(Shell("ffmpeg -nostdin -i " + Quote(whole) + " -c copy -f segment -segment_time 1 -reset_timestamps 1 " +
                    Quote(dir.File("part 4-%d.flv")))
                  .first,
              0);
    std::string sources;
    int64_t sum = 0;
    int segments = 0;
    for (; std::filesystem::exists(dir.File("part 4-" + std::to_string(segments) + ".flv")); ++segments) {
      const std::string segment = dir.File("part 4-" + std::to_string(segments) + ".flv");
      sum += Probe(segment).Length;
      sources += " " + Quote(segment);
    }
    ASSERT_GE(segments, 3) << c.Name;
    const std::string joined = dir.File("joined.flv");
    EXPECT_EQ(Shell(zvtest::BinDir() + "/FlvBind.exe " + Quote(joined) + sources).first, 0);

    EXPECT_EQ(Shell("ffprobe -v error " + Quote(joined)).first, 0) << c.Name;
    TPacketTimes result = Probe(joined);
    EXPECT_EQ(result.Streams, 2u);
    EXPECT_TRUE(result.MonotonicDts) << c.Name;
    // one clock: each join drops at most the last frame's duration (40 ms at 25 fps)
    EXPECT_LE(result.Length, sum) << c.Name;
    EXPECT_GE(result.Length, sum - 40 * (segments - 1)) << c.Name;
    auto [status, duration] = Shell("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(joined));
    EXPECT_NEAR(std::stod(duration) * 1000, result.Length, 60) << c.Name;
  }
}

}  // namespace
