#pragma once
// An index over message-header lines ("Name: value", continuation lines starting with a space or
// a tab) held in a caller's string list. It reads, adds, replaces and removes lines in that list
// directly and re-indexes after every change, and reads and writes items inside a value
// (the charset of a Content-Type, the name of a Content-Disposition).
//
// Every line written is checked: a CR or LF inside it would split the header on the wire, so
// such a line is refused with EclAssertionError, as is writing to an unbound list.
#include <cstdint>
#include <string>
#include <vector>

#include "common/clErrors.h"
#include "common/clStringsUtils.h"

struct TclHeaderFieldEntry {
  std::string Name;  // lower-cased
  int32_t Line;      // index of the field's first line in Source
};

class TclHeaderFieldList {
public:
  TclHeaderFieldList() = default;
  virtual ~TclHeaderFieldList() = default;

  // Binds aSource and indexes the fields from aStartFrom up to the first empty line; returns HeaderEnd.
  virtual int32_t Parse(int32_t aStartFrom, TStrings* aSource);

  // Lookups by name are case-insensitive and find the first field of that name; -1 or empty when absent.
  int32_t GetFieldIndex(const std::string& aName) const;
  int32_t GetFieldStart(const std::string& aName) const;
  int32_t GetFieldStart(int32_t aIndex) const;
  int32_t GetFieldEnd(const std::string& aName) const;
  int32_t GetFieldEnd(int32_t aIndex) const;
  // The name as the line writes it.
  std::string GetFieldName(const std::string& aName) const;
  std::string GetFieldName(int32_t aIndex) const;
  // The unfolded value, trimmed.
  std::string GetFieldValue(const std::string& aName) const;
  virtual std::string GetFieldValue(int32_t aIndex) const;
  // Copies the field's lines (first line and continuations) into aFieldSource.
  void GetFieldSource(const std::string& aName, TStrings& aFieldSource) const;
  void GetFieldSource(int32_t aIndex, TStrings& aFieldSource) const;

  // One item of a value: the item with the empty name is the first one (text/html of
  // "text/html; charset=utf-8"); quotes around the value are removed. Names are passed lower-case.
  virtual std::string GetFieldValueItem(const std::string& aSource, const std::string& aItemName) const;
  // Whether the item is present at all (also with an empty value).
  bool HasFieldItem(const std::string& aSource, const std::string& aItemName) const {
    return LocateFieldItem(aSource, aItemName).Found;
  }
  // "Name: value", or "Name:" for an empty value.
  static std::string GetNameValuePair(const std::string& aName, const std::string& aValue);
  // "name=value"; no second "=" when the name ends with one, the value alone when the name is empty.
  static std::string GetItemNameValuePair(const std::string& aItemName, const std::string& aValue);

  // Insertions go to HeaderEnd (after the last header line); those with an index clamp it to 0..HeaderEnd.
  void AddField(const std::string& aName, const std::string& aValue);  // nothing for an empty value
  void AddFieldIfNotExist(const std::string& aName, const std::string& aValue);
  void AddEmptyField(const std::string& aName);
  void AddNonFoldedField(const std::string& aName, const std::string& aValue);
  void AddFields(const TStrings& aFields);
  // First value on the name line, the others on continuation lines, separated by ",".
  void AddArrayField(const std::string& aName, const TStrings& aValues);
  void InsertField(int32_t aPosition, const std::string& aName, const std::string& aValue);
  void InsertFieldIfNotExist(int32_t aPosition, const std::string& aName, const std::string& aValue);
  void InsertEmptyField(int32_t aPosition, const std::string& aName);
  void InsertNonFoldedField(int32_t aPosition, const std::string& aName, const std::string& aValue);
  // Makes sure an empty line follows the header.
  void AddEndOfHeader();
  // Deletes the field with all its continuation lines.
  void RemoveField(const std::string& aName);
  void RemoveField(int32_t aIndex);

