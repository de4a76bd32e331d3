#pragma once
// Character-set translation between UTF-8 text and bytes in a named character set (web names
// such as "utf-8", "us-ascii", "windows-1251", "gbk"). An empty or unknown name means the
// locale's narrow encoding. Characters a set cannot hold become "?", undecodable bytes U+FFFD.
#include <string>

class TclTranslator {
public:
  // Text (UTF-8) to bytes in aCharSet.
  static std::string GetBytes(const std::string& aText, const std::string& aCharSet);
  // Bytes in aCharSet to text (UTF-8).
  static std::string GetString(const std::string& aBytes, const std::string& aCharSet);
  // Whether the name is a character set the platform knows.
  static bool IsKnownCharSet(const std::string& aCharSet);
  // The locale's narrow encoding, used for empty and unknown names.
  static std::string DefaultCharSet();
};
