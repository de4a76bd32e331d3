#include "engine/clRangeReply.h"

#include <charconv>

#include "engine/clInternetError.h"
#include "http/clHttpHeader.h"

namespace {

// A decimal number at aText[aPos], moving aPos past it.
bool ReadNumber(const std::string& aText, size_t& aPos, int64_t& aValue) {
  const char* begin = aText.data() + aPos;
  const char* end = aText.data() + aText.size();
  if (begin == end || *begin < '0' || *begin > '9') return false;
  auto [next, error] = std::from_chars(begin, end, aValue);
  if (error != std::errc()) return false;
  aPos = size_t(next - aText.data());
  return true;
}

bool Expect(const std::string& aText, size_t& aPos, char aChar) {
  if (aPos >= aText.size() || aText[aPos] != aChar) return false;
  ++aPos;
  return true;
}

EclInternetError RangeMismatch() {
  return EclInternetError("The server's reply does not hold the requested byte range", clRangeMismatchError);
}

EclInternetError ResourceChanged() {
  return EclInternetError("The resource has changed on the server", clResourceChangedError);
}

}  // namespace

bool TclContentRange::Parse(const std::string& aValue, TclContentRange& aRange) {
  const std::string text = TclStringsUtils::Trim(aValue);
  const std::string unit = "bytes ";
  if (!TclStringsUtils::SameText(text.substr(0, unit.size()), unit)) return false;
  size_t pos = unit.size();
  while (pos < text.size() && text[pos] == ' ') ++pos;
  TclContentRange range;
  if (!ReadNumber(text, pos, range.First) || !Expect(text, pos, '-') || !ReadNumber(text, pos, range.Last) ||
      !Expect(text, pos, '/'))
    return false;
  if (pos + 1 == text.size() && text[pos] == '*')
    range.Total = -1;
  else if (!ReadNumber(text, pos, range.Total) || pos != text.size() || range.Total <= range.Last)
    return false;
  if (range.Last < range.First) return false;
  aRange = range;
  return true;
}

int64_t LeadingReplyBytes(int32_t aStatusCode, const TStrings& aResponseHeader, int64_t aRequestedPos,
                          int64_t aKnownSize) {
  TclHttpResponseHeader header;
  header.ParseHeader(aResponseHeader);
  const std::string coding = TclStringsUtils::LowerCase(header.ContentEncoding());
  if (!coding.empty() && coding != "identity") throw RangeMismatch();
  if (aStatusCode == 206) {
    TclContentRange range;
    if (!TclContentRange::Parse(header.ContentRange(), range)) throw RangeMismatch();
    if (range.Total >= 0 && aKnownSize > 0 && range.Total != aKnownSize) throw ResourceChanged();
    if (range.First > aRequestedPos || range.Last < aRequestedPos) throw RangeMismatch();
    return aRequestedPos - range.First;
  }
  if (aStatusCode == 200) {
    int64_t length = 0;
    size_t pos = 0;
    const std::string text = TclStringsUtils::Trim(header.ContentLength());
    if (ReadNumber(text, pos, length) && pos == text.size() && aKnownSize > 0 && length != aKnownSize)
      throw ResourceChanged();
    return aRequestedPos;
  }
  throw RangeMismatch();
}
