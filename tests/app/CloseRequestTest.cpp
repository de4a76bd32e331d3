// The close request with the real engine against the local site and the real binder: what it asks,
// what it stops, which files it deletes and which it must keep, and how long it takes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <stdexcept>

#include "app/DownloadNames.h"
#include "tests/app/VideoDownloadsFixture.h"
#include "tests/support/ReportedErrors.h"

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

const std::pair<std::string, std::string> kQuestion{"感谢使用",
                                                    "正在下载视频，真的要关闭吗？\r\n本工具不保存任何下载记录！！！"};

using zvtest::RunClose;
using zvtest::WorkingFiles;

class CloseRequest : public zvtest::VideoDownloads {
protected:
  bool Close(TClock::duration* aTook = nullptr) { return RunClose(Form, aTook); }
  void MergeQueuedParts() {
    Form.lv3.OnInsert = [this](TListView* aSender, int aIndex) { Form.lv3Insert(aSender, aIndex); };
  }
};

}  // namespace

TEST_F(CloseRequest, WithNothingRunningItAsksNothingAndDeletesOnlyTheWorkingFiles) {
  zvtest::WriteFile(Folder.File("keep.flv.vtq.flv"), "not ours");
  AddPart("1", "done", Segments("100", 1));
  Form.N2.Click();
  ASSERT_TRUE(WaitIdle());
  // One segment fails midway, one is paused with data, one never started.
  Site.Configure({{"segment_tags", 2000},
                  {"faults", {{"/seg/101-1.flv", {{"drop_after", 3000}}}, {"*", {{"rate", 10000}}}}}});
  Form.cbb1.Select(1);  // two at once
  AddPart("2", "failed", Segments("101", 1));
  AddPart("3", "paused", Segments("102", 1));
  AddPart("4", "waiting", Segments("103", 1));
  Select(Form.lv2, {1, 2, 3});
  Form.N1.Click();
  ASSERT_TRUE(ServeUntil([&] { return Form.lv1.ItemCaption(0) == "×"; }));
  ASSERT_TRUE(WaitProgress(1));
  Form.N6.Click();
  ASSERT_EQ(Captions(), "×‖‖");
  ASSERT_TRUE(fs::exists(Folder.File("2 failed.flv.vtq")));
  ASSERT_TRUE(fs::exists(Folder.File("3 paused.flv.vtq")));
  Form.lv5.Add("old.xml", {Folder.File("old.xml")});

  EXPECT_TRUE(Close());
  EXPECT_TRUE(Platform.Questions.empty());
  EXPECT_TRUE(Form.Closing);
  EXPECT_EQ(Files(), (std::vector<std::string>{"1 done.flv", "keep.flv.vtq.flv"}));
  EXPECT_EQ(FileSha256("1 done.flv"), SegmentSha256("100", 1));
  EXPECT_EQ(Form.lv5.Count(), 0);
  // A later request lets the window go at once.
  EXPECT_TRUE(Close());
  EXPECT_TRUE(Platform.Questions.empty());
}

TEST_F(CloseRequest, NoKeepsEverythingGoingAndYesStopsTheDownloads) {
  // Slow enough that no segment finishes before the close.
  PaceSegments(3000);
  AddPart("1", "first", Segments("101", 2));
  Form.N2.Click();
  ASSERT_TRUE(WaitRunning(2));
  Platform.YesNoAnswer = false;
  EXPECT_FALSE(Close());
  EXPECT_EQ(Platform.Questions, std::vector{kQuestion});
  EXPECT_FALSE(Form.Closing);
  EXPECT_TRUE(Form.clMdloader1.IsBusy());
  EXPECT_EQ(Captions(), "►►");

  // The downloads finish as if nothing had been asked.
  PaceSegments(0);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Files(), (std::vector<std::string>{"1 first 2-1.flv", "1 first 2-2.flv"}));
  for (int i = 1; i <= 2; ++i)
    EXPECT_EQ(FileSha256("1 first 2-" + std::to_string(i) + ".flv"), SegmentSha256("101", i, 2000));
  EXPECT_EQ(Form.lv3.Count(), 1);

  PaceSegments(3000);
  AddPart("2", "second", Segments("102", 2));
  Select(Form.lv2, {1});
  Form.N1.Click();
  ASSERT_TRUE(WaitRunning(2));
  Platform.YesNoAnswer = true;
  TClock::duration took{};
  EXPECT_TRUE(Close(&took));
  EXPECT_EQ(Platform.Questions, std::vector(2, kQuestion));
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_FALSE(Form.clMdloader1.IsBusy());
  EXPECT_TRUE(Form.Closing);
  EXPECT_EQ(Files(), (std::vector<std::string>{"1 first 2-1.flv", "1 first 2-2.flv"}));
}

