// Comment downloads against the local site: files named after the listing, stored as XML whatever
// form the reply takes, refusals that stop the run once, restarts, and replies that cannot be
// stored.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/HeadlessPlatform.h"
#include "app/MainForm.h"
#include "tests/support/AppWaits.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZLibReference.h"
#include "tests/support/ZentavoSite.h"

namespace {

using namespace zvtest;

const std::string kCommentPath = "/x/v1/dm/list.so";

// The list the site sends for a part.
std::string SiteXml(const std::string& aCid) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i><chatserver>chat.zentavo.com</chatserver><chatid>" + aCid +
         "</chatid><d p=\"1.5,1,25,16777215,0,0,0,0\">弹幕 " + aCid + "</d></i>";
}

// Bytes as the site's configuration carries them: one character per byte.
std::string Latin1(const std::string& aBytes) {
  std::string text;
  for (unsigned char c : aBytes) {
    if (c < 0x80) {
      text += char(c);
    } else {
      text += char(0xC0 | (c >> 6));
      text += char(0x80 | (c & 0x3F));
    }
  }
  return text;
}

class CommentDownloads : public ::testing::Test {
protected:
  CommentDownloads() { Form.SetSaveFolder(SaveDir.Path() + "/"); }

  // Listing rows as the play-address step leaves them: caption, name, cid.
  void List(const std::vector<std::array<std::string, 3>>& aRows) {
    Form.lv2.Clear();
    for (const auto& row : aRows) Form.lv2.Add(row[0], {row[1], row[2], "", "", ""});
  }
  // Twelve numbered parts, cids 101..112.
  void ListTwelve() {
    std::vector<std::array<std::string, 3>> rows;
    for (int i = 1; i <= 12; ++i)
      rows.push_back({(i < 10 ? "0" : "") + std::to_string(i), "第" + std::to_string(i) + "话", std::to_string(100 + i)});
    List(rows);
  }
  bool Idle(int aTimeoutMs = 30000) {
    return ServeUntil(Platform, [&] { return !Form.clMdloader3.IsBusy() && !Form.tmr3.Enabled(); }, aTimeoutMs);
  }
  std::vector<std::string> Statuses() {
    std::vector<std::string> statuses;
    for (int row = 0; row < Form.lv4.Count(); ++row) statuses.push_back(Form.lv4.SubItem(row, 1));
    return statuses;
  }
  int Count(const std::string& aStatus) {
    auto statuses = Statuses();
    return int(std::count(statuses.begin(), statuses.end(), aStatus));
  }
  int RequestsFor(const std::string& aCid) {
    int count = 0;
    for (const auto& request : Site.Requests())
      if (request["path"] == kCommentPath && request["query"].value("oid", "") == aCid) ++count;
    return count;
  }
  std::vector<std::string> FolderFiles() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(SaveDir.Path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  ZentavoSite Site;
  TempDir SaveDir;
  THeadlessPlatform Platform;
  TForm1 Form{Platform, Site.Settings()};
};

TEST_F(CommentDownloads, StoresEveryPartsListAsXmlNamedAfterTheListing) {
  ListTwelve();
  Form.lv2.SetItemCaption(2, "×");  // its play address failed: the comments come all the same
  Form.XML1.Click();
  ASSERT_EQ(Form.lv4.Count(), 12);
  EXPECT_EQ(Form.lv4.ItemCaption(11), "12");
  EXPECT_EQ(Form.lv4.SubItem(2, 0), "03 第3话.xml");
  EXPECT_EQ(Form.lv4.SubItem(11, 0), "12 第12话.xml");
  ASSERT_TRUE(Idle());

  EXPECT_EQ(Form.lv4.Count(), 0);
  ASSERT_EQ(Form.lv5.Count(), 12);
  std::vector<std::string> expected;
  for (int row = 0; row < 12; ++row) {
    const std::string cid = std::to_string(101 + row);
    const std::string name = (row < 9 ? "0" : "") + std::to_string(row + 1) + " 第" + std::to_string(row + 1) + "话.xml";
    expected.push_back(name);
    EXPECT_TRUE(SameBytes(ReadFile(SaveDir.File(name)), SiteXml(cid))) << name;
  }
  // Finished in any order; each row tells its file.
  for (int row = 0; row < 12; ++row)
    EXPECT_EQ(Form.lv5.SubItem(row, 0), SaveDir.Path() + "/" + Form.lv5.ItemCaption(row));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FolderFiles(), expected) << "nothing else is left in the folder";

