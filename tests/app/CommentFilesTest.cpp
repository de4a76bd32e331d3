// Comment replies as the site may send them, turned into XML text or refused, and the file they
// are stored in replaced in one step.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/AppFiles.h"
#include "app/CommentFiles.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZLibReference.h"

namespace {

const std::string kXml = zlibref::XmlText(100000);  // inflates in many steps
const std::string kZlibHeader = "\x78\x9C";

std::string Raw(const std::string& aData) { return zlibref::Compress(aData, 9, -15); }
std::string Zlib(const std::string& aData) { return zlibref::Compress(aData, 9, 15); }

}  // namespace

TEST(CommentFileName, CleanedNumberedAndFitForAFolderEntry) {
  EXPECT_EQ(CommentFileName("第1话: a/b?", ""), "第1话 ab.xml");
  EXPECT_EQ(CommentFileName("第1话: a/b?", "03"), "03 第1话 ab.xml");
  EXPECT_EQ(CommentFileName("07", "07"), "07 07.xml");

  std::string title;
  for (int i = 0; i < 100; ++i) title += "弹幕";  // 600 bytes
  const std::string name = CommentFileName(title, "120");
  EXPECT_LE(name.size() + std::string(kTemporarySuffix).size(), 255u);
  EXPECT_GT(name.size(), 240u);
  ASSERT_EQ(name.substr(0, 4), "120 ");
  ASSERT_EQ(name.substr(name.size() - 4), ".xml");
  const std::string stem = name.substr(4, name.size() - 8);
  EXPECT_EQ(stem, title.substr(0, stem.size()));
  EXPECT_EQ(stem.size() % 3, 0u) << "cut between characters";
  zvtest::TempDir dir;
  EXPECT_TRUE(ReplaceFile(dir.File(name), "<i></i>"));
  EXPECT_EQ(zvtest::ReadFile(dir.File(name)), "<i></i>");
}

TEST(InflateComment, ZlibFormWithOrWithoutItsTrailer) {
  struct {
    const char* Name;
    std::string Input;
    bool Inflates;
    std::string Output;
  } cases[] = {
      {"raw deflate behind the header, no trailer", kZlibHeader + Raw(kXml), true, kXml},
      {"whole zlib stream", Zlib(kXml), true, kXml},
      {"wrong trailer", Zlib(kXml).substr(0, Zlib(kXml).size() - 1) + "\x01", false, ""},
      {"header of another method", "\x79\x9C" + Raw(kXml), false, ""},
      {"no deflate data", kZlibHeader + "\xFF\xFF\xFF\xFF", false, ""},
      {"empty", "", true, ""},
  };
  for (const auto& c : cases) {
    std::string output = "old";
    EXPECT_EQ(InflateComment(c.Input, output), c.Inflates) << c.Name;
    if (c.Inflates) {
      EXPECT_TRUE(zvtest::SameBytes(output, c.Output)) << c.Name;
    }
  }
  // Cut in the middle: the end of the input ends it, with what came so far.
  std::string output;
  EXPECT_TRUE(InflateComment((kZlibHeader + Raw(kXml)).substr(0, 2000), output));
  EXPECT_GT(output.size(), 1000u);
  EXPECT_EQ(output, kXml.substr(0, output.size()));
}

TEST(InflateComment, RefusesOutputBeyondTheLimit) {
  std::string output;
  EXPECT_FALSE(InflateComment(Zlib(std::string(kMaxCommentBytes + 1, '<')), output));
  EXPECT_TRUE(InflateComment(Zlib(std::string(kMaxCommentBytes, '<')), output));
  EXPECT_EQ(output.size(), kMaxCommentBytes);
}

TEST(DecodeCommentReply, EveryFormTheListComesInAndWhatIsNoList) {
  const std::string bom = "\xEF\xBB\xBF";
  struct {
    const char* Name;
    std::string Reply;
    bool Decodes;
    std::string Xml;
  } cases[] = {
      {"raw deflate", Raw(kXml), true, kXml},
      {"zlib-wrapped", Zlib(kXml), true, kXml},
      {"a few hundred bytes of deflate", Raw("<i><d p=\"1\">弹幕</d></i>"), true, "<i><d p=\"1\">弹幕</d></i>"},
      {"plain XML text", kXml, true, kXml},
      {"plain XML with a byte order mark", bom + "\n<i></i>", true, bom + "\n<i></i>"},
      {"garbage", "this is no comment list, just words", false, ""},
      {"an error page", "<!DOCTYPE html><html><body>busy</body></html>", false, ""},
      {"an error page, deflated", Raw("<html><body>busy</body></html>"), false, ""},
      {"random bytes", zlibref::RandomBytes(3000), false, ""},
      {"deflate of something that is no XML", Raw("{\"code\":-404}"), false, ""},
      {"deflate of nothing", Raw(""), false, ""},
      {"empty", "", false, ""},
  };
  for (const auto& c : cases) {
    std::string xml;
    EXPECT_EQ(DecodeCommentReply(c.Reply, xml), c.Decodes) << c.Name;
    if (c.Decodes) {
      EXPECT_TRUE(zvtest::SameBytes(xml, c.Xml)) << c.Name;
    }
  }
}

TEST(ReplaceFile, ReplacesInOneStepAndLeavesNothingBehindOnFailure) {
  zvtest::TempDir dir;
  const std::string path = dir.File("01 第1话.xml");
  EXPECT_TRUE(ReplaceFile(path, "first"));
  EXPECT_TRUE(ReplaceFile(path, "second"));
  EXPECT_EQ(zvtest::ReadFile(path), "second");
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);

  // A folder of that name cannot be replaced by a file: nothing changes, no temporary stays.
  std::filesystem::create_directory(dir.File("taken.xml"));
  EXPECT_FALSE(ReplaceFile(dir.File("taken.xml"), "data"));
  EXPECT_FALSE(ReplaceFile(dir.File("missing folder/x.xml"), "data"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}
