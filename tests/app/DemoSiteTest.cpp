// The demo site (tests/fixtures/demo_site.py) as the window model sees it: its pages list, their
// segments download and merge into playable videos, the failing part is marked and the comment
// lists arrive.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/HeadlessPlatform.h"
#include "app/MainForm.h"
#include "tests/support/AppWaits.h"
#include "tests/support/FfmpegTools.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZentavoSite.h"

namespace {

namespace fs = std::filesystem;
using zvtest::ZentavoSite;

class DemoSite : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!zvtest::HaveFfmpeg()) return;
    Site = new ZentavoSite;
    Site->LoadDemo();
  }
  static void TearDownTestSuite() {
    delete Site;
    Site = nullptr;
  }

  DemoSite() {
    if (!Site) return;
    Platform.FolderOfExecutable = AppFolder.Path();
    Platform.Resources = zvtest::BuiltBinderResources();
    Form = std::make_unique<TForm1>(Platform, Settings());
    Form->FormCreate();
    Form->SetSaveFolder(Folder.Path() + "/");
  }
  // Every request of the site, pages included, to the local one: addresses are pasted as users do.
  static TSiteSettings Settings() {
    TSiteSettings settings = Site->Settings();
    settings.PageHost = Site->Url();
    return settings;
  }

  // Pastes the address and lists it; true once the play addresses have come.
  bool List(const std::string& aAddress) {
    Form->edt1.SetText(aAddress);
    Form->btn1.Click();
    return zvtest::ServeUntil(Platform, [&] { return Form->btn1.Enabled(); });
  }
  // Downloads every part and waits until each is merged or stored.
  bool DownloadAll() {
    Form->N2.Click();
    return zvtest::ServeUntil(Platform, [&] {
      return Form->lv1.Count() == 0 && Form->lv3.Count() == 0 && !Form->MergeThread;
    }, 60000);
  }
  std::vector<std::string> Column(int aSubItem) const {
    std::vector<std::string> texts;
    for (int row = 0; row < Form->lv2.Count(); ++row)
      texts.push_back(aSubItem < 0 ? Form->lv2.ItemCaption(row) : Form->lv2.SubItem(row, aSubItem));
    return texts;
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(Folder.Path())) files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    return files;
  }

  static ZentavoSite* Site;
  THeadlessPlatform Platform;
  zvtest::TempDir AppFolder, Folder;
  std::unique_ptr<TForm1> Form;
};

ZentavoSite* DemoSite::Site = nullptr;

TEST_F(DemoSite, ThreePartsListDownloadInSegmentsAndMergeIntoWholeVideos) {
  if (!Site) GTEST_SKIP() << "no ffmpeg";
  ASSERT_TRUE(List(ZentavoSite::DemoThreeParts));
  EXPECT_EQ(Column(-1), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(Column(0), (std::vector<std::string>{"第一部分 出发", "第二部分 旅途", "第三部分 归来"}));
  EXPECT_EQ(Column(4), (std::vector<std::string>{"3", "3", "3"}));
  ASSERT_TRUE(DownloadAll());
  // Only the merged parts remain, each as long as the video it was cut from.
  EXPECT_EQ(Files(), (std::vector<std::string>{"1 第一部分 出发.flv", "2 第二部分 旅途.flv", "3 第三部分 归来.flv"}));
  for (const auto& file : Files()) EXPECT_NEAR(zvtest::ProbeDuration(Folder.File(file)), 6000, 150) << file;
}

TEST_F(DemoSite, EpisodesListWithTheFailingPartMarkedAndBringTheirCommentLists) {
  if (!Site) GTEST_SKIP() << "no ffmpeg";
  ASSERT_TRUE(List(ZentavoSite::DemoEpisodes));
  // The trailer is no main episode; the third one's play address is refused.
  EXPECT_EQ(Column(-1), (std::vector<std::string>{"1", "2", "×"}));
  EXPECT_EQ(Column(0), (std::vector<std::string>{"开始 第1话", "继续 第2话", "失踪的一集 第3话"}));
  Form->XML1.Click();
  ASSERT_TRUE(DownloadAll());
  ASSERT_TRUE(zvtest::ServeUntil(Platform, [&] { return Form->lv4.Count() == 0; }));
  EXPECT_EQ(Form->lv5.Count(), 3);
  EXPECT_NE(zvtest::ReadFile(Folder.File("1 开始 第1话.xml")).find("前方高能（301）"), std::string::npos);
  EXPECT_NEAR(zvtest::ProbeDuration(Folder.File("1 开始 第1话.flv")), 6000, 150);
  EXPECT_NEAR(zvtest::ProbeDuration(Folder.File("2 继续 第2话.flv")), 4000, 150);
}

TEST_F(DemoSite, OnePartVideoIsNamedAfterItsPage) {
  if (!Site) GTEST_SKIP() << "no ffmpeg";
  ASSERT_TRUE(List(ZentavoSite::DemoOnePart));
  EXPECT_EQ(Column(0), std::vector<std::string>{"演示：单段视频"});
  ASSERT_TRUE(DownloadAll());
  EXPECT_EQ(Files(), std::vector<std::string>{"1 演示：单段视频.flv"});
}

}  // namespace
