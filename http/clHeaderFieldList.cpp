#include "http/clHeaderFieldList.h"

#include <algorithm>

namespace {

bool Contains(const std::string& aChars, char aChar) { return aChars.find(aChar) != std::string::npos; }

}  // namespace

int32_t TclHeaderFieldList::Parse(int32_t aStartFrom, TStrings* aSource) {
  FSource = aSource;
  FFieldList.clear();
  const int32_t count = FSource ? int32_t(FSource->size()) : 0;
  FHeaderStart = std::clamp(aStartFrom, 0, count);
  int32_t i = FHeaderStart;
  for (; i < count; ++i) {
    const std::string& line = (*FSource)[size_t(i)];
    if (line.empty()) break;
    if (IsContinuation(line)) continue;
    size_t colon = line.find(':');
    // Lines without a colon (a request or status line) are no fields but do not end the header.
    if (colon != std::string::npos) FFieldList.push_back({TclStringsUtils::LowerCase(line.substr(0, colon)), i});
  }
  FHeaderEnd = i;
  return FHeaderEnd;
}

void TclHeaderFieldList::Reindex() { Parse(FHeaderStart, FSource); }

bool TclHeaderFieldList::IsContinuation(const std::string& aLine) const {
  return !aLine.empty() && (aLine[0] == ' ' || aLine[0] == '\t');
}

void TclHeaderFieldList::CheckBound() const {
  if (!FSource) throw EclAssertionError("The header field list is not bound to any lines");
}

void TclHeaderFieldList::CheckLine(const std::string& aLine) const {
  if (aLine.find_first_of("\r\n") != std::string::npos)
    throw EclAssertionError("A header line must not contain a line break: " + aLine);
}

int32_t TclHeaderFieldList::ClampPosition(int32_t aPosition) const {
  return std::clamp(aPosition, 0, std::min(FHeaderEnd, int32_t(FSource->size())));
}

int32_t TclHeaderFieldList::GetFieldIndex(const std::string& aName) const {
  const std::string name = TclStringsUtils::LowerCase(aName);
  for (size_t i = 0; i < FFieldList.size(); ++i)
    if (FFieldList[i].Name == name) return int32_t(i);
  return -1;
}

int32_t TclHeaderFieldList::GetFieldStart(const std::string& aName) const { return GetFieldStart(GetFieldIndex(aName)); }

int32_t TclHeaderFieldList::GetFieldStart(int32_t aIndex) const {
  return IsValidField(aIndex) ? FFieldList[size_t(aIndex)].Line : -1;
}

int32_t TclHeaderFieldList::GetFieldEnd(const std::string& aName) const { return GetFieldEnd(GetFieldIndex(aName)); }

int32_t TclHeaderFieldList::GetFieldEnd(int32_t aIndex) const {
  if (!IsValidField(aIndex)) return -1;
  const int32_t start = FFieldList[size_t(aIndex)].Line;
  const int32_t count = int32_t(FSource->size());
  int32_t next = start + 1;
  while (next < count && IsContinuation((*FSource)[size_t(next)])) ++next;
  if (next >= count) return std::max(start, FHeaderEnd - 1);
  return next - 1;
}

std::string TclHeaderFieldList::GetFieldName(const std::string& aName) const { return GetFieldName(GetFieldIndex(aName)); }

std::string TclHeaderFieldList::GetFieldName(int32_t aIndex) const {
  if (!IsValidField(aIndex)) return std::string();
  return (*FSource)[size_t(FFieldList[size_t(aIndex)].Line)].substr(0, FFieldList[size_t(aIndex)].Name.size());
}

std::string TclHeaderFieldList::ReadRawFieldValue(int32_t aFieldIndex) const {
  if (!IsValidField(aFieldIndex)) return std::string();
  const int32_t start = GetFieldStart(aFieldIndex);
  const int32_t end = GetFieldEnd(aFieldIndex);
  std::string value = (*FSource)[size_t(start)].substr(FFieldList[size_t(aFieldIndex)].Name.size() + 1);
  if (!value.empty() && (value[0] == ' ' || value[0] == '\t')) value.erase(0, 1);
  // Continuations join without a separator: folding cut the text at arbitrary places.
  for (int32_t i = start + 1; i <= end; ++i) {
    const std::string& line = (*FSource)[size_t(i)];
    value += !line.empty() && line[0] == '\t' ? line.substr(1) : line;
  }
  return value;
}

