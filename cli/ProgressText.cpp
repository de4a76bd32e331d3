#include "cli/ProgressText.h"

#include <algorithm>
#include <cstdio>

#include "app/TextRoutines.h"

namespace {

// The code point of the UTF-8 character at aAt and its length; a stray byte counts as one.
char32_t DecodeAt(const std::string& aText, size_t aAt, size_t& aLength) {
  unsigned char lead = aText[aAt];
  size_t length = lead < 0x80 ? 1 : lead >> 5 == 0x6 ? 2 : lead >> 4 == 0xE ? 3 : lead >> 3 == 0x1E ? 4 : 1;
  if (aAt + length > aText.size()) length = 1;
  char32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
  for (size_t i = 1; i < length; ++i) code = (code << 6) | (static_cast<unsigned char>(aText[aAt + i]) & 0x3F);
  aLength = length;
  return code;
}

// East Asian wide and full-width ranges, the ones a downloader's names and messages meet.
bool Wide(char32_t aCode) {
  return (aCode >= 0x1100 && aCode <= 0x115F) || (aCode >= 0x2E80 && aCode <= 0x303E) ||
         (aCode >= 0x3041 && aCode <= 0x33FF) || (aCode >= 0x3400 && aCode <= 0x4DBF) ||
         (aCode >= 0x4E00 && aCode <= 0x9FFF) || (aCode >= 0xA000 && aCode <= 0xA4CF) ||
         (aCode >= 0xAC00 && aCode <= 0xD7A3) || (aCode >= 0xF900 && aCode <= 0xFAFF) ||
         (aCode >= 0xFE30 && aCode <= 0xFE4F) || (aCode >= 0xFF00 && aCode <= 0xFF60) ||
         (aCode >= 0xFFE0 && aCode <= 0xFFE6) || (aCode >= 0x1F300 && aCode <= 0x1F64F) ||
         (aCode >= 0x20000 && aCode <= 0x3FFFD);
}

int Columns(char32_t aCode) { return aCode < 0x20 || aCode == 0x7F ? 0 : Wide(aCode) ? 2 : 1; }

}  // namespace

int DisplayWidth(const std::string& aText) {
  int width = 0;
  for (size_t at = 0, length = 0; at < aText.size(); at += length) width += Columns(DecodeAt(aText, at, length));
  return width;
}

std::string FitToWidth(const std::string& aText, int aColumns) {
  if (DisplayWidth(aText) <= aColumns) return aText;
  if (aColumns <= 0) return {};
  // Room for the one-column "…".
  int width = 0;
  size_t at = 0;
  for (size_t length = 0; at < aText.size(); at += length) {
    int columns = Columns(DecodeAt(aText, at, length));
    if (width + columns > aColumns - 1) break;
    width += columns;
  }
  return aText.substr(0, at) + "…";
}

std::string ProgressBar(int64_t aDone, int64_t aTotal, int aColumns) {
  aColumns = std::max(aColumns, 1);
  int filled = 0;
  if (aTotal > 0) filled = static_cast<int>(std::clamp<double>(double(aDone) / double(aTotal), 0, 1) * aColumns);
  std::string bar(1, '[');
  bar.append(filled, '#').append(aColumns - filled, '-').push_back(']');
  return bar;
}

std::string FormatTimeLeft(int64_t aSeconds) {
  if (aSeconds < 0) return "--:--";
  char text[32];
  if (aSeconds >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(aSeconds / 3600),
                  static_cast<long long>(aSeconds / 60 % 60), static_cast<long long>(aSeconds % 60));
  else
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(aSeconds / 60),
                  static_cast<long long>(aSeconds % 60));
  return text;
}

std::string OverallLine(const TOverallProgress& aProgress) {
  std::string line = "总计 " + FormatSize(aProgress.Done);
  if (aProgress.Total > 0) line += " / " + FormatSize(aProgress.Total) + "  " + ProgressText(aProgress.Done, aProgress.Total);
  int64_t left = -1;
  if (aProgress.SizesKnown && aProgress.Done >= aProgress.Total)
    left = 0;
  else if (aProgress.SizesKnown && aProgress.Speed > 0)
    left = static_cast<int64_t>(double(std::max<int64_t>(aProgress.Total - aProgress.Done, 0)) / aProgress.Speed + 0.5);
  line += "  " + FormatSpeed(aProgress.Speed) + "  剩余 " + FormatTimeLeft(left);
  line += "  分段 " + std::to_string(aProgress.SegmentsSaved) + "/" + std::to_string(aProgress.Segments);
  return line;
}
