// Arbitrary bytes as a chunked body, written whole and in pieces of every size: no crash, the
// data never outgrows the body, and where the pieces are cut changes nothing.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/clStreams.h"

namespace {

struct TDecoded {
  std::string Data;
  bool Completed = false;
  bool Refused = false;
  bool operator==(const TDecoded&) const = default;
};

TDecoded Decode(const uint8_t* aData, size_t aSize, size_t aPiece) {
  TMemoryStream destination;
  TclChunkedStream chunked(&destination);
  TDecoded result;
  try {
    for (size_t pos = 0; pos < aSize; pos += aPiece)
      chunked.WriteBuffer(aData + pos, int64_t(std::min(aPiece, aSize - pos)));
  } catch (const EStreamError&) {
    result.Refused = true;
  }
  result.Data = destination.Data();
  result.Completed = chunked.IsCompleted();
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 1) return 0;
  const size_t piece = 1 + aData[0] % 32;
  const TDecoded whole = Decode(aData + 1, aSize - 1, aSize);
  if (whole.Data.size() > aSize - 1) std::abort();
  if (!(Decode(aData + 1, aSize - 1, piece) == whole)) std::abort();
  return 0;
}
