// Arbitrary bytes as a reply's header block, evaluated into a resource info the way a download
// worker does: lengths, dates, types and codings must give a result, never a crash. No request
// handle is given, so the random-access probe fails as for a reply that cannot be positioned.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/clStringsUtils.h"
#include "engine/clReplyInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  TStrings header;
  TclStringsUtils::SetText(header, std::string(reinterpret_cast<const char*>(aData), aSize));
  TclResourceInfoHolder info;
  EvaluateReplyHeaders(nullptr, header, info);
  if (info.Get() && info.Get()->Size() < 0) __builtin_trap();
  return 0;
}
