#include "http/clIdnTranslator.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace {

constexpr int32_t cBase = 36;
constexpr int32_t cTMin = 1;
constexpr int32_t cTMax = 26;
constexpr int32_t cSkew = 38;
constexpr int32_t cDamp = 700;
constexpr int32_t cInitialBias = 72;
constexpr int32_t cInitialN = 128;
constexpr int32_t cMaxInt = std::numeric_limits<int32_t>::max();

constexpr size_t cMaxLabelLength = 63;  // DNS limits on the ASCII form
constexpr size_t cMaxHostLength = 253;   // without a final "."
constexpr size_t cMaxUtf8Length = 4;

const char* const cBadInput = "Bad input value for the IDN translator";
const char* const cOverflow = "Input value needs wider integers to translate";

// Code points of UTF-8 text; a byte that starts no valid sequence stands for U+FFFD, so any
// input gives a defined label.
std::vector<int32_t> DecodeUtf8(const std::string& aText) {
  std::vector<int32_t> result;
  size_t i = 0;
  while (i < aText.size()) {
    unsigned char lead = static_cast<unsigned char>(aText[i]);
    int len = lead < 0x80 ? 1 : lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 && lead < 0xF0 ? 3
              : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    int32_t cp = len == 1 ? lead : len == 2 ? lead & 0x1F : len == 3 ? lead & 0x0F : lead & 0x07;
    bool ok = len > 0 && i + size_t(len) <= aText.size();
    for (int k = 1; ok && k < len; ++k) {
      unsigned char c = static_cast<unsigned char>(aText[i + size_t(k)]);
      ok = (c & 0xC0) == 0x80;
      cp = (cp << 6) | (c & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    ok = ok && !(len == 3 && cp < 0x800) && !(len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) &&
         !(cp >= 0xD800 && cp <= 0xDFFF);
    if (ok) {
      result.push_back(cp);
      i += size_t(len);
    } else {
      result.push_back(0xFFFD);
      ++i;
    }
  }
  return result;
}

char EncodeDigit(int32_t aDigit) {
  if (aDigit < 0 || aDigit >= cBase) throw EclIdnError(cBadInput);
  return static_cast<char>(aDigit < 26 ? 'a' + aDigit : '0' + aDigit - 26);
}

void Increment(int32_t& aDelta) {
  if (aDelta == cMaxInt) throw EclIdnError(cOverflow);
  ++aDelta;
}

int32_t Adapt(int32_t aDelta, int32_t aNumPoints, bool aFirstTime) {
  aDelta = aFirstTime ? aDelta / cDamp : aDelta / 2;
  aDelta += aDelta / aNumPoints;
  int32_t k = 0;
  while (aDelta > ((cBase - cTMin) * cTMax) / 2) {
    aDelta /= cBase - cTMin;
    k += cBase;
  }
  return k + (cBase - cTMin + 1) * aDelta / (aDelta + cSkew);
}

std::string Punycode(const std::vector<int32_t>& aInput) {
  std::string output;
  for (int32_t cp : aInput)
    if (cp < 0x80) output += static_cast<char>(cp);
  const int32_t basicCount = static_cast<int32_t>(output.size());
  if (basicCount > 0) output += '-';
  if (aInput.size() > size_t(cMaxInt)) throw EclIdnError(cOverflow);
  const int32_t inputLength = static_cast<int32_t>(aInput.size());

  int32_t n = cInitialN;
  int32_t delta = 0;
  int32_t bias = cInitialBias;
  int32_t handled = basicCount;
  while (handled < inputLength) {
    int32_t m = cMaxInt;
    for (int32_t cp : aInput)
      if (cp >= n && cp < m) m = cp;
    if (m - n > (cMaxInt - delta) / (handled + 1)) throw EclIdnError(cOverflow);
    delta += (m - n) * (handled + 1);
    n = m;
    for (int32_t cp : aInput) {
      if (cp < n) Increment(delta);
      if (cp != n) continue;
      int32_t q = delta;
      for (int32_t k = cBase;; k += cBase) {
        int32_t t = k <= bias ? cTMin : k >= bias + cTMax ? cTMax : k - bias;
        if (q < t) break;
        output += EncodeDigit(t + (q - t) % (cBase - t));
        q = (q - t) / (cBase - t);
      }
      output += EncodeDigit(q);
      bias = Adapt(delta, handled + 1, handled == basicCount);
      delta = 0;
      ++handled;
    }
    Increment(delta);
    ++n;
  }
  return output;
}

// Names longer than DNS allows are refused; checked before Punycode, which is quadratic by nature.
void CheckLength(size_t aLength, size_t aLimit) {
  if (aLength > aLimit) throw EclIdnError(cBadInput);
}

}  // namespace

bool TclIdnTranslator::IsBasic(const std::string& aInput) {
  for (char c : aInput)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::string TclIdnTranslator::GetAsciiText(const std::string& aInput) {
  if (IsBasic(aInput)) return aInput;
  // Each character gives at least one of the ASCII form, so more than a label's length never fit.
  std::vector<int32_t> characters = DecodeUtf8(aInput);
  CheckLength(characters.size(), cMaxLabelLength);
  return "xn--" + Punycode(characters);
}

std::string TclIdnTranslator::GetAscii(const std::string& aInput) {
  // A final "." (the root) is not counted. A character takes at most four bytes and gives at least
  // one of the ASCII form, so a longer text cannot fit.
  const size_t rootDot = !aInput.empty() && aInput.back() == '.' ? 1 : 0;
  CheckLength(aInput.size() - rootDot, cMaxUtf8Length * cMaxHostLength);
  std::string result;
  size_t start = 0;
  while (true) {
    size_t dot = aInput.find('.', start);
    std::string label = GetAsciiText(aInput.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    CheckLength(label.size(), cMaxLabelLength);
    result += label;
    if (dot == std::string::npos) break;
    result += '.';
    start = dot + 1;
  }
  CheckLength(result.size() - rootDot, cMaxHostLength);
  return result;
}
