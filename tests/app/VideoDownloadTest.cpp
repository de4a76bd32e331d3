// The download tab against the local site with the real engine: segments added from listed
// parts, their rows and files, the commands and the settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/app/VideoDownloadsFixture.h"

namespace {

namespace fs = std::filesystem;

std::string Repeat(const std::string& aText, int aCount) {
  std::string repeated;
  for (int i = 0; i < aCount; ++i) repeated += aText;
  return repeated;
}

}  // namespace

using zvtest::VideoDownloads;

TEST_F(VideoDownloads, OneSegmentDownloadsUnderItsNumberedName) {
  AddPart("003", "Op/en:ing", Segments("101", 1));
  Form.N2.Click();
  ASSERT_EQ(Form.lv1.Count(), 1);
  EXPECT_EQ(Form.lv1.SubItem(0, 0), "003 Opening");
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Form.lv1.Count(), 0);
  EXPECT_EQ(Files(), std::vector<std::string>{"003 Opening.flv"});
  EXPECT_EQ(FileSha256("003 Opening.flv"), SegmentSha256("101", 1));
  EXPECT_EQ(Form.lbl3.Caption(), "剩余：0 个任务");
  EXPECT_EQ(Form.DownSpeed.Caption(), "");
  EXPECT_FALSE(Form.tmr1.Enabled());
  EXPECT_EQ(Form.lv3.Count(), 0);  // one segment: nothing to merge
  for (const auto& request : Site.Requests()) {
    EXPECT_EQ(request["headers"]["Referer"], "https://www.zentavo.com");
    EXPECT_EQ(request["headers"]["Accept"], "*/*");
    EXPECT_EQ(request["headers"]["User-Agent"].get<std::string>().substr(0, 40), "Mozilla/5.0 (Windows NT 6.1; Win64; x64)");
  }
}

TEST_F(VideoDownloads, RowsItemsAndMergeTags) {
  struct TCase {
    bool Numbered, NumbersOnly;
    std::string Caption, Name;
    int Segments;
    std::vector<std::string> Names;
    std::string Tag;
  } cases[] = {
      {true, false, "003", "Opening", 1, {"003 Opening"}, ""},
      {true, false, "007", "Opening", 3, {"007 Opening 3-1", "007 Opening 3-2", "007 Opening 3-3"}, "3|007 Opening"},
      {false, false, "007", "Op|en?ing\n", 2, {"Opening 2-1", "Opening 2-2"}, "2|Opening"},
      {true, true, "05", "05", 3, {"05 3-1", "05 3-2", "05 3-3"}, "3|05"},
  };
  Form.cbb2.Select(2);  // three connections
  for (const auto& c : cases) {
    Form.lv2.Clear();
    Form.chk1.SetChecked(c.Numbered);
    Form.chk4.SetChecked(c.NumbersOnly);
    AddPart(c.Caption, c.Name, Segments("101", c.Segments));
    AddPart("×", "failed part", {});
    AddPart("09", "not resolved yet", {});
    Form.N2.Click();
    EXPECT_EQ(Names(), c.Names) << c.Caption;
    EXPECT_EQ(Captions(), Repeat("〓", c.Segments)) << c.Caption;
    for (int i = 0; i < Form.lv1.Count(); ++i) {
      EXPECT_EQ(Item(i)->LocalFile(), Folder.File(c.Names[i] + ".flv.vtq"));
      EXPECT_EQ(Item(i)->UserName(), c.Tag);
      EXPECT_EQ(Item(i)->ThreadCount(), 3);
      EXPECT_EQ(Item(i)->Priority(), ppNormal);
    }
    Form.N8.Click();
  }
  // Only the selected rows with addresses.
  Form.lv2.Clear();
  Form.chk4.SetChecked(false);
  AddPart("1", "a", Segments("101", 1));
  AddPart("2", "b", Segments("102", 2));
  AddPart("3", "c", Segments("103", 1));
  Form.N1.Click();
  EXPECT_EQ(Form.lv1.Count(), 0) << "nothing selected";
  Select(Form.lv2, {1, 2});
  Form.N1.Click();
  EXPECT_EQ(Names(), (std::vector<std::string>{"2 b 2-1", "2 b 2-2", "3 c"}));
}