std::string TclHeaderFieldList::GetFieldValue(const std::string& aName) const { return GetFieldValue(GetFieldIndex(aName)); }

std::string TclHeaderFieldList::GetFieldValue(int32_t aIndex) const { return TclStringsUtils::Trim(ReadRawFieldValue(aIndex)); }

void TclHeaderFieldList::GetFieldSource(const std::string& aName, TStrings& aFieldSource) const {
  GetFieldSource(GetFieldIndex(aName), aFieldSource);
}

void TclHeaderFieldList::GetFieldSource(int32_t aIndex, TStrings& aFieldSource) const {
  aFieldSource.clear();
  if (!IsValidField(aIndex)) return;
  for (int32_t i = GetFieldStart(aIndex); i <= GetFieldEnd(aIndex); ++i) aFieldSource.push_back((*FSource)[size_t(i)]);
}

TclHeaderFieldList::TItemLocation TclHeaderFieldList::LocateFieldItem(const std::string& aSource,
                                                                      const std::string& aItemName) const {
  TItemLocation location;
  if (aItemName.empty()) {
    if (aSource.empty()) return location;
  } else {
    const std::string source = TclStringsUtils::LowerCase(aSource);
    const std::string name = TclStringsUtils::LowerCase(aItemName);
    const std::string spaces = SpaceChars();
    size_t pos = source.find(name);
    for (; pos != std::string::npos; pos = source.find(name, pos + 1)) {
      size_t next = pos + name.size();
      while (next < source.size() && Contains(spaces, source[next])) ++next;
      if (next < source.size() && source[next] == '=') {
        location.NameStart = pos;
        location.ValueStart = next + 1;
        break;
      }
    }
    if (pos == std::string::npos) return location;
  }
  location.Found = true;
  const std::string quotes = QuoteChars();
  const std::string delimiters = ValueDelimiters();
  location.ValueEnd = aSource.size();
  for (size_t i = location.ValueStart; i < aSource.size(); ++i) {
    if (Contains(quotes, aSource[i])) {
      size_t close = aSource.find(aSource[i], i + 1);
      location.ValueEnd = close == std::string::npos ? aSource.size() : close + 1;
      break;
    }
    if (Contains(delimiters, aSource[i])) {
      location.ValueEnd = i;
      break;
    }
  }
  return location;
}

std::string TclHeaderFieldList::GetFieldValueItem(const std::string& aSource, const std::string& aItemName) const {
  TItemLocation location = LocateFieldItem(aSource, aItemName);
  if (!location.Found) return std::string();
  std::string value = TclStringsUtils::Trim(aSource.substr(location.ValueStart, location.ValueEnd - location.ValueStart));
  const std::string quotes = QuoteChars();
  if (!value.empty() && Contains(quotes, value.front()) && Contains(quotes, value.back()))
    value = value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string();
  return value;
}

std::string TclHeaderFieldList::GetNameValuePair(const std::string& aName, const std::string& aValue) {
  return aName + ":" + (aValue.empty() ? std::string() : " " + aValue);
}

std::string TclHeaderFieldList::GetItemNameValuePair(const std::string& aItemName, const std::string& aValue) {
  if (aItemName.empty()) return aValue;
  if (aItemName.back() == '=') return aItemName + aValue;
  return aItemName + "=" + aValue;
}

