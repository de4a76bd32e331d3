// Output throughput of TclGZipInflateStream against zlib's inflate on the same gzip bodies,
// measured in the same run: about 100 MB of comment-list-like XML and of mixed binary.
// Target: at least 0.60 of zlib's throughput on each.
// Usage: bench_clInflate [MiB of each, default 100]
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchResult.h"
#include "http/clZLibStreams.h"
#include "tests/support/ZLibReference.h"

namespace {

constexpr size_t Piece = 65536;  // bytes per write, as a socket read would deliver them

int64_t DecodeOurs(const std::string& aGzip) {
  TclNullStream sink;
  TclGZipInflateStream stream(&sink);
  for (size_t pos = 0; pos < aGzip.size(); pos += Piece)
    stream.Write(aGzip.data() + pos, int64_t(std::min(Piece, aGzip.size() - pos)));
  return sink.Written();
}

int64_t DecodeZlib(const std::string& aGzip) {
  TclNullStream sink;
  z_stream z{};
  inflateInit2(&z, 31);
  std::vector<Bytef> out(16384);
  for (size_t pos = 0; pos < aGzip.size(); pos += Piece) {
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(aGzip.data() + pos));
    z.avail_in = uInt(std::min(Piece, aGzip.size() - pos));
    while (z.avail_in > 0) {
      z.next_out = out.data();
      z.avail_out = uInt(out.size());
      int rc = inflate(&z, Z_NO_FLUSH);
      sink.Write(out.data(), int64_t(out.size() - z.avail_out));
      if (rc == Z_STREAM_END) break;
      if (rc != Z_OK) throw std::runtime_error("inflate");
    }
  }
  inflateEnd(&z);
  return sink.Written();
}

// Best of several runs, in MB of output per second.
template <class F>
double Throughput(F aDecode, const std::string& aGzip, size_t aExpected) {
  double best = 0;
  for (int run = 0; run < 5; ++run) {
    auto start = std::chrono::steady_clock::now();
    int64_t n = aDecode(aGzip);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (size_t(n) != aExpected) throw std::runtime_error("wrong output size");
    best = std::max(best, double(n) / 1e6 / s);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t size = size_t(argc > 1 ? std::atoi(argv[1]) : 100) << 20;
  struct {
    const char* Name;
    const char* Result;
    std::string Data;
  } sets[] = {{"xml", "inflate-xml", zlibref::XmlText(size)},
              {"mixed binary", "inflate-binary", zlibref::MixedBinary(size)}};
  double worst = 1e9;
  for (auto& set : sets) {
    std::string gz = zlibref::Compress(set.Data, 6, 31);
    double ours = Throughput(DecodeOurs, gz, set.Data.size());
    double zlib = Throughput(DecodeZlib, gz, set.Data.size());
    std::printf("%-13s %6zu MB -> %6zu MB gzip: TclGZipInflateStream %7.1f MB/s, zlib %7.1f MB/s, ratio %.2f\n",
                set.Name, set.Data.size() >> 20, gz.size() >> 20, ours, zlib, ours / zlib);
    worst = std::min(worst, ours / zlib);
    const std::string what = "gzip of " + std::to_string(set.Data.size() >> 20) + " MiB " + set.Name +
                             ": TclGZipInflateStream vs zlib, output";
    zvbench::PrintResult(set.Result, what.c_str(), ours, zlib, "MB/s", ">=0.60", ours / zlib >= 0.6);
  }
  std::printf("lowest ratio %.2f (target 0.60)\n", worst);
  return worst >= 0.6 ? 0 : 1;
}
