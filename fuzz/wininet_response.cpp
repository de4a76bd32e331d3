// Plays arbitrary bytes as a server's reply to the platform internet client, over a loopback
// connection: the reply's header block, redirections, refusals answered with credentials, body
// lengths, chunked and gzip decoding and the bounded read buffer must end in a result or an error
// number, never in a crash, a hang or unbounded memory.
//
// The first input byte chooses the request (bit 0: HEAD instead of GET, bit 1: automatic
// decoding, bit 2: credentials given, bit 3: no automatic redirection, bits 4-5: the read block
// size); the rest is the reply, sent to every request on a connection that the server then closes.
// The loopback server is also the proxy of every request, so that no redirection leaves it.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/LoopbackServer.h"
#include "platform/clWinInet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static TclLoopbackServer server;
  if (aSize == 0) return 0;
  uint8_t flags = aData[0];
  server.SetResponse(std::string(reinterpret_cast<const char*>(aData + 1), aSize - 1));

  std::string proxy = "127.0.0.1:" + std::to_string(server.Port());
  HINTERNET root = InternetOpenA("fuzz", INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), nullptr, 0);
  HINTERNET connection = InternetConnectA(root, "origin.test", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  DWORD requestFlags = INTERNET_FLAG_RELOAD | (flags & 8 ? INTERNET_FLAG_NO_AUTO_REDIRECT : 0);
  HINTERNET request = HttpOpenRequestA(connection, flags & 1 ? "HEAD" : "GET", "/fuzz", nullptr, nullptr, nullptr,
                                       requestFlags, 0);
  HttpAddRequestHeadersA(request, "Accept-Encoding: gzip\r\nRange: bytes=0-99", DWORD(-1), HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  DWORD on = 1;
  if (flags & 2) InternetSetOptionA(request, INTERNET_OPTION_HTTP_DECODING, &on, sizeof on);
  if (flags & 4) {
    InternetSetOptionA(request, INTERNET_OPTION_USERNAME, "user", 4);
    InternetSetOptionA(request, INTERNET_OPTION_PASSWORD, "pass", 4);
  }
  if (HttpSendRequestA(request, nullptr, 0, nullptr, 0)) {
    char text[256];
    DWORD status = 0, length = sizeof status;
    HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr);
    length = sizeof text;
    HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, text, &length, nullptr);
    int32_t high = 0;
    if (flags & 0x30) InternetSetFilePointer(request, 0, &high, FILE_END, 0);
    std::vector<char> block(size_t(1) << (4 + 4 * ((flags >> 4) & 3)));  // 16 bytes to 64 KiB
    DWORD read = 0;
    while (InternetReadFile(request, block.data(), DWORD(block.size()), &read) && read > 0) {
    }
  }
  InternetCloseHandle(root);
  return 0;
}
