#include "app/TextRoutines.h"

#include <charconv>
#include <string_view>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(std::string& aOut, uint32_t aCode) {
  if (aCode < 0x80) {
    aOut += static_cast<char>(aCode);
  } else if (aCode < 0x800) {
    aOut += static_cast<char>(0xC0 | (aCode >> 6));
    aOut += static_cast<char>(0x80 | (aCode & 0x3F));
  } else if (aCode < 0x10000) {
    aOut += static_cast<char>(0xE0 | (aCode >> 12));
    aOut += static_cast<char>(0x80 | ((aCode >> 6) & 0x3F));
    aOut += static_cast<char>(0x80 | (aCode & 0x3F));
  } else {
    aOut += static_cast<char>(0xF0 | (aCode >> 18));
    aOut += static_cast<char>(0x80 | ((aCode >> 12) & 0x3F));
    aOut += static_cast<char>(0x80 | ((aCode >> 6) & 0x3F));
    aOut += static_cast<char>(0x80 | (aCode & 0x3F));
  }
}

constexpr uint32_t kReplacementChar = 0xFFFD;

// Fixed-point text with aDecimals decimals, independent of the process's C locale.
std::string Fixed(double aValue, int aDecimals) {
  char buffer[400];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, aValue, std::chars_format::fixed, aDecimals);
  return std::string(buffer, result.ptr);
}

// The digits before the decimal point grouped by threes with ",".
std::string GroupThousands(const std::string& aNumber) {
  size_t begin = (!aNumber.empty() && aNumber[0] == '-') ? 1 : 0;
  size_t end = aNumber.find('.');
  if (end == std::string::npos) end = aNumber.size();
  std::string grouped = aNumber.substr(0, begin);
  for (size_t i = begin; i < end; ++i) {
    if (i > begin && (end - i) % 3 == 0) grouped += ',';
    grouped += aNumber[i];
  }
  return grouped + aNumber.substr(end);
}

}  // namespace

std::string CleanFileName(const std::string& aText) {
  static constexpr std::string_view kForbidden = "\\/:*?\"<>|";
  std::string result;
  result.reserve(aText.size());
  for (char c : aText) {
    // Control characters (a decoded \u000a in a part name) would make names no one can type.
    bool control = static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    if (!control && kForbidden.find(c) == std::string_view::npos) result += c;
  }
  return result;
}

std::string UnescapeJson(const std::string& aText) {
  std::string out;
  out.reserve(aText.size());
  uint32_t high = 0;  // a high surrogate waiting for its low half
  auto flushHigh = [&] {
    if (high != 0) AppendUtf8(out, kReplacementChar);
    high = 0;
  };
  size_t i = 0;
  while (i < aText.size()) {
    if (aText[i] == '\\' && i + 1 < aText.size() && aText[i + 1] == 'u') {
      // Four hexadecimal digits, fewer only where the text ends; anything else stays as written.
      size_t digits = std::min<size_t>(4, aText.size() - i - 2);
      uint32_t unit = 0;
      bool valid = digits > 0;
      for (size_t k = 0; valid && k < digits; ++k) {
        int value = HexValue(aText[i + 2 + k]);
        valid = value >= 0;
        unit = unit * 16 + value;
      }
      if (valid) {
        i += 2 + digits;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          flushHigh();
          high = unit;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
          if (high != 0)
            AppendUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
          else
            AppendUtf8(out, kReplacementChar);
          high = 0;
        } else {
          flushHigh();
          // A NUL would cut every file name made from the text.
          if (unit != 0) AppendUtf8(out, unit);
        }
        continue;
      }
    }
    flushHigh();
    if (aText[i] == '\\' && i + 1 < aText.size() && aText[i + 1] == '/') {
      out += '/';
      i += 2;
    } else {
      out += aText[i++];
    }
  }
  flushHigh();
  return out;
}

std::string FormatSize(int64_t aBytes) {
  struct TSizeStep {
    int64_t Minimum;
    double Unit;
    int Decimals;
    const char* UnitText;
  };
  constexpr int64_t KB = 1024, MB = KB * 1024, GB = MB * 1024;
  static constexpr TSizeStep kSteps[] = {
      {100 * GB, GB, 0, "GB"}, {10 * GB, GB, 1, "GB"}, {GB, GB, 2, "GB"},
      {100 * MB, MB, 0, "MB"}, {10 * MB, MB, 1, "MB"}, {MB, MB, 2, "MB"},
      {100 * KB, KB, 0, "KB"}, {10 * KB, KB, 1, "KB"}, {KB, KB, 2, "KB"},
  };
  for (const auto& step : kSteps)
    if (aBytes >= step.Minimum) return Fixed(aBytes / step.Unit, step.Decimals) + step.UnitText;
  return Fixed(static_cast<double>(aBytes), 0);
}

std::string FormatSpeed(double aBytesPerSecond) {
  double value = aBytesPerSecond;
  const char* unit = " B/S";
  if (value >= 1024) {
    value /= 1024;
    unit = " KB/S";
    if (value >= 1024) {
      value /= 1024;
      unit = " MB/S";
    }
  }
  return GroupThousands(Fixed(value, 2)) + unit;
}

std::string ProgressText(int64_t aDone, int64_t aTotal) {
  return Fixed(static_cast<double>(aDone) / static_cast<double>(aTotal) * 100, 2) + "%";
}

std::string PadNumber(int aTotal, int aIndex) {
  std::string number = std::to_string(static_cast<int64_t>(aIndex) + 1);
  size_t width = std::to_string(aTotal).size();
  if (number.size() < width) number.insert(0, width - number.size(), '0');
  return number;
}
