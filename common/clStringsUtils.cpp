#include "common/clStringsUtils.h"

#include "common/clTranslator.h"

void TclStringsUtils::SetText(TStrings& aList, const std::string& aText) {
  aList.clear();
  size_t start = 0;
  size_t i = 0;
  while (i < aText.size()) {
    char c = aText[i];
    if (c == '\r' || c == '\n') {
      aList.push_back(aText.substr(start, i - start));
      i += (c == '\r' && i + 1 < aText.size() && aText[i + 1] == '\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < aText.size()) aList.push_back(aText.substr(start));
}

std::string TclStringsUtils::GetText(const TStrings& aList) {
  std::string text;
  for (const auto& line : aList) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TclStringsUtils::LoadStrings(TStream& aSource, TStrings& aList, const std::string& aCharSet) {
  std::string bytes;
  char buf[65536];
  int64_t n;
  while ((n = aSource.Read(buf, sizeof buf)) > 0) bytes.append(buf, size_t(n));
  SetText(aList, TclTranslator::GetString(bytes, aCharSet));
}

void TclStringsUtils::SaveStrings(const TStrings& aList, TStream& aDestination, const std::string& aCharSet) {
  std::string bytes = TclTranslator::GetBytes(GetText(aList), aCharSet);
  aDestination.WriteBuffer(bytes.data(), int64_t(bytes.size()));
}

namespace {
bool IsTrimmed(char aChar) { return static_cast<unsigned char>(aChar) <= ' '; }
}  // namespace

std::string TclStringsUtils::Trim(const std::string& aText) {
  size_t start = 0;
  while (start < aText.size() && IsTrimmed(aText[start])) ++start;
  size_t end = aText.size();
  while (end > start && IsTrimmed(aText[end - 1])) --end;
  return aText.substr(start, end - start);
}

std::string TclStringsUtils::TrimRight(const std::string& aText) {
  size_t end = aText.size();
  while (end > 0 && IsTrimmed(aText[end - 1])) --end;
  return aText.substr(0, end);
}

std::string TclStringsUtils::LowerCase(const std::string& aText) {
  std::string result = aText;
  for (char& c : result)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return result;
}

bool TclStringsUtils::SameText(const std::string& aLeft, const std::string& aRight) {
  return aLeft.size() == aRight.size() && LowerCase(aLeft) == LowerCase(aRight);
}
