// The text routines over page text of any shape: no crash, no growth, valid UTF-8 stays valid.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/TextRoutines.h"

namespace {

bool IsValidUtf8(const std::string& aText) {
  for (size_t i = 0; i < aText.size();) {
    unsigned char lead = aText[i];
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > aText.size()) return false;
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      unsigned char next = aText[i + k];
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static constexpr uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kShortest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  const std::string input(reinterpret_cast<const char*>(aData), aSize);
  const std::string unescaped = UnescapeJson(input);
  // Every escape is longer than what it stands for.
  if (unescaped.size() > input.size()) abort();
  if (IsValidUtf8(input) && !IsValidUtf8(unescaped)) abort();
  if (CleanFileName(unescaped).find_first_of("\\/:*?\"<>|") != std::string::npos) abort();
  return 0;
}
