// The command line of zentavo-dl: what each option sets, and the lines that cannot be used.
#include <gtest/gtest.h>

#include "app/HeadlessPlatform.h"
#include "app/MainForm.h"
#include "cli/CliOptions.h"

namespace {

bool SameRanges(const std::vector<TPartRange>& aActual, const std::vector<std::pair<int, int>>& aExpected) {
  if (aActual.size() != aExpected.size()) return false;
  for (size_t i = 0; i < aActual.size(); ++i)
    if (aActual[i].First != aExpected[i].first || aActual[i].Last != aExpected[i].second) return false;
  return true;
}

}  // namespace

TEST(CliOptions, DefaultsAreTheWindowsDefaults) {
  auto parsed = ParseCommandLine({"https://www.zentavo.com/video/BV1"});
  ASSERT_EQ(parsed.Error, "");
  const TCliOptions& o = parsed.Options;
  EXPECT_EQ(o.PageAddress, "https://www.zentavo.com/video/BV1");
  EXPECT_EQ(o.QualityIndex, 0);
  EXPECT_EQ(o.SaveFolder, "");
  EXPECT_TRUE(o.Parts.empty());
  EXPECT_TRUE(o.AddNumbers);
  EXPECT_FALSE(o.NumbersOnly);
  EXPECT_EQ(o.Comments, TCommentChoice::ccNone);
  EXPECT_EQ(o.Jobs, 3);
  EXPECT_EQ(o.Connections, 5);
  EXPECT_TRUE(o.Merge);
  EXPECT_FALSE(o.ListOnly);

  // The same choices as the window's lists, and the same defaults.
  THeadlessPlatform platform;
  TForm1 form(platform);
  EXPECT_EQ(form.cbb4.Items(), (std::vector<std::string>{"1080p", "720p", "480p", "360p"}));
  EXPECT_EQ(form.cbb4.ItemIndex(), o.QualityIndex);
  std::vector<std::string> jobs;
  for (int value : JobChoices()) jobs.push_back(std::to_string(value));
  EXPECT_EQ(form.cbb1.Items(), jobs);
  EXPECT_EQ(form.cbb1.Text(), std::to_string(o.Jobs));
  EXPECT_EQ(form.cbb2.ItemIndex() + 1, o.Connections);
  EXPECT_EQ(form.cbb2.Items().size(), 10u);
  EXPECT_EQ(form.chk1.Checked(), o.AddNumbers);
  EXPECT_EQ(form.chk4.Checked(), o.NumbersOnly);
  EXPECT_EQ(form.chk3.Checked(), o.Merge);
}

TEST(CliOptions, EachOptionSetsItsSetting) {
  struct TCase {
    std::vector<std::string> Args;
    std::function<bool(const TCliOptions&)> Check;
  } cases[] = {
      {{"--quality", "720p", "u"}, [](const TCliOptions& o) { return o.QualityIndex == 1; }},
      {{"--quality=360P", "u"}, [](const TCliOptions& o) { return o.QualityIndex == 3; }},
      {{"--folder", "dir with space", "u"}, [](const TCliOptions& o) { return o.SaveFolder == "dir with space"; }},
      {{"--folder=-odd", "u"}, [](const TCliOptions& o) { return o.SaveFolder == "-odd"; }},
      {{"--parts", "1,3-5", "u"}, [](const TCliOptions& o) { return SameRanges(o.Parts, {{1, 1}, {3, 5}}); }},
      {{"--no-numbers", "u"}, [](const TCliOptions& o) { return !o.AddNumbers && !o.NumbersOnly; }},
      {{"--numbers-only", "u"}, [](const TCliOptions& o) { return o.AddNumbers && o.NumbersOnly; }},
      {{"--comments", "u"}, [](const TCliOptions& o) { return o.Comments == TCommentChoice::ccAlso; }},
      {{"--comments-only", "u"}, [](const TCliOptions& o) { return o.Comments == TCommentChoice::ccOnly; }},
      {{"--jobs", "20", "u"}, [](const TCliOptions& o) { return o.Jobs == 20; }},
      {{"--jobs=1", "u"}, [](const TCliOptions& o) { return o.Jobs == 1; }},
      {{"--connections", "10", "u"}, [](const TCliOptions& o) { return o.Connections == 10; }},
      {{"--no-merge", "u"}, [](const TCliOptions& o) { return !o.Merge; }},
      {{"u", "--list"}, [](const TCliOptions& o) { return o.ListOnly && o.PageAddress == "u"; }},
      // After "--" everything is the address, even what looks like an option.
      {{"--", "--list"}, [](const TCliOptions& o) { return !o.ListOnly && o.PageAddress == "--list"; }},
      {{"-"}, [](const TCliOptions& o) { return o.PageAddress == "-"; }},
      // Help and version need no address.
      {{"--help"}, [](const TCliOptions& o) { return o.ShowHelp; }},
      {{"-h", "a", "b"}, [](const TCliOptions& o) { return o.ShowHelp; }},
      {{"--version"}, [](const TCliOptions& o) { return o.ShowVersion; }},
  };
  for (const auto& c : cases) {
    auto parsed = ParseCommandLine(c.Args);
    EXPECT_EQ(parsed.Error, "") << testing::PrintToString(c.Args);
    EXPECT_TRUE(c.Check(parsed.Options)) << testing::PrintToString(c.Args);
  }
}