  for (const auto& request : Site.Requests()) {
    if (request["path"] != kCommentPath) continue;
    EXPECT_EQ(request["headers"].value("Referer", ""), Form.Site().MainAddress);
    EXPECT_EQ(request["headers"].value("Accept", ""), "*/*");
    EXPECT_NE(request["headers"].value("User-Agent", "").find("Windows NT 6.1"), std::string::npos);
  }
}

TEST_F(CommentDownloads, NamesFollowTheNumberingBoxes) {
  struct {
    bool Numbered;
    std::string Caption, Name, File;
  } cases[] = {
      {true, "07", "07", "07 07.xml"},  // the name already is the number
      {false, "07", "第7话: 开始/结束", "第7话 开始结束.xml"},
      {true, "×", "Opening", "2 Opening.xml"},  // numbered as it is listed
  };
  for (const auto& c : cases) {
    Form.chk1.SetChecked(c.Numbered);
    List({{"01", "x", "1"}, {c.Caption, c.Name, "7"}});
    Form.lv2.SetSelected(1, true);
    Form.N9.Click();
    ASSERT_EQ(Form.lv4.Count(), 1);
    EXPECT_EQ(Form.lv4.SubItem(0, 0), c.File);
    EXPECT_EQ(Form.clMdloader3.DownLoadList().Item(0)->LocalFile(), SaveDir.File(c.File));
    Form.btn3.Click();
    EXPECT_EQ(Form.lv4.Count(), 0);
    EXPECT_EQ(Form.lv5.Count(), 0);
  }
}

TEST_F(CommentDownloads, SameRowsTwiceWriteTheSameFileTwice) {
  List({{"1", "Opening", "55"}});
  Form.XML1.Click();
  Form.XML1.Click();
  ASSERT_EQ(Form.lv4.Count(), 2);
  EXPECT_EQ(Form.lv4.ItemCaption(1), "2");
  ASSERT_TRUE(Idle());
  ASSERT_EQ(Form.lv5.Count(), 2);
  EXPECT_EQ(Form.lv5.SubItem(0, 0), Form.lv5.SubItem(1, 0));
  EXPECT_EQ(FolderFiles(), std::vector<std::string>{"1 Opening.xml"});
  EXPECT_EQ(ReadFile(SaveDir.File("1 Opening.xml")), SiteXml("55"));
  EXPECT_EQ(RequestsFor("55") % 2, 0) << "two runs of one kind";
}

TEST_F(CommentDownloads, RefusalsStopTheWholeRunOnceOnlyWhenAsked) {
  for (bool stopAll : {true, false}) {
    SCOPED_TRACE(stopAll ? "chk2 ticked" : "chk2 not ticked");
    Form.btn3.Click();
    ZentavoSite site;
    // The site refuses after a few answers.
    site.Configure({{"comment_limit", 4}});
    TForm1 form{Platform, site.Settings()};
    form.SetSaveFolder(SaveDir.Path() + "/");
    form.clMdloader3.SetTryCount(1);  // a refusal shows at once instead of after its tries
    form.chk2.SetChecked(stopAll);
    int stops = 0;
    form.tmr3.OnTimer = [&, stop = form.tmr3.OnTimer](TTimer* aTimer) {
      ++stops;
      stop(aTimer);
    };
    for (int i = 1; i <= 12; ++i) form.lv2.Add(std::to_string(i), {"p" + std::to_string(i), std::to_string(i), "", "", ""});
    form.XML1.Click();
    ASSERT_TRUE(ServeUntil(Platform, [&] { return !form.clMdloader3.IsBusy() && !form.tmr3.Enabled(); }));
    // Late refusals would switch the timer on again.
    ServeUntil(Platform, [] { return false; }, 700);

    int refused = 0, stopped = 0;
    for (int row = 0; row < form.lv4.Count(); ++row) {
      const std::string status = form.lv4.SubItem(row, 1);
      refused += status == "受限制";
      stopped += status == "停止";
      EXPECT_TRUE(status == "受限制" || status == "停止") << status;
    }
    EXPECT_GE(refused, 5);
    EXPECT_EQ(form.lv4.Count() + form.lv5.Count(), 12);
    EXPECT_EQ(stops, stopAll ? 1 : 0);
    EXPECT_EQ(form.XmlStoppedByLimit, stopAll);
    if (!stopAll) {
      EXPECT_EQ(stopped, 0) << "the other downloads went on";
    }
  }
}

