// Checking arbitrary reply headers against a requested byte range: no crash, and a reply that is
// taken never makes the caller drop more bytes than lie before the requested offset.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/clInternetError.h"
#include "engine/clRangeReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 2) return 0;
  // The first bytes pick the status and the requested offset; the rest is the header text.
  const int32_t status = aData[0] & 1 ? 206 : 200;
  const int64_t requested = int64_t(aData[1]) * 1000;
  TStrings header;
  TclStringsUtils::SetText(header, std::string(reinterpret_cast<const char*>(aData + 2), aSize - 2));
  TclContentRange range;
  for (const std::string& line : header)
    if (TclContentRange::Parse(line, range) && (range.First < 0 || range.Last < range.First)) std::abort();
  try {
    const int64_t leading = LeadingReplyBytes(status, header, requested, 100000);
    if (leading < 0 || leading > requested) std::abort();
  } catch (const EclInternetError&) {
    // A reply that cannot deliver the requested bytes is refused, which is the expected outcome.
  }
  return 0;
}