TEST_F(VideoDownloads, AFinishedPartIsQueuedForMergingAndARepeatedDownloadIsNumbered) {
  AddPart("007", "Opening", Segments("101", 3));
  Form.N2.Click();
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Files(), (std::vector<std::string>{"007 Opening 3-1.flv", "007 Opening 3-2.flv", "007 Opening 3-3.flv"}));
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(FileSha256("007 Opening 3-" + std::to_string(i) + ".flv"), SegmentSha256("101", i));
  ASSERT_EQ(Form.lv3.Count(), 1);
  EXPECT_EQ(Form.lv3.ItemCaption(0), "007 Opening");
  EXPECT_EQ(Form.lv3.Row(0).SubItems, (std::vector<std::string>{Folder.Path() + "/", "3", "等待"}));

  // The same part again: every segment takes the first free number, and the part is not queued twice.
  Form.N2.Click();
  EXPECT_EQ(Names(), (std::vector<std::string>{"007 Opening 3-1", "007 Opening 3-2", "007 Opening 3-3"}));
  ASSERT_TRUE(ServeUntil([&] { return Form.lv1.Count() == 0 || Form.lv1.SubItem(2, 0) != "007 Opening 3-3"; }));
  ASSERT_TRUE(WaitIdle());
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(FileSha256("007 Opening 3-" + std::to_string(i) + "（1）.flv"), SegmentSha256("101", i));
  EXPECT_EQ(Form.lv3.Count(), 1);

  // With merging off nothing is queued.
  Form.lv3.Clear();
  Form.chk3.SetChecked(false);
  AddPart("008", "Ending", Segments("102", 2));
  Select(Form.lv2, {1});
  Form.N1.Click();
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(fs::exists(Folder.File("008 Ending 2-2.flv")));
  EXPECT_EQ(Form.lv3.Count(), 0);
}

TEST_F(VideoDownloads, RenamedRowsShowTheirNumber) {
  zvtest::WriteFile(Folder.File("003 Opening.flv"), "an earlier download");
  zvtest::WriteFile(Folder.File("003 Opening（1）.flv.vtq"), "");
  AddPart("003", "Opening", Segments("101", 1));
  PaceSegments(20000, 200);
  Form.N2.Click();
  ASSERT_TRUE(WaitRunning(1));
  EXPECT_EQ(Names(), std::vector<std::string>{"003 Opening（2）"});
  PaceSegments(0, 200);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(zvtest::ReadFile(Folder.File("003 Opening.flv")), "an earlier download");
  EXPECT_EQ(FileSha256("003 Opening（2）.flv"), SegmentSha256("101", 1));
}

TEST_F(VideoDownloads, AnAddressWithoutExtensionMakesNoFolders) {
  // The last dot of the address is in a folder name: it is no extension.
  AddPart("1", "Opening", Segments("101", 1, "/v1.2/seg/", ""));
  Form.N2.Click();
  EXPECT_EQ(Item(0)->LocalFile(), Folder.File("1 Opening.vtq"));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Files(), std::vector<std::string>{"1 Opening"});
  EXPECT_EQ(FileSha256("1 Opening"), SegmentSha256("101", 1));
}

TEST_F(VideoDownloads, PausingTheOnlyRunningItemAndResumingIt) {
  PaceSegments(10000);
  AddPart("1", "Opening", Segments("101", 1));
  Form.N2.Click();
  ASSERT_TRUE(WaitProgress(0));
  EXPECT_EQ(Captions(), "►");
  EXPECT_EQ(Form.RunningCount, 1);
  EXPECT_TRUE(Form.tmr1.Enabled());
  // Size written once, a share with two decimals, the engine's speed.
  EXPECT_EQ(Form.lv1.SubItem(0, 1), "194KB");
  EXPECT_TRUE(Form.lv1.SubItem(0, 2).ends_with("%")) << Form.lv1.SubItem(0, 2);
  EXPECT_EQ(Form.lv1.SubItem(0, 2).find('.'), Form.lv1.SubItem(0, 2).size() - 4);
  EXPECT_TRUE(Form.lv1.SubItem(0, 3).ends_with("B/S")) << Form.lv1.SubItem(0, 3);
  ASSERT_TRUE(ServeUntil([&] { return !Form.DownSpeed.Caption().empty(); }));

  Select(Form.lv1, {0});
  Form.N4.Click();
  EXPECT_EQ(Captions(), "‖");
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Captions(), "‖");
  EXPECT_EQ(Form.RunningCount, 0);
  EXPECT_EQ(Form.lbl3.Caption(), "剩余：1 个任务");
  EXPECT_EQ(Form.DownSpeed.Caption(), "");
  EXPECT_TRUE(fs::exists(Folder.File("1 Opening.flv.vtq")));

  // "开始" continues every range where it stopped.
  PaceSegments(0);
  size_t asked = Ranges().size();
  Form.N3.Click();
  EXPECT_EQ(Captions(), "〓");
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Form.lv1.Count(), 0);
  EXPECT_EQ(FileSha256("1 Opening.flv"), SegmentSha256("101", 1, 2000));
  std::vector<std::string> ranges = Ranges();
  std::vector<std::string> resumed(ranges.begin() + asked, ranges.end());
  ASSERT_FALSE(resumed.empty());
  for (const auto& range : resumed) EXPECT_NE(range.substr(0, 8), "bytes=0-") << range;
}

