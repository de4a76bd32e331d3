#pragma once
// Header text of the internet client: the lines a request sends, edited the way
// HttpAddRequestHeadersA edits them, and the header block of a reply as it arrives.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clWinInet.h"

// The request's own header lines ("Name: value"), in the order they were added.
class TclRequestHeaderLines {
public:
  // Applies each CR LF separated line of aText with the HTTP_ADDREQ_FLAG_* modifiers. Answers 0, or
  // the error number of the first line that could not be applied (the other lines still are).
  DWORD Apply(std::string_view aText, DWORD aModifiers);
  bool Has(std::string_view aName) const;
  std::vector<std::string> Lines() const;

private:
  DWORD ApplyLine(std::string_view aName, std::string_view aValue, DWORD aModifiers);
  std::vector<std::pair<std::string, std::string>> FLines;
};

// The header block of one reply: the status line first, then the header lines, each ending in
// CR LF, then the empty line.
class TclReplyHeaders {
public:
  // Larger header blocks are refused as an invalid reply (libcurl itself may refuse smaller ones).
  static constexpr size_t cMaxBlockSize = 1 << 20;

  void Clear();
  // Takes the next line as the transport delivered it (with or without its line break); false when
  // the block would grow past cMaxBlockSize.
  bool AddLine(std::string_view aLine);
  bool Empty() const { return FRaw.empty(); }
  bool Complete() const { return FComplete; }
  int StatusCode() const { return FStatusCode; }
  const std::string& StatusText() const { return FStatusText; }
  const std::string& Raw() const { return FRaw; }
  // The first value of the named field, trimmed; empty when there is none.
  std::string Value(std::string_view aName) const;

private:
  void ReadStatusLine(std::string_view aLine);
  std::string FRaw;
  int FStatusCode = 0;
  std::string FStatusText;
  bool FComplete = false;
};

// Text helpers shared by the client's units.
std::string_view TrimBlanks(std::string_view aText);
bool SameText(std::string_view aLeft, std::string_view aRight);
