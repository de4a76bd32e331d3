#include <gtest/gtest.h>

#include "app/HeadlessPlatform.h"
#include "app/MainForm.h"

namespace {

const std::string kNoVideoInfo = "未能获取视频信息！";
const std::string kNothingFound = "取不到任何信息，可能网站已经改版，您可以稍候再试试！";

struct TPart {
  std::string Cid, Name;
};

std::string VideoPage(const std::string& aTitle, const std::vector<TPart>& aParts) {
  std::string page = "{\"code\":0,\"data\":{\"bvid\":\"x\",\"title\":\"" + aTitle + "\",\"pages\":[";
  for (size_t i = 0; i < aParts.size(); ++i)
    page += (i ? "," : "") + std::string("{\"cid\":") + aParts[i].Cid + ",\"page\":" + std::to_string(i + 1) +
            ",\"part\":\"" + aParts[i].Name + "\",\"duration\":60}";
  return page + "],\"owner\":{\"mid\":1}}}";
}

struct TEpisode {
  std::string Cid, TitleFormat, LongTitle, SectionType;
};

std::string EpisodePage(const std::string& aTitle, const std::vector<TEpisode>& aEpisodes) {
  std::string page = "{\"mediaInfo\":{\"title\":\"" + aTitle + "\"},\"epList\":[";
  for (size_t i = 0; i < aEpisodes.size(); ++i) {
    const auto& e = aEpisodes[i];
    page += (i ? "," : "") + std::string("{\"aid\":9,\"cid\":") + e.Cid + ",\"titleFormat\":\"" + e.TitleFormat +
            "\",\"longTitle\":\"" + e.LongTitle + "\",\"sectionType\":" + e.SectionType + "}";
  }
  return page + "],\"sections\":[]}";
}

using TRows = std::vector<std::string>;

class Listing : public ::testing::Test {
protected:
  // Rows as "caption|name|cid".
  TRows Rows() const {
    TRows rows;
    for (int i = 0; i < Form.lv2.Count(); ++i)
      rows.push_back(Form.lv2.ItemCaption(i) + "|" + Form.lv2.SubItem(i, 0) + "|" + Form.lv2.SubItem(i, 1));
    return rows;
  }
  // The rows of aPage; the listing waits for their play addresses (not asked for here) exactly
  // when it found rows.
  void List(const std::string& aPage) {
    Form.btn1.SetEnabled(false);
    Form.lv2.SetEnabled(false);
    bool listed = Form.ListPage(aPage);
    EXPECT_EQ(listed, Form.lv2.Count() > 0);
    EXPECT_EQ(Form.btn1.Enabled(), !listed);
    EXPECT_EQ(Form.lv2.Enabled(), !listed);
  }

  THeadlessPlatform Platform;
  TForm1 Form{Platform};
};

}  // namespace

TEST_F(Listing, OnePartVideoIsNamedAfterThePageTitle) {
  List(VideoPage("Opening", {{"101", "own name"}}));
  EXPECT_EQ(Rows(), TRows{"1|Opening|101"});
  EXPECT_EQ(Form.PageKind, 1);
  EXPECT_EQ(Form.lv2.Row(0).SubItems, (std::vector<std::string>{"Opening", "101", "", "", ""}));

  Form.lv2.Clear();
  Form.chk4.SetChecked(true);
  List(VideoPage("Opening", {{"101", "own name"}}));
  EXPECT_EQ(Rows(), TRows{"1|1|101"});
  EXPECT_TRUE(Platform.Messages.empty());
}

TEST_F(Listing, ManyPartsAreNumberedToACommonWidth) {
  std::vector<TPart> parts;
  for (int i = 1; i <= 120; ++i) parts.push_back({std::to_string(1000 + i), "P" + std::to_string(i)});
  List(VideoPage("Series", parts));
  ASSERT_EQ(Form.lv2.Count(), 120);
  EXPECT_EQ(Rows()[0], "001|P1|1001");
  EXPECT_EQ(Rows()[6], "007|P7|1007");
  EXPECT_EQ(Rows()[119], "120|P120|1120");
}

TEST_F(Listing, PartNamesFallBackAndUnescape) {
  List(VideoPage("\\u7b2c1\\u8bdd a\\/b", {{"1", ""}, {"2", "\\u4e0a\\/\\u4e0b"}, {"3", "x\\/y"}}));
  // An empty part takes the title; a name is unescaped only when it holds \u.
  EXPECT_EQ(Rows(), (TRows{"1|第1话 a/b|1", "2|上/下|2", "3|x\\/y|3"}));

  Form.lv2.Clear();
  List("{\"pages\":[{\"cid\":55,\"part\":\"\"},{\"cid\":56,\"part\":\"n\"}]}");  // no title at all
  EXPECT_EQ(Rows(), (TRows{"1|55|55", "2|n|56"}));
}

