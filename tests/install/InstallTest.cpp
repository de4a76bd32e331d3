// The installed programs, from a fresh install into a scratch prefix, and the Debian package.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <thread>

#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

struct TCommandResult {
  int Status;
  std::string Output;
};

// Runs a command to its end and returns its exit status and standard output.
TCommandResult RunCommand(const std::vector<std::string>& aArgs) {
  zvtest::ChildProcess child(aArgs);
  std::string output;
  try {
    while (true) output += child.ReadLine(120000) + "\n";
  } catch (const std::runtime_error&) {
    // output closed: the command has ended
  }
  return {child.Wait(), output};
}

// Every entry under aRoot with its kind, size and modification time, to see that nothing changed.
std::map<std::string, std::string> Snapshot(const std::string& aRoot) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(aRoot)) {
    auto status = entry.symlink_status();
    std::ostringstream state;
    state << int(status.type());
    if (fs::is_regular_file(status))
      state << ' ' << entry.file_size() << ' ' << fs::last_write_time(entry.path()).time_since_epoch().count();
    entries[entry.path().string()] = state.str();
  }
  return entries;
}

// Whether the process aPid waits in its event loop now (blocked in poll, as Qt's loop is when idle).
bool IdleInEventLoop(int aPid) {
  std::ifstream wchan("/proc/" + std::to_string(aPid) + "/wchan");
  std::string where;
  std::getline(wchan, where);
  return where.find("poll") != std::string::npos;
}

class Installed : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    Prefix = new zvtest::TempDir;
    TCommandResult install = RunCommand({ZV_CMAKE, "--install", ZV_BUILD_DIR, "--prefix", Prefix->Path()});
    ASSERT_EQ(install.Status, 0) << install.Output;
  }
  static void TearDownTestSuite() {
    delete Prefix;
    Prefix = nullptr;
  }
  static std::string Path(const std::string& aRelative) { return Prefix->File(aRelative); }
  static std::string Private(const std::string& aName) { return Path(std::string(ZV_PRIVATE_DIR) + "/" + aName); }

  static zvtest::TempDir* Prefix;
};
zvtest::TempDir* Installed::Prefix = nullptr;

}  // namespace

// The programs live beside the binder in their private folder; bin/ links to them.
TEST_F(Installed, ProgramsAndBinderShareThePrivateFolderAndBinLinksToThem) {
  for (const char* name : {"FlvBind.exe", "FLVLib.dll", "ZentavoDownloader"}) EXPECT_TRUE(fs::is_regular_file(Private(name))) << name;
  ASSERT_TRUE(fs::is_symlink(Path("bin/ZentavoDownloader")));
  EXPECT_TRUE(fs::equivalent(Path("bin/ZentavoDownloader"), Private("ZentavoDownloader")));
  EXPECT_TRUE(fs::is_regular_file(Path("share/icons/hicolor/scalable/apps/zentavo-downloader.svg")));
  EXPECT_TRUE(fs::is_regular_file(Path("share/icons/hicolor/48x48/apps/zentavo-downloader.png")));

  std::string entryPath = Path("share/applications/zentavo-downloader.desktop");
  TCommandResult validation = RunCommand({"desktop-file-validate", entryPath});
  EXPECT_EQ(validation.Status, 0) << validation.Output;
  std::string entry = zvtest::ReadFile(entryPath);
  for (const char* line : {"Name=Zentavo视频下载工具\n", "Exec=ZentavoDownloader\n", "Icon=zentavo-downloader\n",
                           "Categories=Network;AudioVideo;Video;\n"})
    EXPECT_NE(entry.find(line), std::string::npos) << line;

  // The installed binder runs with the library beside it: without arguments it shows its usage and fails.
  EXPECT_EQ(RunCommand({Private("FlvBind.exe")}).Status, 255);
}

TEST_F(Installed, CommandLineProgramShowsItsVersion) {
#ifndef ZV_CLI_INSTALLED
  GTEST_SKIP() << "the command-line program is not part of this build";
#else
  TCommandResult version = RunCommand({Path("bin/zentavo-dl"), "--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_NE(version.Output.find("zentavo-dl"), std::string::npos) << version.Output;
#endif
}

// Started from bin/, the window comes up with the binder it finds installed, writes nothing into the
// install folders and ends cleanly when told to terminate.
TEST_F(Installed, WindowComesUpWritesNothingAndEndsOnTermination) {
  auto before = Snapshot(Prefix->Path());
  zvtest::TempDir work;
  fs::current_path(work.Path());
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  zvtest::ChildProcess window({Path("bin/ZentavoDownloader")});

  // Up: still running and settled in its event loop for a while.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int idleReads = 0;
  while (idleReads < 5 && std::chrono::steady_clock::now() < deadline) {
    ASSERT_EQ(waitpid(window.Pid(), nullptr, WNOHANG), 0) << "the window ended on its own";
    idleReads = IdleInEventLoop(window.Pid()) ? idleReads + 1 : 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(idleReads, 5) << "the window never settled in its event loop";

  kill(window.Pid(), SIGTERM);
  auto exit = std::async(std::launch::async, [&] { return window.Wait(); });
  if (exit.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    kill(window.Pid(), SIGKILL);
    ADD_FAILURE() << "the window did not end within 10 s";
  }
  EXPECT_EQ(exit.get(), 0);
  EXPECT_EQ(Snapshot(Prefix->Path()), before);
  EXPECT_TRUE(fs::is_empty(work.Path()));
}

// The Debian package holds the installed files and depends on what the window needs beyond its libraries.
TEST(DebianPackage, HoldsTheProgramsTheBinderAndTheDesktopEntry) {
  zvtest::TempDir out;
  TCommandResult pack =
      RunCommand({ZV_CPACK, "-G", "DEB", "--config", std::string(ZV_BUILD_DIR) + "/CPackConfig.cmake", "-B", out.Path()});
  ASSERT_EQ(pack.Status, 0) << pack.Output;
  std::string deb;
  for (const auto& entry : fs::directory_iterator(out.Path()))
    if (entry.path().extension() == ".deb") deb = entry.path().string();
  ASSERT_FALSE(deb.empty()) << pack.Output;

  std::string contents = RunCommand({"dpkg-deb", "--contents", deb}).Output;
  std::vector<std::string> expected = {
      "./usr/bin/ZentavoDownloader -> ../lib/zentavo-downloader/ZentavoDownloader",
      "./usr/lib/zentavo-downloader/ZentavoDownloader",
      "./usr/lib/zentavo-downloader/FlvBind.exe",
      "./usr/lib/zentavo-downloader/FLVLib.dll",
      "./usr/share/applications/zentavo-downloader.desktop",
      "./usr/share/icons/hicolor/scalable/apps/zentavo-downloader.svg",
      "./usr/share/icons/hicolor/48x48/apps/zentavo-downloader.png",
  };
#ifdef ZV_CLI_INSTALLED
  expected.push_back("./usr/bin/zentavo-dl -> ../lib/zentavo-downloader/zentavo-dl");
  expected.push_back("./usr/lib/zentavo-downloader/zentavo-dl");
#endif
  for (const auto& path : expected) EXPECT_NE(contents.find(path + "\n"), std::string::npos) << path << "\n" << contents;

  std::string depends = RunCommand({"dpkg-deb", "--field", deb, "Depends"}).Output;
  for (const char* package : {"qt6-translations-l10n", "ca-certificates", "libqt6widgets6", "libcurl4", "libssl3"})
    EXPECT_NE(depends.find(package), std::string::npos) << package << " in " << depends;
}
