// Splitting, resolving and rebuilding arbitrary URL text: no crash, no hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "http/clIdnTranslator.h"
#include "http/clUriUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  const std::string input(reinterpret_cast<const char*>(aData), aSize);
  // The first line break (if any) separates a base URL from a reference.
  const size_t split = input.find('\n');
  const std::string base = split == std::string::npos ? std::string() : input.substr(0, split);
  const std::string relative = split == std::string::npos ? input : input.substr(split + 1);
  TclUrlParser url("utf-8");
  try {
    url.Parse(input);
    url.AbsoluteUri();
    url.AbsolutePath();
    url.Parse(base, relative);
    url.AbsoluteUri();
    url.AbsolutePath();
  } catch (const EclIdnError&) {
    // Host labels that Punycode cannot hold are refused, which is the expected outcome.
  }
  return 0;
}