TEST_F(CloseRequest, UnattendedCloseDuringAMergeAndDownloadsKeepsEverySegment) {
  MergeQueuedParts();
  // The first part's merged file is a pipe nobody reads: its binder stays in the merge until stopped.
  ASSERT_EQ(mkfifo(Folder.File("1 merged.flv").c_str(), 0600), 0);
  Site.Configure({{"faults", {{"/seg/102-1.flv", {{"rate", 2000}}}, {"/seg/102-2.flv", {{"rate", 2000}}}}}});
  AddPart("1", "merged", Segments("101", 2));
  AddPart("2", "running", Segments("102", 2));
  Form.N2.Click();
  ASSERT_TRUE(ServeUntil([&] { return Form.MergeThread && Form.IsBinderRunning(); }));
  ASSERT_TRUE(Form.clMdloader1.IsBusy());

  Form.Unattended = true;
  TClock::duration took{};
  EXPECT_TRUE(Close(&took));
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_TRUE(Platform.Questions.empty());
  EXPECT_EQ(Form.MergeThread, nullptr);
  EXPECT_FALSE(Form.IsBinderRunning());
  EXPECT_FALSE(Form.clMdloader1.IsBusy());
  ASSERT_EQ(Form.lv3.Count(), 1);
  EXPECT_EQ(Form.lv3.SubItem(0, 2), "正在合并");
  for (int i = 1; i <= 2; ++i) EXPECT_EQ(FileSha256("1 merged 2-" + std::to_string(i) + ".flv"), SegmentSha256("101", i));
  EXPECT_TRUE(WorkingFiles(Folder.Path()).empty());
}

TEST_F(CloseRequest, StalledRequestsAreStoppedAtOnceAndANestedRequestIsRefused) {
  Site.Configure({{"faults", {{"*", {{"delay", 30}}}}}});
  AddPart("1", "stalled", Segments("101", 3));
  Form.N2.Click();
  ASSERT_TRUE(Form.clMdloader1.IsBusy());
  // A second request arrives while the first one waits for the downloads to end.
  std::vector<bool> nested;
  Platform.StartTimer(0, false, [&] { nested.push_back(Close()); });
  TClock::duration took{};
  EXPECT_TRUE(Close(&took));
  EXPECT_LT(took, std::chrono::seconds(3));
  EXPECT_EQ(nested, std::vector<bool>{false});
  EXPECT_EQ(Platform.Questions, std::vector{kQuestion}) << "the nested request asked nothing";
  EXPECT_TRUE(Files().empty());
}

TEST_F(CloseRequest, AHandlerThatThrowsWhileTheCloseWaitsNeitherStopsNorEscapesIt) {
  PaceSegments(3000);
  AddPart("1", "thrown", Segments("101", 2));
  Form.N2.Click();
  ASSERT_TRUE(WaitRunning(2));
  auto completed = Form.clMdloader1.OnProcessCompleted;
  Form.clMdloader1.OnProcessCompleted = [&](TclMultiInternetControl* aSender, TclInternetItem* aItem) {
    completed(aSender, aItem);
    throw std::runtime_error("completion handler failed");
  };
  // Nobody waits for a completion: its exception goes to the UI thread's handler of such errors.
  zvtest::ReportedErrors reported;
  Form.Unattended = true;
  bool closed = false;
  EXPECT_NO_THROW(closed = Close());
  EXPECT_TRUE(closed);
  EXPECT_TRUE(ServeUntil([&] { return reported.Texts.size() == 2; }, 5000));
  EXPECT_EQ(reported.Texts, std::vector<std::string>(2, "completion handler failed"));
  EXPECT_TRUE(Files().empty());
}

