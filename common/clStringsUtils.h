#pragma once
// Loading and saving lists of text lines from and to streams in a named character set.
#include <string>
#include <vector>

#include "common/clStreams.h"

using TStrings = std::vector<std::string>;

class TclStringsUtils {
public:
  // Reads the rest of aSource as text in aCharSet and splits it at CR LF, LF or CR. A final line
  // break does not start another line.
  static void LoadStrings(TStream& aSource, TStrings& aList, const std::string& aCharSet);
  // Writes every line followed by CR LF, in aCharSet.
  static void SaveStrings(const TStrings& aList, TStream& aDestination, const std::string& aCharSet);
  // The lines joined by CR LF, each followed by one (the list's text form).
  static std::string GetText(const TStrings& aList);
  static void SetText(TStrings& aList, const std::string& aText);
  // Text without leading and trailing white space and control characters (bytes up to space).
  static std::string Trim(const std::string& aText);
  static std::string TrimRight(const std::string& aText);
  // ASCII letters lower-cased; other bytes (UTF-8 included) unchanged.
  static std::string LowerCase(const std::string& aText);
  // Equal ignoring the case of ASCII letters.
  static bool SameText(const std::string& aLeft, const std::string& aRight);
};
