// zentavo-dl end to end: the built program run against the local site, its files, output and exit
// status.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <set>
#include <thread>

#include "tests/cli/ProgramRun.h"
#include "tests/support/FfmpegTools.h"
#include "tests/support/ZentavoSite.h"

namespace {

namespace fs = std::filesystem;

const std::string kPagePath = "/www.zentavo.com/video/BV1";
const std::string kAddress = "https://www.zentavo.com/video/BV1";

// A video page of parts given as cid and name.
std::string Page(const std::vector<std::pair<int, std::string>>& aParts) {
  std::string pages;
  for (const auto& [cid, name] : aParts) {
    if (!pages.empty()) pages += ',';
    pages.append("{\"cid\":").append(std::to_string(cid)).append(",\"part\":\"").append(name).append("\"}");
  }
  return "{\"data\":{\"title\":\"Title\",\"pages\":[" + pages + "]}}";
}

class ZentavoDl : public ::testing::Test {
protected:
  TProgramResult Run(const std::vector<std::string>& aArgs) { return RunProgram(aArgs, Site.Url(), Work.Path()); }
  // The files of a folder, sorted.
  static std::vector<std::string> Files(const std::string& aFolder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(aFolder)) files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    return files;
  }
  bool Exists(const std::string& aName) const { return fs::exists(Work.File(aName)); }

  zvtest::ZentavoSite Site;
  zvtest::TempDir Work;
};

bool Contains(const std::string& aText, const std::string& aPart) { return aText.find(aPart) != std::string::npos; }

}  // namespace

TEST_F(ZentavoDl, ListsThePartsAndAsksForTheChosenQuality) {
  Site.AddPage(kPagePath, Page({{11, "第一集"}, {12, "Two"}, {13, "Three"}}));
  Site.Configure({{"play", {{"12", {{"segments", 3}, {"quality", 64}}}, {"13", {{"reply", "{\"code\":-404}"}}}}}});
  auto listed = Run({"--list", kAddress});
  EXPECT_EQ(listed.Status, 0) << listed.Output;
  EXPECT_EQ(listed.Output,
            "共 3 个视频：\n"
            "1  第一集  1080P  1 个分段\n"
            "2  Two  720P  3 个分段\n"
            "3  Three  ×（无法获取播放地址）\n");
  EXPECT_TRUE(Files(Work.Path()).empty());

  Run({"--list", "--quality", "360p", kAddress});
  std::set<std::string> asked;  // cid:qn
  for (const auto& request : Site.Requests())
    if (request["path"] == "/v2/playurl")
      asked.insert(request["query"]["cid"].get<std::string>() + ":" + request["query"]["qn"].get<std::string>());
  EXPECT_EQ(asked, (std::set<std::string>{"11:16", "11:80", "12:16", "12:80", "13:16", "13:80"}));
}