  // Items inside an existing field's value; nothing happens when the field is absent.
  void AddFieldItem(const std::string& aFieldName, const std::string& aItemName, const std::string& aValue,
                    bool aNewLine = false);
  void AddFieldItem(int32_t aFieldIndex, const std::string& aItemName, const std::string& aValue,
                    bool aNewLine = false);
  // The value in double quotes unless it already begins or ends with one.
  void AddQuotedFieldItem(const std::string& aFieldName, const std::string& aItemName, const std::string& aValue,
                          bool aNewLine = false);
  void AddQuotedFieldItem(int32_t aFieldIndex, const std::string& aItemName, const std::string& aValue,
                          bool aNewLine = false);
  void AddEmptyFieldItem(const std::string& aFieldName, const std::string& aItemName, bool aNewLine = false);
  void AddEmptyFieldItem(int32_t aFieldIndex, const std::string& aItemName, bool aNewLine = false);
  // Removes the item with its adjoining delimiter; ClearFieldItem keeps "name=" and drops the value.
  void RemoveFieldItem(const std::string& aFieldName, const std::string& aItemName);
  void RemoveFieldItem(int32_t aFieldIndex, const std::string& aItemName);
  void ClearFieldItem(const std::string& aFieldName, const std::string& aItemName);
  void ClearFieldItem(int32_t aFieldIndex, const std::string& aItemName);

  const std::vector<TclHeaderFieldEntry>& FieldList() const { return FFieldList; }
  TStrings* Source() const { return FSource; }
  int32_t HeaderEnd() const { return FHeaderEnd; }
  int32_t HeaderStart() const { return FHeaderStart; }
  int32_t CharsPerLine() const { return FCharsPerLine; }
  void SetCharsPerLine(int32_t aValue) {
    if (aValue >= 0) FCharsPerLine = aValue;
  }
  char ItemDelimiter() const { return FItemDelimiter; }
  void SetItemDelimiter(char aValue) { FItemDelimiter = aValue; }

protected:
  // Where an item lies inside a value: [NameStart, ValueStart) is "name=", [ValueStart, ValueEnd) its value.
  struct TItemLocation {
    bool Found = false;
    size_t NameStart = 0;
    size_t ValueStart = 0;
    size_t ValueEnd = 0;
  };

  virtual std::string QuoteChars() const { return "\"'"; }
  virtual std::string ValueDelimiters() const { return ",;"; }
  virtual std::string FoldKeepChars() const { return "\"'(),;<>"; }
  virtual std::string SpaceChars() const { return "\t\n\r "; }
  virtual std::string ReadRawFieldValue(int32_t aFieldIndex) const;
  virtual TItemLocation LocateFieldItem(const std::string& aSource, const std::string& aItemName) const;
  virtual void InsertLine(int32_t aPosition, const std::string& aLine, bool aFold);
  virtual void AppendFieldItem(int32_t aFieldIndex, const std::string& aItemPair, bool aNewLine);
  virtual void RemoveItemText(int32_t aFieldIndex, const std::string& aItemName);
  virtual void ClearItemText(int32_t aFieldIndex, const std::string& aItemName);
  virtual void InsertLines(int32_t aPosition, const TStrings& aLines);
  virtual void DeleteFieldLines(int32_t aFieldIndex);

private:
  bool IsValidField(int32_t aIndex) const { return aIndex >= 0 && aIndex < int32_t(FFieldList.size()); }
  bool IsContinuation(const std::string& aLine) const;
  void CheckBound() const;
  void CheckLine(const std::string& aLine) const;
  int32_t ClampPosition(int32_t aPosition) const;
  // aText cut into continuation pieces of at most about CharsPerLine characters.
  TStrings Fold(const std::string& aText) const;
  // Replaces the lines of a field by the text, split at LF into a first line and continuations.
  void ReplaceFieldText(int32_t aFieldIndex, const std::string& aText);
  std::string FieldText(int32_t aFieldIndex) const;
  // The field's lines joined by LF into aText, and the item within the value part of that text.
  TItemLocation LocateItemInField(int32_t aFieldIndex, const std::string& aItemName, std::string& aText) const;
  void Reindex();

  std::vector<TclHeaderFieldEntry> FFieldList;
  TStrings* FSource = nullptr;
  int32_t FHeaderEnd = 0;
  int32_t FHeaderStart = 0;
  int32_t FCharsPerLine = 0;
  char FItemDelimiter = ';';
};