TStrings TclHeaderFieldList::Fold(const std::string& aText) const {
  const size_t width = size_t(FCharsPerLine);
  const size_t n = aText.size() + 1;
  const size_t pieceCount = (n + width - 1) / width;
  const size_t pieceLength = std::max<size_t>(1, (n + pieceCount / 2) / pieceCount);
  TStrings pieces;
  for (size_t p = 0, start = 0; p < pieceCount && start < aText.size(); ++p, start += pieceLength)
    pieces.push_back(p + 1 == pieceCount ? aText.substr(start) : aText.substr(start, pieceLength));
  // A field line is never cut inside its name: a first line without the colon could not be found.
  const bool isFieldLine = !IsContinuation(aText) && aText.find(':') != std::string::npos;
  while (isFieldLine && pieces.size() > 1 && pieces[0].find(':') == std::string::npos) {
    pieces[0] += pieces[1];
    pieces.erase(pieces.begin() + 1);
  }
  TStrings lines;
  const std::string keep = FoldKeepChars();
  for (const auto& piece : pieces) {
    if (lines.empty())
      lines.push_back(piece);
    else if (piece.size() == 1 && Contains(keep, piece[0]))
      lines.back() += piece;
    else
      lines.push_back("\t" + piece);
  }
  return lines;
}

void TclHeaderFieldList::InsertLine(int32_t aPosition, const std::string& aLine, bool aFold) {
  CheckBound();
  CheckLine(aLine);
  if (aLine.empty()) return;
  TStrings lines = aFold && FCharsPerLine > 0 ? Fold(aLine) : TStrings{aLine};
  FSource->insert(FSource->begin() + ClampPosition(aPosition), lines.begin(), lines.end());
  Reindex();
}

void TclHeaderFieldList::InsertLines(int32_t aPosition, const TStrings& aLines) {
  CheckBound();
  for (const auto& line : aLines) CheckLine(line);
  // An empty line would end the header in the middle of the new fields.
  TStrings lines;
  std::copy_if(aLines.begin(), aLines.end(), std::back_inserter(lines), [](const std::string& l) { return !l.empty(); });
  FSource->insert(FSource->begin() + ClampPosition(aPosition), lines.begin(), lines.end());
  Reindex();
}

void TclHeaderFieldList::DeleteFieldLines(int32_t aFieldIndex) {
  CheckBound();
  if (!IsValidField(aFieldIndex)) return;
  const int32_t start = GetFieldStart(aFieldIndex);
  const int32_t end = GetFieldEnd(aFieldIndex);
  FSource->erase(FSource->begin() + start, FSource->begin() + end + 1);
  Reindex();
}

void TclHeaderFieldList::AddField(const std::string& aName, const std::string& aValue) {
  InsertField(FHeaderEnd, aName, aValue);
}

void TclHeaderFieldList::AddFieldIfNotExist(const std::string& aName, const std::string& aValue) {
  InsertFieldIfNotExist(FHeaderEnd, aName, aValue);
}

void TclHeaderFieldList::AddEmptyField(const std::string& aName) { InsertEmptyField(FHeaderEnd, aName); }

void TclHeaderFieldList::AddNonFoldedField(const std::string& aName, const std::string& aValue) {
  InsertNonFoldedField(FHeaderEnd, aName, aValue);
}

void TclHeaderFieldList::AddFields(const TStrings& aFields) { InsertLines(FHeaderEnd, aFields); }

void TclHeaderFieldList::AddArrayField(const std::string& aName, const TStrings& aValues) {
  TStrings values;
  std::copy_if(aValues.begin(), aValues.end(), std::back_inserter(values), [](const std::string& v) { return !v.empty(); });
  if (values.empty()) return;
  TStrings lines;
  for (size_t i = 0; i < values.size(); ++i) {
    const std::string separator = i + 1 < values.size() ? "," : "";
    lines.push_back(i == 0 ? GetNameValuePair(aName, values[i]) + separator : "\t" + values[i] + separator);
  }
  InsertLines(FHeaderEnd, lines);
}

void TclHeaderFieldList::InsertField(int32_t aPosition, const std::string& aName, const std::string& aValue) {
  if (!aValue.empty()) InsertLine(aPosition, GetNameValuePair(aName, aValue), true);
}

void TclHeaderFieldList::InsertFieldIfNotExist(int32_t aPosition, const std::string& aName, const std::string& aValue) {
  if (GetFieldIndex(aName) < 0) InsertField(aPosition, aName, aValue);
}

void TclHeaderFieldList::InsertEmptyField(int32_t aPosition, const std::string& aName) {
  InsertLine(aPosition, GetNameValuePair(aName, std::string()), true);
}

