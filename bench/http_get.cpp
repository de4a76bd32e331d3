// A GET of a large file from nginx on loopback into a discarding stream, against curl fetching the
// same file into /dev/null in the same run: wall time and CPU time of the client alone.
// Usage: bench_http_get [size in MiB, default 1024] [rounds, default 3]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/CurlPeer.h"
#include "http/clHttp.h"
#include "http/clStreams.h"

using namespace zvbench;

int main(int argc, char** argv) {
  return CompareWithCurl(argc, argv, "http-get", "GET", "TclHttp", 1.25, 0, [](const std::string& aUrl, int, int64_t aSize) {
    TclHttp http;
    TclNullStream body;
    TMeasure measure = Measure([&] { http.SendRequest("GET", aUrl, {"Accept: */*"}, nullptr, nullptr, &body); });
    if (body.Position() != aSize) {
      std::fprintf(stderr, "the client received %lld bytes\n", static_cast<long long>(body.Position()));
      std::exit(1);
    }
    return measure;
  });
}
