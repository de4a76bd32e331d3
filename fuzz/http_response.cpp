// Plays arbitrary bytes as a server's response to the HTTP client, over a loopback connection:
// header search, status dispatch, body lengths, chunked and gzip decoding, redirects and
// challenges must end in a result or an error, never in a crash, a hang or unbounded memory.
//
// The first input byte chooses the request (bit 0: HEAD instead of GET, bit 1: SilentHTTP,
// bit 2: HTTP/1.0, bit 3: no keep-alive); the rest is the response, sent to every request of the
// call on a connection that the server then closes.
#include <cstdint>
#include <string>

#include "fuzz/LoopbackServer.h"
#include "http/clHttp.h"
#include "http/clStreams.h"

namespace {

// Answers every challenge, so that repeated attempts are exercised too.
class TclFuzzHttp : public TclHttp {
protected:
  bool Authorize(const std::string&, const std::string&, const std::string&, const TStrings&,
                 bool& aStartNewConnection, std::string& aAuthValue) override {
    aStartNewConnection = false;
    aAuthValue = "Fuzz token";
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static TclLoopbackServer server;
  if (aSize == 0) return 0;
  uint8_t flags = aData[0];
  server.SetResponse(std::string(reinterpret_cast<const char*>(aData + 1), aSize - 1));

  TclFuzzHttp http;
  http.SetTimeOut(2000);
  http.SetMaxRedirects(3);
  http.SetMaxAuthRetries(2);
  http.SetSilentHTTP(flags & 2);
  http.SetHttpVersion(flags & 4 ? hvHttp1_0 : hvHttp1_1);
  http.SetKeepConnection(!(flags & 8));
  // Redirects go back to the same server, whatever the Location says.
  int redirects = 0;
  http.OnRedirect = [&](TclHttp*, const TStrings&, int32_t, const TclHttpResponseHeader&, const TStrings&,
                        std::string&, bool& aCanRedirect, bool& aHandled) {
    aHandled = true;
    aCanRedirect = ++redirects < 3;
  };
  TclNullStream body;
  std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/fuzz";
  try {
    http.SendRequest(flags & 1 ? "HEAD" : "GET", url, {"Accept: */*"}, nullptr, nullptr, &body);
  } catch (const EclError&) {
  }
  return 0;
}
