#include <gtest/gtest.h>

#include "app/TextRoutines.h"

TEST(TextRoutines, CleanFileNameDropsTheNineForbiddenCharactersAndControls) {
  EXPECT_EQ(CleanFileName("a\\b/c:d*e?f\"g<h>i|j"), "abcdefghij");
  EXPECT_EQ(CleanFileName("line\nbreak\t\x01\x7f end"), "linebreak end");
  EXPECT_EQ(CleanFileName("第1话 Opening.flv"), "第1话 Opening.flv");
  EXPECT_EQ(CleanFileName("<>"), "");
}

TEST(TextRoutines, UnescapeJson) {
  struct TCase {
    std::string In, Out;
  } cases[] = {
      {"\\u7b2c1\\u8bdd", "第1话"},
      {"\\u7B2C\\u7b2c", "第第"},                   // either letter case
      {"a\\/b", "a/b"},
      {"plain \\\" \\n \\\\ text", "plain \\\" \\n \\\\ text"},  // other escapes stay
      {"\\ud83d\\ude00!", "\xF0\x9F\x98\x80!"},      // a surrogate pair is one character
      {"\\ude00x", "\xEF\xBF\xBDx"},                 // a lone half cannot be written in UTF-8
      {"\\ud83dx", "\xEF\xBF\xBDx"},
      {"\\u00e9\\u0041", "\xC3\xA9" "A"},
      {"\\u41", "A"},                                // fewer digits only where the text ends
      {"\\uzz12 \\u12g4", "\\uzz12 \\u12g4"},       // not hexadecimal: kept as written
      {"end\\u", "end\\u"},
      {"a\\u0000b", "ab"},                          // a NUL would cut file names
      {"\\u005cu0041", "\\u0041"},                  // decoded text is not decoded again
  };
  for (const auto& c : cases) EXPECT_EQ(UnescapeJson(c.In), c.Out) << c.In;
}

TEST(TextRoutines, FormatSize) {
  constexpr int64_t GB = 1024LL * 1024 * 1024;
  struct TCase {
    int64_t Bytes;
    std::string Text;
  } cases[] = {
      {0, "0"},           {500, "500"},          {1023, "1023"},         {1024, "1.00KB"},
      {1536, "1.50KB"},   {10240, "10.0KB"},     {102400, "100KB"},      {1048575, "1024KB"},
      {1048576, "1.00MB"}, {10485760, "10.0MB"}, {104857600, "100MB"},   {GB, "1.00GB"},
      {10 * GB, "10.0GB"}, {100 * GB, "100GB"},  {5000 * GB, "5000GB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSize(c.Bytes), c.Text) << c.Bytes;
}

TEST(TextRoutines, FormatSpeed) {
  struct TCase {
    double Speed;
    std::string Text;
  } cases[] = {
      {0, "0.00 B/S"},           {512, "512.00 B/S"},       {1000, "1,000.00 B/S"},
      {1536, "1.50 KB/S"},       {1048576, "1.00 MB/S"},   {1023.999 * 1024, "1,024.00 KB/S"},
      {5000.0 * 1048576, "5,000.00 MB/S"}, {2e12, "1,907,348.63 MB/S"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSpeed(c.Speed), c.Text) << c.Speed;
}

TEST(TextRoutines, PadNumber) {
  EXPECT_EQ(PadNumber(9, 0), "1");
  EXPECT_EQ(PadNumber(10, 0), "01");
  EXPECT_EQ(PadNumber(120, 6), "007");
  EXPECT_EQ(PadNumber(120, 119), "120");
  EXPECT_EQ(PadNumber(0, 0), "1");
}
