#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/HeadlessPlatform.h"
#include "app/MainForm.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kExe = std::string("\x7f" "ELF binder\0\x01\x02", 14);
const std::string kDll = "library bytes";
const std::string kNotWritten = "Flv合并程序释放失败，下载的分段视频将无法自动合并！";
const std::string kMissing = "软件在启动时不能正常释放Flv合并程序，分段视频无法自动合并！";

class Startup : public ::testing::Test {
protected:
  Startup() {
    Platform.FolderOfExecutable = Dir.Path();
    Platform.Resources = {{"flvexe", kExe}, {"flvdll", kDll}};
  }
  std::string Exe() const { return Dir.File("FlvBind.exe"); }
  std::string Dll() const { return Dir.File("FLVLib.dll"); }

  zvtest::TempDir Dir;
  THeadlessPlatform Platform;
  TForm1 Form{Platform};
};

bool IsExecutable(const std::string& aPath) {
  struct stat info;
  return stat(aPath.c_str(), &info) == 0 && (info.st_mode & S_IXUSR);
}

}  // namespace

TEST_F(Startup, WritesBothBinderFilesIntoTheProgramFolder) {
  Form.FormCreate();
  EXPECT_EQ(zvtest::ReadFile(Exe()), kExe);
  EXPECT_EQ(zvtest::ReadFile(Dll()), kDll);
  EXPECT_TRUE(IsExecutable(Exe()));
  EXPECT_TRUE(Form.chk3.Checked());
  EXPECT_TRUE(Platform.Messages.empty());
  EXPECT_EQ(Form.SaveFolder(), Dir.Path() + "/");
  EXPECT_EQ(Form.edt2.Text(), Form.SaveFolder());
  // Nothing but the two files is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()), {}), 2);
}

TEST_F(Startup, NeverRewritesBinderFilesThatExist) {
  zvtest::WriteFile(Exe(), "old program");
  zvtest::WriteFile(Dll(), "old library");
  Form.FormCreate();
  EXPECT_EQ(zvtest::ReadFile(Exe()), "old program");
  EXPECT_EQ(zvtest::ReadFile(Dll()), "old library");
  EXPECT_TRUE(Form.chk3.Checked());
  EXPECT_TRUE(Platform.Messages.empty());
}

TEST_F(Startup, WritesOnlyTheMissingFile) {
  zvtest::WriteFile(Dll(), "old library");
  Form.FormCreate();
  EXPECT_EQ(zvtest::ReadFile(Exe()), kExe);
  EXPECT_EQ(zvtest::ReadFile(Dll()), "old library");
  EXPECT_TRUE(Platform.Messages.empty());
}

TEST_F(Startup, UnwritableFolderUnticksMergingAndTellsTheUser) {
  // A path below a plain file can hold nothing, whatever the user's rights.
  zvtest::WriteFile(Dir.File("plain"), "");
  Platform.FolderOfExecutable = Dir.File("plain");
  Form.FormCreate();
  EXPECT_FALSE(Form.chk3.Checked());
  EXPECT_EQ(Platform.Messages, std::vector<std::string>{kNotWritten});
  EXPECT_EQ(Form.SaveFolder(), Dir.File("plain") + "/");
}

// An installed program's folder is not the user's: downloads start in the user's download folder.
TEST_F(Startup, UnwritableFolderStartsSavingInTheUsersDownloadFolder) {
  zvtest::WriteFile(Dir.File("plain"), "");
  Platform.FolderOfExecutable = Dir.File("plain");
  Platform.DownloadFolder = Dir.Path();
  Form.FormCreate();
  EXPECT_EQ(Form.SaveFolder(), Dir.Path() + "/");
  EXPECT_EQ(Form.edt2.Text(), Form.SaveFolder());
}

TEST_F(Startup, InstalledBinderInAReadOnlyFolderIsUsedAsItIs) {
  zvtest::WriteFile(Exe(), "installed program");
  zvtest::WriteFile(Dll(), "installed library");
  std::filesystem::permissions(Dir.Path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
  if (access(Dir.Path().c_str(), W_OK) == 0) {
    std::filesystem::permissions(Dir.Path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    GTEST_SKIP() << "this user may write into any folder";
  }
  zvtest::TempDir downloads;
  Platform.DownloadFolder = downloads.Path();
  Form.FormCreate();
  std::filesystem::permissions(Dir.Path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  EXPECT_TRUE(Form.chk3.Checked());
  EXPECT_TRUE(Platform.Messages.empty());
  EXPECT_EQ(zvtest::ReadFile(Exe()), "installed program");
  EXPECT_EQ(Form.SaveFolder(), downloads.Path() + "/");
}

TEST_F(Startup, MissingResourceCountsAsNotWritten) {
  Platform.Resources.erase("flvdll");
  Form.FormCreate();
  EXPECT_TRUE(std::filesystem::exists(Exe()));
  EXPECT_FALSE(std::filesystem::exists(Dll()));
  EXPECT_FALSE(Form.chk3.Checked());
  EXPECT_EQ(Platform.Messages, std::vector<std::string>{kNotWritten});
}

TEST_F(Startup, TickingMergeNeedsBothBinderFiles) {
  Platform.Resources.clear();
  Form.FormCreate();
  Platform.Messages.clear();

  Form.chk3.Click();
  EXPECT_FALSE(Form.chk3.Checked());
  EXPECT_EQ(Platform.Messages, std::vector<std::string>{kMissing});

  // Once both files are there, the box ticks and unticks without a word.
  Platform.Messages.clear();
  zvtest::WriteFile(Exe(), "x");
  zvtest::WriteFile(Dll(), "y");
  Form.chk3.Click();
  EXPECT_TRUE(Form.chk3.Checked());
  Form.chk3.Click();
  EXPECT_FALSE(Form.chk3.Checked());
  EXPECT_TRUE(Platform.Messages.empty());
}
