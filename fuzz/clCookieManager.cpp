// Arbitrary response header lines through cookie reading (and with them the HTTP-date reader),
// storing, selecting and writing into a request header.
#include <string>

#include "http/clCookieManager.h"
#include "http/clHttpDate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  std::string text(reinterpret_cast<const char*>(aData), aSize);
  TDateTime date;
  TclHttpDate::TryRead(text, date);

  TStrings lines;
  TclStringsUtils::SetText(lines, text);
  std::string host = lines.empty() ? "h" : lines[0].substr(0, 40);
  TclCookieList response;
  response.GetResponseCookies(lines, host, "/a/b?c", 443);
  TclCookieManager manager;
  manager.AddCookies(response);
  manager.AddCookies(response);
  TclCookieList request;
  manager.GetCookies(request, host, "/a/b/c", 443, aSize % 2 == 0);
  TStrings header = {"GET / HTTP/1.1", "Host: h"};
  request.SetRequestCookies(header);
  return 0;
}