// Rounds of a fresh window that lists a video, downloads its parts and is closed unattended at a
// random moment: while the segments' information is asked for, while data arrives, or while a
// part is merged. ZV_CLOSE_SOAK_ROUNDS sets the number of rounds, ZV_CLOSE_SOAK_SEED the seed.
TEST(CloseRequestSoak, ClosingAtAnyMomentLosesNoFinishedSegmentAndLeavesNoWorkingFile) {
  const char* roundsText = std::getenv("ZV_CLOSE_SOAK_ROUNDS");
  const int rounds = roundsText ? std::atoi(roundsText) : 5;
  const char* seedText = std::getenv("ZV_CLOSE_SOAK_SEED");
  const unsigned seed = seedText ? unsigned(std::strtoul(seedText, nullptr, 10)) : std::random_device{}();
  std::cout << "close soak: " << rounds << " rounds, seed " << seed << std::endl;
  std::mt19937 random(seed);
  auto between = [&](int aLow, int aHigh) { return std::uniform_int_distribution<int>(aLow, aHigh)(random); };

  constexpr int kParts = 3, kSegments = 3, kTags = 5000;
  zvtest::ZentavoSite site;
  const std::string page = "/www.zentavo.com/video/BV1";
  nlohmann::json listing = {{"segment_tags", kTags}, {"play", nlohmann::json::object()}};
  std::string pages;
  for (int part = 1; part <= kParts; ++part) {
    const std::string cid = std::to_string(100 + part);
    listing["play"][cid] = {{"segments", kSegments}};
    pages += std::string(pages.empty() ? "" : ",") + "{\"cid\":" + cid + ",\"part\":\"p" + std::to_string(part) + "\"}";
  }
  site.AddPage(page, "{\"title\":\"T\",\"pages\":[" + pages + "]}");
  std::map<std::string, std::string> expected;  // segment address path -> SHA-256
  auto expectedSha = [&](const std::string& aPath) {
    auto& sha = expected[aPath];
    if (sha.empty()) {
      const std::string name = aPath.substr(aPath.rfind('/') + 1);
      const size_t dash = name.find('-');
      sha = zvtest::ZentavoSite::SegmentSha256(name.substr(0, dash), std::stoi(name.substr(dash + 1)), kTags);
    }
    return sha;
  };

  zvtest::TempDir appFolder;
  THeadlessPlatform platform;
  platform.FolderOfExecutable = appFolder.Path();
  platform.Resources = zvtest::BuiltBinderResources();
  const char* kPhases[] = {"information", "data", "merge"};
  std::map<std::string, int> closedIn;
  TClock::duration longest{}, total{};
  int finished = 0, merged = 0, binderCut = 0;
  for (int round = 0; round < rounds && !::testing::Test::HasFatalFailure(); ++round) {
    const int phase = round % 3;
    SCOPED_TRACE("round " + std::to_string(round) + ", " + kPhases[phase] + ", seed " + std::to_string(seed));
    zvtest::TempDir folder;
    auto form = std::make_unique<TForm1>(platform, site.Settings());
    form->FormCreate();
    form->SetSaveFolder(folder.Path() + "/");
    form->cbb2.Select(between(0, 4));
    // What each finished segment became: its file, and the merged file of its part.
    struct TFinished {
      std::string File, Merged, Path;
      uintmax_t Size;
    };
    std::vector<TFinished> done;
    auto completed = form->clMdloader1.OnProcessCompleted;
    form->clMdloader1.OnProcessCompleted = [&, completed](TclMultiInternetControl* aSender, TclInternetItem* aItem) {
      auto* item = static_cast<TclDownLoadItem*>(aItem);
      if (item->ResourceState().LastStatus() == psSuccess) {
        const std::string file = WithoutExtension(item->LocalFile());
        const std::string tag = item->UserName();
        const std::string address = item->URL().substr(0, item->URL().find('?'));
        done.push_back({file, folder.File(tag.substr(tag.find('|') + 1) + ".flv"),
                        address.substr(address.find("/seg/")), fs::file_size(item->LocalFile())});
      }
      completed(aSender, aItem);
    };

    site.Configure(listing);
    form->edt1.SetText(site.Url(page));
    form->btn1.Click();
    ASSERT_TRUE(zvtest::ServeUntil(platform, [&] { return form->btn1.Enabled(); }));
    ASSERT_EQ(form->lv2.Count(), kParts);

    nlohmann::json config = listing;
    if (phase == 0) config["faults"] = {{"*", {{"delay", 3}}}};
    if (phase == 1) config["faults"] = {{"*", {{"rate", between(20000, 200000)}}}};
    // Merges run while the last part still downloads.
    if (phase == 2)
      for (int i = 1; i <= kSegments; ++i) config["faults"]["/seg/103-" + std::to_string(i) + ".flv"] = {{"rate", 50000}};
    site.Configure(config);
    form->N2.Click();
    bool reached = true;
    if (phase == 1)
      reached = zvtest::ServeUntil(platform, [&] {
        for (int row = 0; row < form->lv1.Count(); ++row)
          if (!form->lv1.SubItem(row, 2).empty()) return true;
        return false;
      });
    if (phase == 2) reached = zvtest::ServeUntil(platform, [&] { return form->MergeThread != nullptr; });
    ASSERT_TRUE(reached);
    const int extraMs = between(0, phase == 2 ? 10 : 400);
    zvtest::ServeUntil(platform, [] { return false; }, extraMs);

    binderCut += form->IsBinderRunning();
    form->Unattended = true;
    TClock::duration took{};
    ASSERT_TRUE(RunClose(*form, &took));
    ++closedIn[kPhases[phase]];
    longest = std::max(longest, took);
    total += took;
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_TRUE(platform.Questions.empty());
    EXPECT_FALSE(form->clMdloader1.IsBusy());
    EXPECT_EQ(form->MergeThread, nullptr);
    EXPECT_FALSE(form->IsBinderRunning());
    EXPECT_EQ(WorkingFiles(folder.Path()), std::vector<std::string>{});
    std::map<std::string, uintmax_t> partBytes;  // merged file -> its finished segments' bytes
    for (const auto& segment : done) partBytes[segment.Merged] += segment.Size;
    std::set<std::string> mergedParts;
    for (const auto& segment : done) {
      ++finished;
      if (fs::exists(segment.File)) {
        EXPECT_EQ(zvtest::FileSha256(segment.File), expectedSha(segment.Path)) << segment.File;
        continue;
      }
      // Only a merge that completed takes segments away: the merged file holds all their tags.
      mergedParts.insert(segment.Merged);
      ASSERT_TRUE(fs::is_regular_file(segment.Merged)) << segment.File;
      EXPECT_GE(fs::file_size(segment.Merged) + 1024 * kSegments, partBytes[segment.Merged]) << segment.Merged;
    }
    merged += int(mergedParts.size());
    form.reset();
  }
  std::cout << "close soak: closed in";
  for (const auto& [phase, count] : closedIn) std::cout << " " << phase << " " << count << ",";
  std::cout << " longest close " << std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()
            << " ms, mean " << std::chrono::duration_cast<std::chrono::milliseconds>(total).count() / std::max(rounds, 1)
            << " ms; " << finished << " finished segments kept or merged, " << merged << " parts merged, "
            << binderCut << " binders stopped mid-merge" << std::endl;
}