TEST_F(VideoDownloads, LoweringTheLimitSendsTheLastRunningItemsBack) {
  Form.cbb1.Select(4);  // 5 at once
  EXPECT_EQ(Form.clMdloader1.MaxStartedItems(), 5);
  PaceSegments(5000);
  for (int part = 1; part <= 5; ++part) AddPart(std::to_string(part), "p", Segments("10" + std::to_string(part), 1));
  Form.N2.Click();
  ASSERT_TRUE(WaitRunning(5));
  EXPECT_EQ(Captions(), "►►►►►");

  Form.cbb1.Select(1);  // 2 at once: returns once only two transfer
  EXPECT_TRUE(Form.cbb1.Enabled());
  EXPECT_EQ(Form.clMdloader1.MaxStartedItems(), 2);
  EXPECT_LE(Form.RunningCount, 2);
  EXPECT_EQ(Captions(), "►►〓〓〓");

  // The same limit again changes nothing.
  Form.cbb1.Select(1);
  EXPECT_TRUE(Form.cbb1.Enabled());
  EXPECT_EQ(Captions(), "►►〓〓〓");

  // Raising it starts waiting items at once; every item ends whole.
  PaceSegments(0);
  Form.cbb1.Select(9);
  EXPECT_EQ(Form.clMdloader1.MaxStartedItems(), 10);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Form.lv1.Count(), 0);
  for (int part = 1; part <= 5; ++part)
    EXPECT_EQ(FileSha256(std::to_string(part) + " p.flv"), SegmentSha256("10" + std::to_string(part), 1, 2000));
}

TEST_F(VideoDownloads, ConnectionCountChangesOnlyItemsThatNeverTransferred) {
  PaceSegments(10000);
  Site.Configure({{"segment_tags", 2000}, {"faults", {{"*", {{"rate", 10000}}}, {"/seg/102-1.flv", {{"status", 404}}}}}});
  AddPart("1", "partly", Segments("101", 1));
  AddPart("2", "missing", Segments("102", 1));
  Form.N2.Click();
  ASSERT_TRUE(WaitProgress(0));
  Select(Form.lv1, {0});
  Form.N4.Click();
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Captions(), "‖×");
  ASSERT_GT(Item(0)->ResourceState().Count(), 0);
  ASSERT_EQ(Item(1)->ResourceState().Count(), 0);

  Form.cbb2.Select(1);
  EXPECT_EQ(Item(0)->ThreadCount(), 5) << "its ranges were laid out for five";
  EXPECT_EQ(Item(1)->ThreadCount(), 2);
  Form.cbb3.Select(2);
  EXPECT_EQ(Item(0)->Priority(), ppHigher);
  EXPECT_EQ(Item(1)->Priority(), ppHigher);
}