TEST(CliOptions, UnusableLinesSayWhy) {
  struct TCase {
    std::vector<std::string> Args;
    std::string Error;
  } cases[] = {
      {{}, "缺少视频地址"},
      {{"--list"}, "缺少视频地址"},
      {{"a", "b"}, "只能给一个视频地址，多出：b"},
      {{"--quality", "1440p", "u"}, "清晰度只能是 1080p、720p、480p 或 360p：1440p"},
      {{"--quality"}, "选项 --quality 缺少参数"},
      {{"--folder=", "u"}, "保存位置不能为空"},
      {{"--jobs", "11", "u"}, "同时下载的任务数只能是 1 到 10、15 或 20：11"},
      {{"--jobs", "+3", "u"}, "同时下载的任务数只能是 1 到 10、15 或 20：+3"},
      {{"--jobs", "99999999999999999999", "u"}, "同时下载的任务数只能是 1 到 10、15 或 20：99999999999999999999"},
      {{"--connections", "0", "u"}, "每个任务的线程数只能是 1 到 10：0"},
      {{"--connections", "3x", "u"}, "每个任务的线程数只能是 1 到 10：3x"},
      {{"--parts", "", "u"}, "视频序号列表不正确：（例如 1,3-5）"},
      {{"--no-merge=1", "u"}, "选项 --no-merge 不带参数"},
      {{"--comments-only", "--comments", "u"}, "--comments 和 --comments-only 只能用一个"},
      {{"--comments", "--comments", "u"}, "--comments 和 --comments-only 只能用一个"},
      {{"-x", "u"}, "未知选项：-x"},
      {{"--quality-720p", "u"}, "未知选项：--quality-720p"},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseCommandLine(c.Args).Error, c.Error) << testing::PrintToString(c.Args);
}

TEST(CliOptions, PartLists) {
  struct TCase {
    std::string Text;
    bool Valid;
    std::vector<std::pair<int, int>> Ranges;
  } cases[] = {
      {"1", true, {{1, 1}}},
      {"1,3-5", true, {{1, 1}, {3, 5}}},
      {" 2 , 4 - 6 ", true, {{2, 2}, {4, 6}}},
      {"7-7", true, {{7, 7}}},
      {"5,1", true, {{5, 5}, {1, 1}}},
      {"0", false, {}},
      {"3-1", false, {}},
      {"1,", false, {}},
      {",1", false, {}},
      {"1,,2", false, {}},
      {"-3", false, {}},
      {"1-", false, {}},
      {"1-2-3", false, {}},
      {"a", false, {}},
      {"2147483648", false, {}},
  };
  for (const auto& c : cases) {
    std::vector<TPartRange> ranges;
    std::string error;
    EXPECT_EQ(ParsePartList(c.Text, ranges, error), c.Valid) << c.Text;
    if (c.Valid) {
      EXPECT_TRUE(SameRanges(ranges, c.Ranges)) << c.Text;
    } else {
      EXPECT_EQ(error, "视频序号列表不正确：" + c.Text + "（例如 1,3-5）");
    }
  }

  std::vector<TPartRange> chosen{{1, 1}, {3, 5}};
  std::string chosenNumbers;
  for (int number = 1; number <= 6; ++number)
    if (PartChosen(chosen, number)) chosenNumbers += std::to_string(number);
  EXPECT_EQ(chosenNumbers, "1345");
  EXPECT_TRUE(PartChosen({}, 42));
}
