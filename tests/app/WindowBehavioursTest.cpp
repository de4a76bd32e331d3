#include <gtest/gtest.h>

#include <filesystem>

#include "app/HeadlessPlatform.h"
#include "app/MainForm.h"
#include "tests/support/TestSupport.h"

namespace {

class WindowBehaviours : public ::testing::Test {
protected:
  WindowBehaviours() {
    Platform.FolderOfExecutable = Dir.Path();
    Platform.Resources = {{"flvexe", "binder"}, {"flvdll", "library"}};
    Form.FormCreate();
  }

  zvtest::TempDir Dir;
  THeadlessPlatform Platform;
  TForm1 Form{Platform};
};

}  // namespace

TEST_F(WindowBehaviours, FolderButtonTakesOnlyAChosenFolderOfTheFileSystem) {
  std::filesystem::create_directory(Dir.File("videos"));
  std::filesystem::create_directory(Dir.File("已下载"));
  zvtest::WriteFile(Dir.File("file.flv"), "x");
  const std::string start = Form.SaveFolder();
  struct TCase {
    std::string Answer;
    std::string Folder;  // the save folder afterwards
  } cases[] = {
      {Dir.File("videos"), Dir.File("videos/")},       // the separator is appended
      {Dir.File("已下载") + "/", Dir.File("已下载/")},  // and not doubled
      {"/", "/"},                                       // the root already ends with it
      {"", start},                                      // cancelled
      {Dir.File("file.flv"), start},                    // not a folder
      {Dir.File("gone"), start},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.Answer);
    Form.SetSaveFolder(start);
    Platform.FolderChoices.clear();
    Platform.FolderAnswer = test.Answer;
    Form.btn2.Click();
    ASSERT_EQ(Platform.FolderChoices.size(), 1u);
    EXPECT_EQ(Platform.FolderChoices[0].first, "选择文件夹");
    EXPECT_EQ(Platform.FolderChoices[0].second, start);  // opens at the current folder
    EXPECT_EQ(Form.SaveFolder(), test.Folder);
    EXPECT_EQ(Form.edt2.Text(), test.Folder);
  }
  EXPECT_TRUE(Platform.Messages.empty());
}

TEST_F(WindowBehaviours, RightClickOnTheAddressSelectsAllOfIt) {
  Form.edt1.SetText("https://www.zentavo.com/video/第1话");
  const int size = static_cast<int>(Form.edt1.Text().size());
  Form.edt1.SetSelection(3, 2);
  Form.edt1.MouseDown(TMouseButton::mbLeft, 5, 5);
  Form.edt1.MouseDown(TMouseButton::mbMiddle, 5, 5);
  EXPECT_EQ(Form.edt1.SelStart(), 3);
  EXPECT_EQ(Form.edt1.SelLength(), 2);
  Form.edt1.MouseDown(TMouseButton::mbRight, 5, 5);
  EXPECT_EQ(Form.edt1.SelStart(), 0);
  EXPECT_EQ(Form.edt1.SelLength(), size);

  // A pasted address replaces the selection; a selection never reaches past the text.
  Form.edt1.SetText("https://a");
  EXPECT_EQ(Form.edt1.SelLength(), 0);
  Form.edt1.SetSelection(5, 100);
  EXPECT_EQ(Form.edt1.SelLength(), 4);
  Form.edt1.SetSelection(-1, 0);
  EXPECT_EQ(Form.edt1.SelStart(), 0);
}

TEST_F(WindowBehaviours, DonationLabelTogglesTheCentredPanelAndThePictureHidesIt) {
  Form.pnl6.SetLeft(0);
  Form.lbl7.Click();
  EXPECT_TRUE(Form.pnl6.Visible());
  EXPECT_EQ(Form.pnl6.Left(), (TForm1::Width - Form.pnl6.Width()) / 2);
  Form.lbl7.Click();
  EXPECT_FALSE(Form.pnl6.Visible());
  Form.lbl7.Click();
  Form.img1.Click();
  EXPECT_FALSE(Form.pnl6.Visible());
  Form.img1.Click();  // hiding a hidden panel keeps it hidden
  EXPECT_FALSE(Form.pnl6.Visible());
}
