// Answering arbitrary challenge lines with every registered scheme: no crash, no hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/clStringsUtils.h"
#include "http/clHttpAuth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  TStrings challenge;
  TclStringsUtils::SetText(challenge, std::string(reinterpret_cast<const char*>(aData), aSize));
  TclUrlParser url;
  url.Parse("http://h/dir/index.html?x=1");
  bool startNewConnection = false;
  std::string value;
  TclHttpAuthorization::Authorize(url, "GET", "user", "password", challenge, nullptr, startNewConnection, value);
  return 0;
}