TEST_F(CommentDownloads, RefusalsAfterTheAutomaticStopOnlyMarkTheirRows) {
  for (int i = 0; i < 5; ++i) {
    Form.lv4.Add(std::to_string(i + 1), {"f" + std::to_string(i), "正在下载"});
    Form.clMdloader3.DownLoadList().Add();
  }
  auto refuse = [&](int aRow) { Form.clMdloader3Error(&Form.clMdloader3, Form.clMdloader3.DownLoadList().Item(aRow), "", 412); };
  refuse(0);
  EXPECT_TRUE(Form.tmr3.Enabled());
  ASSERT_TRUE(ServeUntil(Platform, [&] { return !Form.tmr3.Enabled(); }));
  EXPECT_TRUE(Form.XmlStoppedByLimit);
  EXPECT_EQ(Statuses(), (std::vector<std::string>{"受限制", "停止", "停止", "停止", "停止"}));
  for (int row = 1; row < 5; ++row) {
    refuse(row);
    EXPECT_FALSE(Form.tmr3.Enabled()) << row;
  }
  EXPECT_EQ(Count("受限制"), 5);
  // Another error is no refusal.
  Form.clMdloader3Error(&Form.clMdloader3, Form.clMdloader3.DownLoadList().Item(2), "Not Found", 404);
  EXPECT_EQ(Form.lv4.SubItem(2, 1), "未知错误");
}

TEST_F(CommentDownloads, StartAllLeavesTransferringAndWaitingRowsAlone) {
  // Two at once, so that a third waits in the queue; one try, so that a refusal shows at once.
  Form.clMdloader3.SetMaxStartedItems(2);
  Form.clMdloader3.SetTryCount(1);
  Form.chk2.SetChecked(false);
  Site.Configure({{"faults",
                   {{kCommentPath + "?oid=1", {{"rate", 40}}},
                    {kCommentPath + "?oid=2", {{"status", 412}}},
                    {kCommentPath + "?oid=3", {{"rate", 40}}}}}});
  List({{"1", "slow", "1"}, {"2", "refused", "2"}, {"3", "slow too", "3"}, {"4", "waits", "4"}});
  Form.XML1.Click();
  ASSERT_TRUE(ServeUntil(Platform, [&] {
    return Statuses() == std::vector<std::string>{"正在下载", "受限制", "正在下载", "等待"};
  }));
  const int refusedRun = RequestsFor("2");

  Form.btn4.Click();
  EXPECT_EQ(Statuses(), (std::vector<std::string>{"正在下载", "等待", "正在下载", "等待"}));
  ASSERT_TRUE(Idle());
  // Each row that was left alone ran once, as the waiting row did.
  EXPECT_EQ(RequestsFor("1"), RequestsFor("4"));
  EXPECT_EQ(RequestsFor("3"), RequestsFor("4"));
  EXPECT_EQ(RequestsFor("2"), 2 * refusedRun) << "the refused row ran again";
  EXPECT_EQ(Statuses(), std::vector<std::string>{"受限制"});
  EXPECT_EQ(Form.lv5.Count(), 3);
}

