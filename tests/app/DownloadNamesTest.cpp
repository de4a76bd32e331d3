#include <gtest/gtest.h>

#include "app/DownloadNames.h"
#include "app/TextRoutines.h"
#include "tests/support/TestSupport.h"

TEST(DownloadNames, AddressExtensionNeverReachesIntoFoldersOrTheHost) {
  struct TCase {
    std::string Address, Extension;
  } cases[] = {
      {"https://cdn.zentavo.com/seg/101-1.flv?expires=1&x=a.b", ".flv"},
      {"https://cdn.zentavo.com/seg/101-1.mp4", ".mp4"},
      {"https://cdn.zentavo.com/video?x=1", ""},  // the host's dot is not an extension
      {"https://h/a.b/c", ""},
      {"https://h/a.b\\c", ""},
      {"https://127.0.0.1:8080/x", ""},
      {"https://h/x", ""},
      {"https://h/x.f*l\x01v", ".flv"},  // nothing a file name may not hold
  };
  for (const auto& c : cases) EXPECT_EQ(AddressExtension(c.Address), c.Extension) << c.Address;
}

TEST(DownloadNames, SegmentNamesCountTheSegments) {
  TPartNames one = NameSegments("003 Opening", {"https://h/a.flv?x=1"});
  EXPECT_EQ(one.Base, "003 Opening");
  ASSERT_EQ(one.Segments.size(), 1u);
  EXPECT_EQ(one.Segments[0].Name, "003 Opening");
  EXPECT_EQ(one.Segments[0].Extension, ".flv");

  TPartNames three = NameSegments("05", {"https://h/a.flv", "https://h/b.mp4", "https://h/c"});
  ASSERT_EQ(three.Segments.size(), 3u);
  EXPECT_EQ(three.Segments[0].Name, "05 3-1");
  EXPECT_EQ(three.Segments[1].Name, "05 3-2");
  EXPECT_EQ(three.Segments[2].Name, "05 3-3");
  EXPECT_EQ(three.Segments[1].Extension, ".mp4");
  EXPECT_EQ(three.Segments[2].Extension, "");
}

TEST(DownloadNames, LongBasesAreCutAtACharacterSoTheLongestNameFits) {
  std::string title;
  for (int i = 0; i < 300; ++i) title += "长";  // 900 bytes
  std::vector<std::string> addresses(12, "https://h/s.flv");
  addresses[4] = "https://h/s.flvextra";
  TPartNames part = NameSegments("001 " + title, addresses);
  ASSERT_EQ(part.Segments.size(), 12u);
  EXPECT_EQ(part.Base.substr(0, 4), "001 ");
  EXPECT_EQ((part.Base.size() - 4) % 3, 0u) << "cut inside a character";
  for (const auto& segment : part.Segments) {
    EXPECT_EQ(segment.Name.substr(0, part.Base.size()), part.Base);
    // The longest name a segment can get: renamed for a repeated download, while downloading.
    EXPECT_LE((segment.Name + "（9999）" + segment.Extension + kWorkingExtension).size(), kMaxFileNameBytes);
  }
  // Cut no further than the longest name needs.
  EXPECT_GT((part.Segments[4].Name + "（9999）" + part.Segments[4].Extension + kWorkingExtension).size(),
            kMaxFileNameBytes - 3);
  EXPECT_EQ(NameSegments("short", addresses).Base, "short");
}

TEST(DownloadNames, FilePathParts) {
  EXPECT_EQ(FileExtension("/s/a.b/007 Opening.flv.vtq"), ".vtq");
  EXPECT_EQ(FileExtension("/s/a.b/007 Opening"), "");
  EXPECT_EQ(WithoutExtension("/s/a.b/007 Opening.flv.vtq"), "/s/a.b/007 Opening.flv");
  EXPECT_EQ(WithoutExtension("/s/a.b/c"), "/s/a.b/c");
  EXPECT_EQ(FileNameOf("/s/a.b/c.flv"), "c.flv");
  EXPECT_EQ(FolderOf("/s/a.b/c.flv"), "/s/a.b/");
}

TEST(DownloadNames, ARepeatedDownloadGetsTheFirstFreeNumber) {
  zvtest::TempDir dir;
  std::string working = dir.File("007 Opening.flv.vtq");
  zvtest::WriteFile(dir.File("007 Opening.flv"), "done");
  TFreeName free = FindFreeName(working);
  EXPECT_EQ(free.WorkingFile, dir.File("007 Opening（1）.flv.vtq"));
  EXPECT_EQ(free.Stem, dir.File("007 Opening（1）"));
  // Taken numbers are skipped, whether finished or still downloading.
  zvtest::WriteFile(dir.File("007 Opening（1）.flv.vtq"), "");
  zvtest::WriteFile(dir.File("007 Opening（2）.flv"), "");
  EXPECT_EQ(FindFreeName(working).WorkingFile, dir.File("007 Opening（3）.flv.vtq"));
}

TEST(TextRoutines, ProgressText) {
  EXPECT_EQ(ProgressText(4567, 10000), "45.67%");
  EXPECT_EQ(ProgressText(0, 7), "0.00%");
  EXPECT_EQ(ProgressText(7, 7), "100.00%");
}