void TclHeaderFieldList::InsertNonFoldedField(int32_t aPosition, const std::string& aName, const std::string& aValue) {
  if (!aValue.empty()) InsertLine(aPosition, GetNameValuePair(aName, aValue), false);
}

void TclHeaderFieldList::AddEndOfHeader() {
  CheckBound();
  const int32_t count = int32_t(FSource->size());
  if (FHeaderEnd < count) {
    if (!(*FSource)[size_t(FHeaderEnd)].empty()) FSource->insert(FSource->begin() + FHeaderEnd, std::string());
  } else if (count > 0 && !FSource->back().empty()) {
    FSource->push_back(std::string());
  }
  Reindex();
}

void TclHeaderFieldList::RemoveField(const std::string& aName) { RemoveField(GetFieldIndex(aName)); }

void TclHeaderFieldList::RemoveField(int32_t aIndex) {
  if (IsValidField(aIndex)) DeleteFieldLines(aIndex);
}

void TclHeaderFieldList::AppendFieldItem(int32_t aFieldIndex, const std::string& aItemPair, bool aNewLine) {
  CheckBound();
  CheckLine(aItemPair);
  const int32_t end = GetFieldEnd(aFieldIndex);
  // Trimmed on the right only: the leading tab marks a continuation line.
  std::string text = TclStringsUtils::TrimRight((*FSource)[size_t(end)]);
  if (!text.empty() && text.back() != ':' && text.back() != FItemDelimiter) text += FItemDelimiter;
  const bool fits = FCharsPerLine == 0 || text.size() + 1 + aItemPair.size() <= size_t(FCharsPerLine);
  if (!aNewLine && fits) {
    (*FSource)[size_t(end)] = text + " " + aItemPair;
    return;
  }
  (*FSource)[size_t(end)] = text;
  TStrings lines = FCharsPerLine > 0 ? Fold("\t" + aItemPair) : TStrings{"\t" + aItemPair};
  FSource->insert(FSource->begin() + end + 1, lines.begin(), lines.end());
  Reindex();
}

void TclHeaderFieldList::AddFieldItem(const std::string& aFieldName, const std::string& aItemName,
                                      const std::string& aValue, bool aNewLine) {
  AddFieldItem(GetFieldIndex(aFieldName), aItemName, aValue, aNewLine);
}

void TclHeaderFieldList::AddFieldItem(int32_t aFieldIndex, const std::string& aItemName, const std::string& aValue,
                                      bool aNewLine) {
  const std::string value = TclStringsUtils::Trim(aValue);
  if (value.empty() || !IsValidField(aFieldIndex)) return;
  AppendFieldItem(aFieldIndex, GetItemNameValuePair(aItemName, value), aNewLine);
}

void TclHeaderFieldList::AddQuotedFieldItem(const std::string& aFieldName, const std::string& aItemName,
                                            const std::string& aValue, bool aNewLine) {
  AddQuotedFieldItem(GetFieldIndex(aFieldName), aItemName, aValue, aNewLine);
}

void TclHeaderFieldList::AddQuotedFieldItem(int32_t aFieldIndex, const std::string& aItemName,
                                            const std::string& aValue, bool aNewLine) {
  std::string value = TclStringsUtils::Trim(aValue);
  if (!value.empty() && value.front() != '"' && value.back() != '"') value = "\"" + value + "\"";
  AddFieldItem(aFieldIndex, aItemName, value, aNewLine);
}

void TclHeaderFieldList::AddEmptyFieldItem(const std::string& aFieldName, const std::string& aItemName, bool aNewLine) {
  AddEmptyFieldItem(GetFieldIndex(aFieldName), aItemName, aNewLine);
}

void TclHeaderFieldList::AddEmptyFieldItem(int32_t aFieldIndex, const std::string& aItemName, bool aNewLine) {
  if (!aItemName.empty() && IsValidField(aFieldIndex)) AppendFieldItem(aFieldIndex, aItemName, aNewLine);
}

