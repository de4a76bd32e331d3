// Pull reads of a large file from nginx on loopback through the platform internet client in
// 8192-byte blocks, as the download engine reads, against curl fetching the same file into
// /dev/null in the same run: wall time and CPU time of the client alone.
// Usage: bench_wininet_get [size in MiB, default 1024] [rounds, default 3]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/CurlPeer.h"
#include "platform/clWinInet.h"

using namespace zvbench;

int main(int argc, char** argv) {
  const char* what = "Pull reads in 8192-byte blocks";
  return CompareWithCurl(argc, argv, "wininet-get", what, "WinInet", 1.1, 1.1, [](const std::string&, int aPort, int64_t aSize) {
    int64_t received = 0;
    bool ok = false;
    TMeasure measure = Measure([&] {
      HINTERNET root = InternetOpenA("bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
      HINTERNET server = InternetConnectA(root, "127.0.0.1", INTERNET_PORT(aPort), nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, 0);
      HINTERNET request = HttpOpenRequestA(server, "GET", "/big.bin", nullptr, nullptr, nullptr, INTERNET_FLAG_RELOAD, 0);
      ok = HttpSendRequestA(request, nullptr, 0, nullptr, 0);
      static char block[8192];
      DWORD read = 0;
      while (ok && (ok = InternetReadFile(request, block, sizeof block, &read)) && read > 0) received += read;
      InternetCloseHandle(root);
    });
    if (!ok || received != aSize) {
      std::fprintf(stderr, "the client received %lld bytes (error %u)\n", static_cast<long long>(received), GetLastError());
      std::exit(1);
    }
    return measure;
  });
}
