#pragma once
// The curl command as the peer a download benchmark is measured against in the same run, the
// timing it shares with the client under test (wall time and CPU time of the client alone, or of
// any program run as a child), and the run itself: nginx on loopback serving one large file to
// both, round after round.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BenchResult.h"
#include "tests/support/WebServers.h"

extern char** environ;

namespace zvbench {

struct TMeasure {
  double Wall = 1e9;
  double Cpu = 1e9;
  long PeakKb = 0;  // peak resident memory, for a program run as a child
  // The best of two rounds, each figure on its own (the larger peak).
  TMeasure Best(const TMeasure& aOther) const {
    return {std::min(Wall, aOther.Wall), std::min(Cpu, aOther.Cpu), std::max(PeakKb, aOther.PeakKb)};
  }
};

inline double Seconds(const timeval& aTime) { return double(aTime.tv_sec) + double(aTime.tv_usec) / 1e6; }

inline double CpuSeconds(const rusage& aUsage) { return Seconds(aUsage.ru_utime) + Seconds(aUsage.ru_stime); }

inline double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Measures aRun in this process.
template <typename TRun>
TMeasure Measure(TRun aRun) {
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  double start = Now();
  aRun();
  double wall = Now() - start;
  getrusage(RUSAGE_SELF, &after);
  return {wall, CpuSeconds(after) - CpuSeconds(before), 0};
}

// Runs aArgs (found on PATH) to its end with its output streams on /dev/null: its wall time, CPU
// time and peak memory. A program that fails ends the benchmark.
inline TMeasure RunProgram(const std::vector<std::string>& aArgs) {
  std::vector<char*> argv;
  for (const std::string& arg : aArgs) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  double start = Now();
  pid_t pid;
  const int error = posix_spawnp(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (error != 0) {
    std::fprintf(stderr, "cannot start %s\n", argv[0]);
    std::exit(1);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0]);
    std::exit(1);
  }
  return {Now() - start, CpuSeconds(usage), usage.ru_maxrss};
}

// curl fetching aUrl into /dev/null; exits the benchmark when curl fails.
inline TMeasure Curl(const std::string& aUrl) { return RunProgram({"curl", "-s", "-f", "-o", "/dev/null", aUrl}); }

// A sparse file of aSize bytes: nginx serves it from the page cache without a disk in the way.
inline bool WriteSparseFile(const std::string& aPath, int64_t aSize) {
  FILE* f = std::fopen(aPath.c_str(), "wb");
  bool ok = f && ftruncate(fileno(f), aSize) == 0;
  if (f) std::fclose(f);
  return ok;
}

// Prints a time of ours against the peer's as a RESULT line, with the bound of their ratio (0: none).
inline void PrintBound(const std::string& aResult, const std::string& aWhat, double aOurs, double aPeer, double aBound) {
  char target[32];
  std::snprintf(target, sizeof target, "<=%.2f", aBound);
  PrintResult(aResult.c_str(), aWhat.c_str(), aOurs, aPeer, "s", aBound > 0 ? target : nullptr, aOurs <= aBound * aPeer);
}

// aWhat: what was measured, e.g. "GET of 1024 MiB".
inline void PrintRatio(const char* aResult, const std::string& aWhat, const char* aName, const TMeasure& aClient,
                       const TMeasure& aCurl, double aWallBound, double aCpuBound) {
  std::printf("  curl     wall %.3f s  cpu %.3f s\n", aCurl.Wall, aCurl.Cpu);
  std::printf("  %-8s wall %.3f s  cpu %.3f s\n", aName, aClient.Wall, aClient.Cpu);
  PrintBound(std::string(aResult) + "-wall", aWhat + ": " + aName + " vs curl, wall time", aClient.Wall, aCurl.Wall,
             aWallBound);
  PrintBound(std::string(aResult) + "-cpu", aWhat + ": " + aName + " vs curl, CPU time", aClient.Cpu, aCurl.Cpu,
             aCpuBound);
}

// Usage: PROGRAM [size in MiB, default 1024] [rounds, default 3]. Serves a file of that size as
// /big.bin and measures curl and aClient(url, port, size) once per round; prints the best of each
// and its RESULT lines, named aResult, with the bounds of the client's wall and CPU time to curl's.
template <typename TClient>
int CompareWithCurl(int argc, char** argv, const char* aResult, const char* aWhat, const char* aName, double aWallBound,
                    double aCpuBound, TClient aClient) {
  int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  int64_t size = mib << 20;
  zvtest::TempDir root;
  if (!WriteSparseFile(root.File("big.bin"), size)) return 1;
  zvtest::NginxServer nginx(root.Path());
  std::string url = nginx.Url("/big.bin");
  TMeasure curl, client;
  for (int i = 0; i < rounds; ++i) {
    curl = curl.Best(Curl(url));
    client = client.Best(aClient(url, nginx.Port(), size));
  }
  std::printf("%s of %lld MiB from nginx on loopback, best of %d rounds\n", aWhat, static_cast<long long>(mib), rounds);
  PrintRatio(aResult, std::string(aWhat) + " of " + std::to_string(mib) + " MiB", aName, client, curl, aWallBound,
             aCpuBound);
  return 0;
}

}  // namespace zvbench