TEST_F(ZentavoDl, MergesRecordedSegmentsAndSavesComments) {
  if (!zvtest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  zvtest::TempDir recordings;
  const std::string whole = recordings.File("whole.flv");
  ASSERT_TRUE(zvtest::MakeFlv(whole, 4));
  const int count = zvtest::CutFlv(whole, Site.SegmentFolder() + "/21-%d.flv", 1);
  ASSERT_GE(count, 3);
  Site.AddPage(kPagePath, Page({{21, "Recorded"}, {22, "Single"}}));
  Site.Configure({{"play", {{"21", {{"segments", count}}}}}});

  auto run = Run({"--comments", "--folder", "out", kAddress});
  EXPECT_EQ(run.Status, 0) << run.Output;
  EXPECT_TRUE(Contains(run.Output, "已合并：1 Recorded.flv")) << run.Output;
  EXPECT_TRUE(Contains(run.Output, "已保存 2 个视频、2 个弹幕文件")) << run.Output;
  // The segments went into the merged file; nothing else is left.
  EXPECT_EQ(Files(Work.File("out")),
            (std::vector<std::string>{"1 Recorded.flv", "1 Recorded.xml", "2 Single.flv", "2 Single.xml"}));
  EXPECT_NEAR(zvtest::ProbeDuration(Work.File("out/1 Recorded.flv")), zvtest::ProbeDuration(whole), 100);
  EXPECT_TRUE(Contains(zvtest::ReadFile(Work.File("out/1 Recorded.xml")), "<chatid>21</chatid>"));
  EXPECT_TRUE(Contains(zvtest::ReadFile(Work.File("out/2 Single.xml")), "<chatid>22</chatid>"));
}

TEST_F(ZentavoDl, NamesFilesAsTheWindowDoes) {
  Site.AddPage(kPagePath, Page({{31, "Alpha"}, {32, "Beta"}}));
  Site.Configure({{"play", {{"32", {{"segments", 2}}}}}});
  struct TCase {
    std::vector<std::string> Args;
    std::vector<std::string> Files;
  } cases[] = {
      {{"--comments"}, {"1 Alpha.flv", "1 Alpha.xml", "2 Beta.flv", "2 Beta.xml"}},
      {{"--comments", "--no-numbers"}, {"Alpha.flv", "Alpha.xml", "Beta.flv", "Beta.xml"}},
      // The number replaces the name; comment files still get the number in front of that name.
      {{"--comments", "--numbers-only"}, {"1 1.xml", "1.flv", "2 2.xml", "2.flv"}},
      {{"--comments", "--numbers-only", "--no-numbers"}, {"1.flv", "1.xml", "2.flv", "2.xml"}},
      {{"--no-merge"}, {"1 Alpha.flv", "2 Beta 2-1.flv", "2 Beta 2-2.flv"}},
      {{"--comments-only", "--parts", "2"}, {"2 Beta.xml"}},
      {{"--parts", "1-1", "--jobs", "1", "--connections", "1", "--quality", "720p"}, {"1 Alpha.flv"}},
  };
  int run = 0;
  for (const auto& c : cases) {
    std::string folder = "out" + std::to_string(++run);
    std::vector<std::string> args = c.Args;
    args.insert(args.end(), {"--folder", folder, kAddress});
    auto result = Run(args);
    EXPECT_EQ(result.Status, 0) << result.Output;
    EXPECT_EQ(Files(Work.File(folder)), c.Files) << testing::PrintToString(c.Args);
  }
}

TEST_F(ZentavoDl, FailedPartsAreListedWithTheirReasons) {
  Site.AddPage(kPagePath, Page({{41, "Good"}, {42, "Broken"}, {43, "Unplayable"}}));
  Site.Configure({{"play", {{"42", {{"segments", 2}}}, {"43", {{"reply", "{\"code\":-404}"}}}}},
                  {"faults", {{"/seg/42-2.flv", {{"status", 404}}}}}});
  auto run = Run({kAddress});
  EXPECT_EQ(run.Status, 1) << run.Output;
  EXPECT_TRUE(Contains(run.Output, "未能保存 2 项：\n"
                                   "  2 Broken：第 2 段下载失败（HTTP 404）\n"
                                   "  3 Unplayable：无法获取播放地址\n"))
      << run.Output;
  // The good part and the segment that arrived stay; the failed segment's working file goes.
  EXPECT_EQ(Files(Work.Path()), (std::vector<std::string>{"1 Good.flv", "2 Broken 2-1.flv"}));
}

TEST_F(ZentavoDl, ListingFailuresAreTheWindowsMessages) {
  Site.AddPage(kPagePath, "{\"title\":\"no parts here\"}");
  struct TCase {
    std::string Address, Message;
  } cases[] = {
      {"https://www.zentavo.com/video/missing", "暂时无法获取数据！"},
      {"https://www.example.com/video/BV1", "播放地址可能不正确！"},
      {kAddress, "未能获取视频信息！"},
  };
  for (const auto& c : cases) {
    auto run = Run({c.Address});
    EXPECT_EQ(run.Status, 1) << c.Address;
    EXPECT_EQ(run.Output, "zentavo-dl: " + c.Message + "\n") << c.Address;
  }
}

TEST_F(ZentavoDl, CtrlCStopsKeepsFinishedSegmentsAndCleansWorkingFiles) {
  Site.AddPage(kPagePath, Page({{51, "Slow"}, {52, "Other"}}));
  // About 300 KB a segment at 20 KB/s a connection: a few seconds each, one after the other.
  Site.Configure({{"play", {{"51", {{"segments", 3}}}}}, {"segment_tags", 3000}, {"faults", {{"*", {{"rate", 20000}}}}}});
  TProgramRun run({"--jobs", "1", "--parts", "1", kAddress}, Site.Url(), Work.Path());
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!(Exists("1 Slow 3-1.flv") && Exists("1 Slow 3-2.flv.vtq")) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(Exists("1 Slow 3-2.flv.vtq")) << run.Output();
  run.Signal(SIGINT);
  const int status = run.Wait(30000);
  const std::string output = run.Output();
  EXPECT_NE(status, 0) << output;
  EXPECT_TRUE(Contains(output, "正在停止下载")) << output;
  EXPECT_TRUE(Contains(output, "1 Slow：第 2 段已中断")) << output;
  EXPECT_EQ(Files(Work.Path()), (std::vector<std::string>{"1 Slow 3-1.flv"}));
}

TEST_F(ZentavoDl, UsageErrorsEndWithStatusTwo) {
  Site.AddPage(kPagePath, Page({{61, "One"}, {62, "Two"}, {63, "Three"}}));
  zvtest::WriteFile(Work.File("a-file"), "");
  struct TCase {
    std::vector<std::string> Args;
    std::string Message;
  } cases[] = {
      {{}, "缺少视频地址"},
      {{kAddress, kAddress}, "只能给一个视频地址"},
      {{"--quality", "4k", kAddress}, "清晰度只能是 1080p、720p、480p 或 360p：4k"},
      {{"--jobs", "11", kAddress}, "同时下载的任务数只能是 1 到 10、15 或 20：11"},
      {{"--connections", "0", kAddress}, "每个任务的线程数只能是 1 到 10：0"},
      {{"--parts", "3-1", kAddress}, "视频序号列表不正确：3-1"},
      {{"--folder"}, "选项 --folder 缺少参数"},
      {{"--list=yes", kAddress}, "选项 --list 不带参数"},
      {{"--bogus", kAddress}, "未知选项：--bogus"},
      {{"--comments", "--comments-only", kAddress}, "--comments 和 --comments-only 只能用一个"},
      // Known only once the page is listed.
      {{"--parts", "2,9", kAddress}, "没有第 9 个视频（共 3 个）"},
      {{"--folder", "a-file/sub", kAddress}, "无法使用保存位置 a-file/sub"},
  };
  for (const auto& c : cases) {
    auto run = Run(c.Args);
    EXPECT_EQ(run.Status, 2) << testing::PrintToString(c.Args);
    EXPECT_TRUE(Contains(run.Output, "zentavo-dl: " + c.Message)) << run.Output;
  }
  EXPECT_EQ(Files(Work.Path()), (std::vector<std::string>{"a-file"}));

  auto help = Run({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_TRUE(Contains(help.Output, "用法：zentavo-dl [选项] 视频地址")) << help.Output;
  auto version = Run({"--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Output, "zentavo-dl (Zentavo视频下载工具) 2.9\n");
}