TEST_F(VideoDownloads, ADroppedConnectionFailsTheSegmentAndStartResumesIt) {
  Site.Configure({{"segment_tags", 2000}, {"faults", {{"/seg/101-1.flv", {{"drop_after", 3000}}}}}});
  AddPart("1", "Opening", Segments("101", 1));
  Form.N2.Click();
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Captions(), "×");
  EXPECT_EQ(Form.lbl3.Caption(), "剩余：1 个任务");
  EXPECT_TRUE(fs::exists(Folder.File("1 Opening.flv.vtq")));
  const int64_t kept = Item(0)->ResourceState().BytesProceed();
  EXPECT_GT(kept, 0);

  Site.Configure({{"segment_tags", 2000}});
  size_t asked = Ranges().size();
  Select(Form.lv1, {0});
  Form.N3.Click();
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Form.lv1.Count(), 0);
  EXPECT_EQ(FileSha256("1 Opening.flv"), SegmentSha256("101", 1, 2000));
  std::vector<std::string> ranges = Ranges();
  ASSERT_GT(ranges.size(), asked);
  for (size_t i = asked; i < ranges.size(); ++i) EXPECT_NE(ranges[i].substr(0, 8), "bytes=0-") << ranges[i];
}

TEST_F(VideoDownloads, AMissingSegmentFailsAndADoubleClickRestartsIt) {
  Site.Configure({{"faults", {{"/seg/101-2.flv", {{"status", 404}}}}}});
  AddPart("1", "Opening", Segments("101", 2));
  Form.N2.Click();
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Captions(), "×");
  EXPECT_EQ(Names(), std::vector<std::string>{"1 Opening 2-2"});
  EXPECT_EQ(Form.lv3.Count(), 0) << "one segment is missing";

  Site.Configure(nlohmann::json::object());
  Select(Form.lv1, {0});
  Form.lv1.DblClick();
  EXPECT_EQ(Captions(), "〓");
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Form.lv1.Count(), 0);
  EXPECT_EQ(FileSha256("1 Opening 2-2.flv"), SegmentSha256("101", 2));
  EXPECT_EQ(Form.lv3.Count(), 1);
}

TEST_F(VideoDownloads, PauseAllPausesWaitingRowsToo) {
  Form.cbb1.Select(0);  // one at a time
  PaceSegments(10000);
  AddPart("1", "Opening", Segments("101", 3));
  Form.N2.Click();
  ASSERT_TRUE(WaitRunning(1));
  EXPECT_EQ(Captions(), "►〓〓");
  Form.N6.Click();
  EXPECT_FALSE(Form.clMdloader1.IsBusy());
  EXPECT_EQ(Captions(), "‖‖‖");
  // Nothing runs now: start all queues them again under the limit.
  PaceSegments(0);
  Form.N5.Click();
  ASSERT_TRUE(ServeUntil([&] { return Form.lv1.Count() < 3; }));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Form.lv1.Count(), 0);
  EXPECT_EQ(Form.lv3.Count(), 1);
}

TEST_F(VideoDownloads, DeleteAndClearRemoveOnlyWorkingFiles) {
  zvtest::WriteFile(Folder.File("keep.flv.vtq.flv"), "not ours");
  AddPart("1", "done", Segments("100", 1));
  Form.N2.Click();
  ASSERT_TRUE(WaitIdle());
  Site.Configure({{"segment_tags", 2000}, {"faults", {{"/seg/101-1.flv", {{"drop_after", 3000}}}, {"*", {{"rate", 10000}}}}}});
  AddPart("2", "failed", Segments("101", 1));
  AddPart("3", "paused", Segments("102", 1));
  AddPart("4", "running", Segments("103", 1));
  Select(Form.lv2, {1, 2, 3});
  Form.N1.Click();
  ASSERT_TRUE(ServeUntil([&] { return Form.lv1.ItemCaption(0) == "×"; }));
  ASSERT_TRUE(WaitProgress(1));
  Select(Form.lv1, {1});
  Form.N4.Click();
  ASSERT_TRUE(ServeUntil([&] { return !Item(1)->IsBusy(); }));
  EXPECT_EQ(Captions(), "×‖►");
  EXPECT_TRUE(fs::exists(Folder.File("2 failed.flv.vtq")));

  // The failed row, and the running one, which is stopped first.
  Select(Form.lv1, {0, 2});
  Form.N7.Click();
  EXPECT_EQ(Names(), std::vector<std::string>{"3 paused"});
  EXPECT_EQ(Form.lbl3.Caption(), "剩余：1 个任务");
  EXPECT_FALSE(fs::exists(Folder.File("2 failed.flv.vtq")));
  EXPECT_FALSE(fs::exists(Folder.File("4 running.flv.vtq")));

  Form.N8.Click();
  EXPECT_EQ(Form.lv1.Count(), 0);
  EXPECT_EQ(Form.lbl3.Caption(), "");
  EXPECT_EQ(Files(), (std::vector<std::string>{"1 done.flv", "keep.flv.vtq.flv"}));
  // Ids start from 0 again.
  Site.Configure(nlohmann::json::object());
  Select(Form.lv2, {0});
  Form.N1.Click();
  EXPECT_EQ(Item(0)->ID(), 0);
  ASSERT_TRUE(WaitIdle());
  Select(Form.lv1, {});
  Form.N7.Click();  // nothing selected, nothing left: no effect
  EXPECT_EQ(Form.lbl3.Caption(), "剩余：0 个任务");
}

