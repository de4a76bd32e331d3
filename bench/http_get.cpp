// A GET of a large file from nginx on loopback into a discarding stream, against curl fetching the
// same file into /dev/null in the same run: wall time and CPU time of the client alone.
// Usage: bench_http_get [size in MiB, default 1024] [rounds, default 3]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "http/clHttp.h"
#include "http/clStreams.h"
#include "tests/support/WebServers.h"

extern char** environ;

namespace {

struct TMeasure {
  double Wall = 1e9;
  double Cpu = 1e9;
};

double Seconds(const timeval& aTime) { return double(aTime.tv_sec) + double(aTime.tv_usec) / 1e6; }

double CpuSeconds(const rusage& aUsage) { return Seconds(aUsage.ru_utime) + Seconds(aUsage.ru_stime); }

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

TMeasure Curl(const std::string& aUrl) {
  const char* argv[] = {"curl", "-s", "-f", "-o", "/dev/null", aUrl.c_str(), nullptr};
  double start = Now();
  pid_t pid;
  if (posix_spawnp(&pid, "curl", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    std::fprintf(stderr, "cannot start curl\n");
    std::exit(1);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "curl failed\n");
    std::exit(1);
  }
  return {Now() - start, CpuSeconds(usage)};
}

TMeasure Client(const std::string& aUrl, int64_t aSize) {
  TclHttp http;
  TclNullStream body;
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  double start = Now();
  http.SendRequest("GET", aUrl, {"Accept: */*"}, nullptr, nullptr, &body);
  double wall = Now() - start;
  getrusage(RUSAGE_SELF, &after);
  if (body.Position() != aSize) {
    std::fprintf(stderr, "the client received %lld bytes\n", static_cast<long long>(body.Position()));
    std::exit(1);
  }
  return {wall, CpuSeconds(after) - CpuSeconds(before)};
}

}  // namespace

int main(int argc, char** argv) {
  int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  int64_t size = mib << 20;
  zvtest::TempDir root;
  {
    // A sparse file: nginx serves it from the page cache without a disk in the way.
    FILE* f = std::fopen(root.File("big.bin").c_str(), "wb");
    if (!f || ftruncate(fileno(f), size) != 0) return 1;
    std::fclose(f);
  }
  zvtest::NginxServer nginx(root.Path());
  std::string url = nginx.Url("/big.bin");
  TMeasure curl, client;
  for (int i = 0; i < rounds; ++i) {
    TMeasure c = Curl(url);
    TMeasure h = Client(url, size);
    curl = {std::min(curl.Wall, c.Wall), std::min(curl.Cpu, c.Cpu)};
    client = {std::min(client.Wall, h.Wall), std::min(client.Cpu, h.Cpu)};
  }
  std::printf("GET of %lld MiB from nginx on loopback, best of %d rounds\n", static_cast<long long>(mib), rounds);
  std::printf("  curl     wall %.3f s  cpu %.3f s\n", curl.Wall, curl.Cpu);
  std::printf("  TclHttp  wall %.3f s  cpu %.3f s\n", client.Wall, client.Cpu);
  std::printf("  ratio    wall %.2f  cpu %.2f  (target: wall within 1.25)\n", client.Wall / curl.Wall,
              client.Cpu / curl.Cpu);
  return 0;
}