std::string TclHeaderFieldList::FieldText(int32_t aFieldIndex) const {
  std::string text;
  for (int32_t i = GetFieldStart(aFieldIndex); i <= GetFieldEnd(aFieldIndex); ++i)
    text += (text.empty() ? "" : "\n") + (*FSource)[size_t(i)];
  return text;
}

void TclHeaderFieldList::ReplaceFieldText(int32_t aFieldIndex, const std::string& aText) {
  TStrings lines;
  TclStringsUtils::SetText(lines, aText);
  if (lines.empty()) return;
  // Continuations emptied by the edit would end the header; they go.
  lines.erase(std::remove_if(lines.begin() + 1, lines.end(),
                             [](const std::string& l) { return TclStringsUtils::Trim(l).empty(); }),
              lines.end());
  const int32_t start = GetFieldStart(aFieldIndex);
  const int32_t end = GetFieldEnd(aFieldIndex);
  FSource->erase(FSource->begin() + start, FSource->begin() + end + 1);
  FSource->insert(FSource->begin() + start, lines.begin(), lines.end());
  Reindex();
}

TclHeaderFieldList::TItemLocation TclHeaderFieldList::LocateItemInField(int32_t aFieldIndex,
                                                                      const std::string& aItemName,
                                                                      std::string& aText) const {
  CheckBound();
  if (!IsValidField(aFieldIndex)) return TItemLocation();
  aText = FieldText(aFieldIndex);
  return LocateFieldItem(aText.substr(FFieldList[size_t(aFieldIndex)].Name.size() + 1), aItemName);
}

void TclHeaderFieldList::RemoveItemText(int32_t aFieldIndex, const std::string& aItemName) {
  std::string text;
  TItemLocation location = LocateItemInField(aFieldIndex, aItemName, text);
  if (!location.Found) return;
  const size_t valueStart = FFieldList[size_t(aFieldIndex)].Name.size() + 1;
  const std::string spaces = SpaceChars();
  const std::string delimiters = ValueDelimiters();
  size_t from = valueStart + location.NameStart;
  size_t to = valueStart + location.ValueEnd;
  // The unnamed first item begins after the space that follows the colon.
  while (from < to && Contains(spaces, text[from])) ++from;
  size_t next = to;
  while (next < text.size() && Contains(spaces, text[next])) ++next;
  if (next < text.size() && Contains(delimiters, text[next])) {
    // Followed by another item: the delimiter after it and the space before that item go.
    to = next + 1;
    while (to < text.size() && Contains(spaces, text[to])) ++to;
  } else {
    // The last item: the delimiter before it goes.
    to = next;
    while (from > valueStart && Contains(spaces, text[from - 1])) --from;
    if (from > valueStart && Contains(delimiters, text[from - 1])) --from;
    while (from > valueStart && Contains(spaces, text[from - 1])) --from;
  }
  text.erase(from, to - from);
  ReplaceFieldText(aFieldIndex, text);
}

void TclHeaderFieldList::ClearItemText(int32_t aFieldIndex, const std::string& aItemName) {
  std::string text;
  TItemLocation location = LocateItemInField(aFieldIndex, aItemName, text);
  if (!location.Found) return;
  const size_t valueStart = FFieldList[size_t(aFieldIndex)].Name.size() + 1;
  text.erase(valueStart + location.ValueStart, location.ValueEnd - location.ValueStart);
  ReplaceFieldText(aFieldIndex, text);
}

void TclHeaderFieldList::RemoveFieldItem(const std::string& aFieldName, const std::string& aItemName) {
  RemoveItemText(GetFieldIndex(aFieldName), aItemName);
}

void TclHeaderFieldList::RemoveFieldItem(int32_t aFieldIndex, const std::string& aItemName) {
  RemoveItemText(aFieldIndex, aItemName);
}

void TclHeaderFieldList::ClearFieldItem(const std::string& aFieldName, const std::string& aItemName) {
  ClearItemText(GetFieldIndex(aFieldName), aItemName);
}

void TclHeaderFieldList::ClearFieldItem(int32_t aFieldIndex, const std::string& aItemName) {
  ClearItemText(aFieldIndex, aItemName);
}