TEST_F(VideoDownloads, AVeryLongTitleIsListedDownloadedAndMerged) {
  // 300 characters of three bytes each, with an escaped line break among them.
  std::string title;
  for (int i = 0; i < 300; ++i) title += (i == 5 ? "\\u000a" : "") + std::string("\\u957f");
  const std::string page = "/www.zentavo.com/video/BV1";
  Site.AddPage(page, "{\"title\":\"" + title + "\",\"pages\":[{\"cid\":101,\"part\":\"p\"}]}");
  Site.Configure({{"play", {{"101", {{"segments", 3}, {"order", {3, 1, 2}}}}}}});
  Form.edt1.SetText(Site.Url(page));
  Form.btn1.Click();
  ASSERT_TRUE(ServeUntil([&] { return Form.btn1.Enabled(); }));
  ASSERT_EQ(Form.lv2.SubItem(0, 4), "3");
  Form.N2.Click();
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Form.lv1.Count(), 0);

  ASSERT_EQ(Form.lv3.Count(), 1);
  const std::string base = Form.lv3.ItemCaption(0);
  EXPECT_EQ(base.substr(0, 20), "1 长长长长长长");  // the line break is gone
  std::vector<std::string> files = Files();
  ASSERT_EQ(files.size(), 3u);
  for (int i = 1; i <= 3; ++i) {
    const std::string name = base + " 3-" + std::to_string(i) + ".flv";
    EXPECT_EQ(files[i - 1], name);
    EXPECT_LE(name.size(), 255u);
    EXPECT_EQ(FileSha256(name), SegmentSha256("101", i));
  }

  // The merge queue joins them under the part's name.
  const uintmax_t segmentSize = fs::file_size(Folder.File(files[0]));
  Form.lv3Insert(&Form.lv3, 0);
  ASSERT_TRUE(ServeUntil([&] { return Form.lv3.Count() == 0; }));
  EXPECT_EQ(Files(), std::vector<std::string>{base + ".flv"});
  EXPECT_GT(fs::file_size(Folder.File(base + ".flv")), 2 * segmentSize);
}

TEST_F(VideoDownloads, AFolderChosenWhileDownloadsRunServesOnlyLaterDownloads) {
  Form.cbb1.Select(0);  // one transfers, the other waits
  PaceSegments(20000);
  AddPart("1", "old", Segments("101", 2));
  Form.N2.Click();
  ASSERT_TRUE(WaitProgress(0));
  EXPECT_EQ(Captions(), "►〓");
  zvtest::TempDir chosen;
  Platform.FolderAnswer = chosen.Path();
  Form.btn2.Click();
  ASSERT_EQ(Form.SaveFolder(), chosen.Path() + "/");
  AddPart("2", "new", Segments("102", 1));
  Select(Form.lv2, {1});
  Form.N1.Click();
  EXPECT_EQ(Item(2)->LocalFile(), chosen.File("2 new.flv.vtq"));

  PaceSegments(0);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Files(), (std::vector<std::string>{"1 old 2-1.flv", "1 old 2-2.flv"}));
  for (int i = 1; i <= 2; ++i) EXPECT_EQ(FileSha256("1 old 2-" + std::to_string(i) + ".flv"), SegmentSha256("101", i, 2000));
  EXPECT_EQ(zvtest::FileSha256(chosen.File("2 new.flv")), SegmentSha256("102", 1, 2000));
  // The part is merged where its segments are.
  ASSERT_EQ(Form.lv3.Count(), 1);
  EXPECT_EQ(Form.lv3.SubItem(0, 0), Folder.Path() + "/");
}
