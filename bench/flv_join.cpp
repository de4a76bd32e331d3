// Joins about 300 MB of real FLV segments with FlvBind.exe and measures, in the same run, its wall
// time against ffmpeg's concat demuxer with stream copy and against a plain cat of the same bytes,
// and its peak memory on a third of the input and on all of it.
// Targets: at most 0.8 of ffmpeg's time, at most 2.5 times cat's, memory not growing with size.
// Usage: bench_flv_join [seconds of video cut into three segments, default 30]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchResult.h"

namespace fs = std::filesystem;

namespace {

struct TRun {
  double Seconds = 1e9;     // wall time
  double CpuSeconds = 1e9;  // user + system: steadier on a shared machine
  long PeakKb = 0;
};

// Runs aArgs with its output streams on /dev/null; the best of aTimes runs.
TRun Measure(const std::vector<std::string>& aArgs, const std::string& aStdout = "/dev/null", int aTimes = 3) {
  TRun best;
  for (int i = 0; i < aTimes; ++i) {
    ::sync();  // each run starts without the previous run's dirty pages to write back
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
      if (!freopen(aStdout.c_str(), "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
      std::vector<char*> argv;
      for (const auto& a : aArgs) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "%s failed\n", aArgs[0].c_str());
      std::exit(1);
    }
    best.Seconds = std::min(best.Seconds, seconds);
    best.CpuSeconds = std::min(best.CpuSeconds, usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                                                    (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6);
    best.PeakKb = std::max(best.PeakKb, usage.ru_maxrss);
  }
  return best;
}

int Shell(const std::string& aCommand) { return std::system(aCommand.c_str()); }

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  const std::string binder = (fs::canonical("/proc/self/exe").parent_path() / "FlvBind.exe").string();
  char tmpl[] = "/tmp/bench-flv-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const fs::path dir = tmpl;

  // 1080p Sorenson video with MP3 audio, cut into three segments that start at 0.
  std::printf("making segments...\n");
  std::fflush(stdout);
  const std::string whole = (dir / "whole.flv").string();
  if (Shell("ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=1920x1080:rate=25 -f lavfi -i "
            "sine=sample_rate=44100 -t " + std::to_string(seconds) + " -c:v flv -q:v 1 -g 50 -c:a libmp3lame -b:a 128k '" + whole + "'") != 0 ||
      Shell("ffmpeg -nostdin -loglevel error -i '" + whole + "' -c copy -f segment -segment_time " +
                std::to_string(seconds / 3) + " -reset_timestamps 1 '" +
            (dir / "seg%d.flv").string() + "'") != 0)
    return 1;
  fs::remove(whole);

  auto sourcesOf = [&](int aCount) {
    std::vector<std::string> sources;
    for (int i = 0; i < aCount; ++i) sources.push_back((dir / ("seg" + std::to_string(i % 3) + ".flv")).string());
    return sources;
  };
  auto bytesOf = [](const std::vector<std::string>& aSources) {
    uintmax_t total = 0;
    for (const auto& s : aSources) total += fs::file_size(s);
    return total;
  };
  const std::vector<std::string> all = sourcesOf(9), third = sourcesOf(3);
  const std::string out = (dir / "out.flv").string();

  std::vector<std::string> bind{binder, out};
  bind.insert(bind.end(), all.begin(), all.end());
  std::vector<std::string> cat{"cat"};
  cat.insert(cat.end(), all.begin(), all.end());
  std::ofstream list(dir / "list.txt");
  for (const auto& s : all) list << "file '" << s << "'\n";
  list.close();
  const std::vector<std::string> ffmpeg{"ffmpeg", "-nostdin", "-y", "-f", "concat", "-safe", "0", "-i",
                                        (dir / "list.txt").string(), "-c", "copy", out};
  std::vector<std::string> bindThird{binder, out};
  bindThird.insert(bindThird.end(), third.begin(), third.end());

  Measure(cat, out, 1);  // warms the page cache
  TRun catRun = Measure(cat, out);
  TRun bindRun = Measure(bind);
  TRun ffmpegRun = Measure(ffmpeg);
  TRun bindThirdRun = Measure(bindThird);

  std::printf("input: %d segments, %.1f MB\n", static_cast<int>(all.size()), bytesOf(all) / 1e6);
  auto row = [](const char* aName, const TRun& aRun) {
    std::printf("%-14s wall %.3f s  cpu %.3f s  peak %ld KiB\n", aName, aRun.Seconds, aRun.CpuSeconds, aRun.PeakKb);
  };
  row("FlvBind.exe", bindRun);
  row("ffmpeg concat", ffmpegRun);
  row("cat", catRun);
  std::printf("FlvBind / ffmpeg: wall %.2f, cpu %.2f (target <= 0.80)\n", bindRun.Seconds / ffmpegRun.Seconds,
              bindRun.CpuSeconds / ffmpegRun.CpuSeconds);
  std::printf("FlvBind / cat:    wall %.2f, cpu %.2f (target <= 2.50)\n", bindRun.Seconds / catRun.Seconds,
              bindRun.CpuSeconds / catRun.CpuSeconds);
  std::printf("FlvBind peak memory: %ld KiB for %.1f MB, %ld KiB for %.1f MB (target: no growth)\n",
              bindThirdRun.PeakKb, bytesOf(third) / 1e6, bindRun.PeakKb, bytesOf(all) / 1e6);
  const std::string input = std::to_string(int(bytesOf(all) / 1e6)) + " MB of FLV segments: FlvBind.exe vs ";
  bool met = zvbench::PrintResult("flvbind-ffmpeg", (input + "ffmpeg concat, wall time").c_str(), bindRun.Seconds,
                                  ffmpegRun.Seconds, "s", "<=0.80", bindRun.Seconds <= 0.8 * ffmpegRun.Seconds);
  met &= zvbench::PrintResult("flvbind-cat", (input + "cat, wall time").c_str(), bindRun.Seconds, catRun.Seconds, "s",
                              "<=2.50", bindRun.Seconds <= 2.5 * catRun.Seconds);
  met &= zvbench::PrintResult("flvbind-memory", "FlvBind.exe peak memory, all segments vs a third of them",
                              double(bindRun.PeakKb), double(bindThirdRun.PeakKb), "KiB", "<=+1MiB",
                              bindRun.PeakKb <= bindThirdRun.PeakKb + 1024);
  fs::remove_all(dir);
  std::printf("%s\n", met ? "targets met" : "targets NOT met");
  return 0;
}