TEST_F(CommentDownloads, RepliesInEveryFormAndThoseThatCannotBeStored) {
  const std::string xml = SiteXml("9");
  struct {
    const char* Name;
    std::string Reply;  // empty: the site's own raw deflate
    bool Stored;
  } cases[] = {
      {"raw deflate", "", true},
      {"zlib-wrapped", zlibref::Compress(xml, 9, 15), true},
      {"plain XML", xml, true},
      {"garbage", "<html>busy</html> is what a proxy says", false},
      {"deflate of no XML", zlibref::Compress("{\"code\":-1}", 9, -15), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Form.btn3.Click();
    std::filesystem::remove(SaveDir.File("9 part.xml"));
    Site.Configure(c.Reply.empty() ? nlohmann::json::object() : nlohmann::json{{"comment_reply", Latin1(c.Reply)}});
    List({{"9", "part", "9"}});
    Form.XML1.Click();
    ASSERT_TRUE(Idle());
    if (c.Stored) {
      EXPECT_EQ(Form.lv4.Count(), 0);
      ASSERT_EQ(Form.lv5.Count(), 1);
      EXPECT_TRUE(SameBytes(ReadFile(SaveDir.File("9 part.xml")), xml));
      continue;
    }
    EXPECT_EQ(Statuses(), std::vector<std::string>{"转存失败"});
    EXPECT_EQ(Form.lv5.Count(), 0);
    EXPECT_TRUE(FolderFiles().empty());
    // Started again once the site answers properly, it is fetched and stored.
    Site.Configure(nlohmann::json::object());
    Form.btn4.Click();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Form.lv4.Count(), 0);
    EXPECT_EQ(Form.lv5.Count(), 1);
    EXPECT_TRUE(SameBytes(ReadFile(SaveDir.File("9 part.xml")), xml));
  }
}

TEST_F(CommentDownloads, FolderThatCannotBeWrittenKeepsTheRowForARestart) {
  // A path below a plain file can hold nothing, whatever the user's rights.
  WriteFile(SaveDir.File("plain"), "");
  Form.SetSaveFolder(SaveDir.File("plain") + "/");
  List({{"1", "part", "5"}});
  Form.XML1.Click();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(Statuses(), std::vector<std::string>{"转存失败"});
  EXPECT_EQ(Form.lv5.Count(), 0);

  std::filesystem::remove(SaveDir.File("plain"));
  std::filesystem::create_directory(SaveDir.File("plain"));
  Form.btn4.Click();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(Form.lv5.Count(), 1);
  EXPECT_EQ(ReadFile(SaveDir.File("plain/1 part.xml")), SiteXml("5"));
}

TEST_F(CommentDownloads, StopAllMarksWaitingAndTransferringRowsAndStartAllResumes) {
  Site.Configure({{"faults", {{kCommentPath, {{"rate", 40}}}}}});
  ListTwelve();
  Form.XML1.Click();
  ASSERT_TRUE(ServeUntil(Platform, [&] { return Count("正在下载") == 10; }));
  Form.btn5.Click();
  EXPECT_FALSE(Form.clMdloader3.IsBusy());
  EXPECT_EQ(Count("停止"), 12);
  EXPECT_EQ(Form.lv5.Count(), 0);

  Site.Configure(nlohmann::json::object());
  Form.btn4.Click();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(Form.lv5.Count(), 12);
  Form.N11.Click();
  EXPECT_EQ(Form.lv5.Count(), 0);
  EXPECT_EQ(FolderFiles().size(), 12u) << "the files stay";
}

TEST_F(CommentDownloads, CloseRequestStopsAndClearsTheCommentDownloads) {
  Site.Configure({{"faults", {{kCommentPath, {{"rate", 40}}}}}});
  ListTwelve();
  Form.XML1.Click();
  ASSERT_TRUE(ServeUntil(Platform, [&] { return Count("正在下载") == 10; }));
  Form.lv5.Add("old.xml", {SaveDir.File("old.xml")});
  bool canClose = true;
  Form.FormCloseQuery(&Form, canClose);
  EXPECT_TRUE(canClose);
  EXPECT_FALSE(Form.clMdloader3.IsBusy());
  EXPECT_EQ(Form.clMdloader3.DownLoadList().Count(), 0);
  EXPECT_EQ(Form.lv4.Count(), 0);
  EXPECT_EQ(Form.lv5.Count(), 0);
  EXPECT_EQ(FolderFiles(), std::vector<std::string>{});
}

}  // namespace
