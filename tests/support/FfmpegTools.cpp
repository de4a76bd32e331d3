#include "tests/support/FfmpegTools.h"

#include <sys/wait.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

namespace zvtest {

std::pair<int, std::string> Shell(const std::string& aCommand) {
  std::string out;
  FILE* pipe = popen((aCommand + " 2>/dev/null").c_str(), "r");
  if (!pipe) return {-1, out};
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string ShellQuote(const std::string& aPath) { return "'" + aPath + "'"; }

bool HaveFfmpeg() { return Shell("ffmpeg -version").first == 0 && Shell("ffprobe -version").first == 0; }

TPacketTimes ProbePackets(const std::string& aPath) {
  auto [status, csv] =
      Shell("ffprobe -v error -show_entries packet=stream_index,dts,duration -of csv=p=0 " + ShellQuote(aPath));
  TPacketTimes t;
  if (status != 0) return t;
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

int64_t ProbeDuration(const std::string& aPath) {
  auto [status, text] = Shell("ffprobe -v error -show_entries format=duration -of csv=p=0 " + ShellQuote(aPath));
  try {
    return status == 0 ? int64_t(std::stod(text) * 1000 + 0.5) : -1;
  } catch (const std::exception&) {
    return -1;
  }
}

bool MakeFlv(const std::string& aPath, int aSeconds, const std::string& aCodecs) {
  return Shell("ffmpeg -nostdin -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=sample_rate=44100 -t " +
               std::to_string(aSeconds) + " -g 25 " + aCodecs + " " + ShellQuote(aPath))
             .first == 0;
}

int CutFlv(const std::string& aWhole, const std::string& aPattern, int aFirst) {
  if (Shell("ffmpeg -nostdin -i " + ShellQuote(aWhole) + " -c copy -f segment -segment_time 1 -reset_timestamps 1 " +
            "-segment_start_number " + std::to_string(aFirst) + " " + ShellQuote(aPattern))
          .first != 0)
    return 0;
  int count = 0;
  char name[4096];
  for (;; ++count) {
    std::snprintf(name, sizeof name, aPattern.c_str(), aFirst + count);
    if (!std::filesystem::exists(name)) return count;
  }
}

}  // namespace zvtest