TEST_F(Listing, EscapedQuotesStayInsideTheirValues) {
  List(VideoPage("Say \\\"Hi\\\"", {{"1", "\\\"A\\\" side"}, {"2", "ends in \\\\"}, {"3", ""}}));
  // Escapes other than \u stay as written; an escaped backslash does not escape the quote after it.
  EXPECT_EQ(Rows(), (TRows{"1|\\\"A\\\" side|1", "2|ends in \\\\|2", "3|Say \\\"Hi\\\"|3"}));

  Form.lv2.Clear();
  List(EpisodePage("", {{"9", "\\\"PV\\\"", "  \\\"Long\\\" \\u0021", "0"}}));
  EXPECT_EQ(Rows(), TRows{"1|\\\"Long\\\" ! \\\"PV\\\"|9"});
}

TEST_F(Listing, EpisodesTakeTitleFormatAndSkipOtherSections) {
  std::vector<TEpisode> episodes = {
      {"201", "第1话", "", "0"},          // no long title: the page title
      {"202", "第2话", "  旅途\\u0021 ", "0"},
      {"203", "PV", "预告", "1"},         // not a main episode
      {"204", "", "终", "0"},
  };
  List(EpisodePage("番剧", episodes));
  EXPECT_EQ(Form.PageKind, 2);
  EXPECT_EQ(Rows(), (TRows{"1|番剧 第1话|201", "2|旅途! 第2话|202", "3|终|204"}));

  // Numbers only: every episode up to the array's end counts, whatever its section.
  Form.lv2.Clear();
  Form.chk4.SetChecked(true);
  List(EpisodePage("番剧", episodes));
  EXPECT_EQ(Rows(), (TRows{"1|1|201", "2|2|202", "3|3|203", "4|4|204"}));
}

TEST_F(Listing, APageWithBothKeysIsAnEpisodePageOnlyWhenTheEpisodesComeAfterTheParts) {
  List("{\"title\":\"T\",\"pages\":[{\"cid\":1,\"part\":\"p\"}],\"epList\":[{\"cid\":2,\"titleFormat\":\"f\","
       "\"longTitle\":\"e\",\"sectionType\":0}]}");
  EXPECT_EQ(Form.PageKind, 2);
  EXPECT_EQ(Rows(), TRows{"1|T|2"});

  Form.lv2.Clear();
  List("{\"title\":\"T\",\"epList\":[{\"cid\":2,\"longTitle\":\"e\"}],\"pages\":[{\"cid\":1,\"part\":\"p\"},"
       "{\"cid\":3,\"part\":\"q\"}]}");
  EXPECT_EQ(Form.PageKind, 1);
  EXPECT_EQ(Rows(), (TRows{"1|p|1", "2|q|3"}));
}

TEST_F(Listing, PagesWithoutUsableRowsTellTheUser) {
  struct TCase {
    std::string Page, Message;
    int Kind;
  } cases[] = {
      {"<html>nothing here</html>", kNoVideoInfo, 0},
      {"{\"title\":\"T\",\"pages\":[{\"cid\":1,\"part\":\"never closed\"", kNothingFound, 1},
      {"{\"pages\":[{\"page\":1}]}", kNothingFound, 1},
      {"{\"epList\":[{\"id\":1}]}", kNothingFound, 2},
  };
  for (const auto& c : cases) {
    Platform.Messages.clear();
    List(c.Page);
    EXPECT_EQ(Platform.Messages, std::vector<std::string>{c.Message}) << c.Page;
    EXPECT_EQ(Form.PageKind, c.Kind) << c.Page;
    EXPECT_EQ(Form.lv2.Count(), 0) << c.Page;
  }
}

TEST_F(Listing, TruncatedEntriesNeitherCrashNorLoop) {
  // Keys missing at the end of the text: the cuts run past it. Without a comma the cid is empty;
  // without a section type the episode gives no row.
  List("{\"epList\":[{\"cid\":7}]");
  EXPECT_EQ(Rows(), TRows{});
  Form.lv2.Clear();
  List("{\"pages\":[{\"cid\":7}]");
  EXPECT_EQ(Rows(), TRows{"1||"});
  Form.lv2.Clear();
  List("{\"pages\":[{\"cid\":7,\"part\":\"}]");
  EXPECT_EQ(Rows(), TRows{"1|7|7"});
}
