#include <gtest/gtest.h>

#include "common/clStreams.h"
#include "common/clStringsUtils.h"
#include "common/clTranslator.h"
#include "tests/support/TestSupport.h"

TEST(Translator, RoundTripsThroughNamedCharSets) {
  const std::string text = "Привет, мир";
  std::string cp1251 = TclTranslator::GetBytes(text, "windows-1251");
  EXPECT_EQ(cp1251.size(), 11u);
  EXPECT_EQ(TclTranslator::GetString(cp1251, "windows-1251"), text);

  const std::string chinese = "视频下载";
  std::string gbk = TclTranslator::GetBytes(chinese, "GBK");
  EXPECT_EQ(gbk, "\xCA\xD3\xC6\xB5\xCF\xC2\xD4\xD8");
  EXPECT_EQ(TclTranslator::GetString(gbk, "gbk"), chinese);
  EXPECT_EQ(TclTranslator::GetBytes(chinese, "utf-8"), chinese);
}

TEST(Translator, ReplacesWhatACharSetCannotHold) {
  EXPECT_EQ(TclTranslator::GetBytes("a视b", "us-ascii"), "a?b");
  EXPECT_EQ(TclTranslator::GetString("a\xFF" "b", "utf-8"), "a\xEF\xBF\xBD" "b");
}

TEST(Translator, EachByteThatStartsNoCharacterBecomesOneReplacement) {
  const std::string r = "\xEF\xBF\xBD";
  struct TCase {
    std::string Bytes, Text;
  } cases[] = {
      {"a\xE9\"b}]", "a" + r + "\"b}]"},  // a Latin-1 byte before ASCII: the ASCII survives
      {"\xE9\x80", r + r},                 // a sequence cut off by the end
      {"\xE4\xBD\xA0\xE4\xBD", "\xE4\xBD\xA0" + r + r},
      {"\xC0\xAF!", r + r + "!"},           // overlong form of "/"
      {"\xED\xA0\x80", r + r + r},         // a surrogate half
      {"\xF4\x90\x80\x80", r + r + r + r}, // past U+10FFFF
      {"\xF0\x9F\x98\x80\x80", "\xF0\x9F\x98\x80" + r},
  };
  for (const auto& c : cases) EXPECT_EQ(TclTranslator::GetString(c.Bytes, "utf-8"), c.Text) << c.Bytes;
  // Going out, a byte that is no character is one "?" and the character after it is kept.
  EXPECT_EQ(TclTranslator::GetBytes("a\xE9\"\xD0\x96", "windows-1251"), "a?\"\xC6");
}

TEST(Translator, EmptyAndUnknownNamesUseTheDefault) {
  EXPECT_FALSE(TclTranslator::IsKnownCharSet("no-such-set"));
  EXPECT_EQ(TclTranslator::GetBytes("abc", ""), "abc");
  EXPECT_EQ(TclTranslator::GetBytes("abc", "no-such-set"), "abc");
}

TEST(StringsUtils, LoadsLinesInACharSetAndSavesWithCrLf) {
  TMemoryStream source(TclTranslator::GetBytes("один\r\nдва\nтри\rчетыре\n", "windows-1251"));
  TStrings lines;
  TclStringsUtils::LoadStrings(source, lines, "windows-1251");
  EXPECT_EQ(lines, (TStrings{"один", "два", "три", "четыре"}));

  TMemoryStream out;
  TclStringsUtils::SaveStrings({"a", "б"}, out, "utf-8");
  EXPECT_EQ(out.Data(), "a\r\nб\r\n");
}

TEST(FileStream, SeeksReadsAndWritesAtItsOwnPosition) {
  zvtest::TempDir dir;
  const std::string name = dir.File("data");
  {
    TFileStream file(name, fmCreate);
    file.WriteBuffer("0123456789", 10);
    EXPECT_EQ(file.Position(), 10);
    EXPECT_EQ(file.Seek(-4, soEnd), 6);
    file.WriteBuffer("ab", 2);
    EXPECT_EQ(file.Seek(-1, soCurrent), 7);
    EXPECT_EQ(file.Seek(-8, soCurrent), -1) << "a position before the start is refused";
    EXPECT_EQ(file.Position(), 7);
    file.SetPosition(12);
    file.WriteBuffer("Z", 1);  // past the end: the gap reads as zeros
    file.Reserve(20);
    EXPECT_EQ(file.Size(), 20);
  }
  TFileStream file(name, fmOpenRead);
  std::string content(20, '?');
  EXPECT_EQ(file.Read(content.data(), 25), 20);
  EXPECT_EQ(content, std::string("012345ab89\0\0Z", 13) + std::string(7, '\0'));
  EXPECT_EQ(file.Read(content.data(), 1), 0);
}

TEST(FileStream, AFailedWriteSaysWhichFileAndWhy) {
  // /dev/full answers every write as a disk without room does.
  TFileStream file("/dev/full", fmOpenReadWrite);
  try {
    file.WriteBuffer("x", 1);
    FAIL() << "the write succeeded";
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Cannot write file \"/dev/full\". No space left on device");
  }
}
