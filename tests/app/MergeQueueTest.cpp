// The merge queue with the real binder over segments made by ffmpeg: parts joined one at a time,
// segments deleted only after a merge that completed, and only this program's binders stopped.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/GatFlv.h"
#include "app/HeadlessPlatform.h"
#include "app/MainForm.h"
#include "tests/support/AppWaits.h"
#include "tests/support/FfmpegTools.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace zvtest;
using TClock = std::chrono::steady_clock;

const std::string kWaiting = "等待";
const std::string kMerging = "正在合并";

// This process's children that run the binder, ended ones not yet reaped included.
std::vector<pid_t> BinderChildren() {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    size_t close = line.rfind(')');
    if (close == std::string::npos || line.find("(FlvBind.exe)") == std::string::npos) continue;
    char state = 0;
    int parent = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == getpid())
      found.push_back(std::stoi(line));
  }
  return found;
}

class MergeQueue : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!HaveFfmpeg()) return;
    Made = new TempDir;
    if (MakeFlv(Made->File("whole.flv"), 3)) Count = CutFlv(Made->File("whole.flv"), Made->File("seg %d.flv"), 1);
  }
  static void TearDownTestSuite() {
    delete Made;
    Made = nullptr;
  }

  MergeQueue() {
    Platform.FolderOfExecutable = AppDir.Path();
    Platform.Resources = zvtest::BuiltBinderResources();
  }
  void SetUp() override {
    if (Count < 2) GTEST_SKIP() << "no ffmpeg to make segments with";
    Form.FormCreate();
  }

  std::string Folder() const { return SaveDir.Path() + "/"; }
  std::string Segment(const std::string& aBase, int aIndex) const {
    return Folder() + aBase + " " + std::to_string(Count) + "-" + std::to_string(aIndex) + ".flv";
  }
  std::string Made_(int aIndex) const { return Made->File("seg " + std::to_string(aIndex) + ".flv"); }

  // Lays the part's segments into the save folder and queues it as a finished download does.
  void AddPart(const std::string& aBase) {
    for (int i = 1; i <= Count; ++i) std::filesystem::copy_file(Made_(i), Segment(aBase, i));
    Form.lv3.Add(aBase, {Folder(), std::to_string(Count), kWaiting});
  }
  // The merged file's name is taken by a pipe that nobody reads: the binder stays in the
  // creation of its output until it is stopped.
  void BlockAtMergedFile(const std::string& aBase) { ASSERT_EQ(mkfifo((Folder() + aBase + ".flv").c_str(), 0600), 0); }
  bool WaitUntil(const std::function<bool()>& aDone, int aTimeoutMs = 30000) {
    return ServeUntil(Platform, aDone, aTimeoutMs);
  }
  bool QueueDrained() { return Form.lv3.Count() == 0 && !Form.MergeThread; }

  // Every segment of the part is still there with the bytes it had.
  void ExpectSegmentsKept(const std::string& aBase) {
    for (int i = 1; i <= Count; ++i) {
      ASSERT_TRUE(FileIsRegular(Segment(aBase, i))) << i;
      EXPECT_TRUE(SameBytes(ReadFile(Segment(aBase, i)), Kept[i])) << i;
    }
  }
  static bool FileIsRegular(const std::string& aPath) { return std::filesystem::is_regular_file(aPath); }
  void KeepCopies(const std::string& aBase) {
    Kept.assign(Count + 1, "");
    for (int i = 1; i <= Count; ++i) Kept[i] = ReadFile(Segment(aBase, i));
  }

  // The merged file plays for the segments' summed length (each join drops at most the last
  // frame, 40 ms at 25 frames a second).
  void ExpectJoined(const std::string& aBase) {
    const std::string merged = Folder() + aBase + ".flv";
    ASSERT_TRUE(FileIsRegular(merged)) << aBase;
    int64_t sum = 0;
    for (int i = 1; i <= Count; ++i) sum += ProbePackets(Made_(i)).Length;
    TPacketTimes joined = ProbePackets(merged);
    EXPECT_EQ(joined.Streams, 2u) << aBase;
    EXPECT_LE(joined.Length, sum) << aBase;
    EXPECT_GE(joined.Length, sum - 40 * (Count - 1)) << aBase;
    EXPECT_NEAR(ProbeDuration(merged), joined.Length, 60) << aBase;
    for (int i = 1; i <= Count; ++i) EXPECT_FALSE(std::filesystem::exists(Segment(aBase, i))) << aBase << " " << i;
    EXPECT_FALSE(std::filesystem::exists(merged + ".$$$"));
  }

  static TempDir* Made;
  static int Count;
  TempDir AppDir;
  TempDir SaveDir;
  std::vector<std::string> Kept;
  THeadlessPlatform Platform;
  TForm1 Form{Platform};
};

TempDir* MergeQueue::Made = nullptr;
int MergeQueue::Count = 0;

TEST(BinderArguments, DestinationFirstThenTheSegmentsInOrderEachOnePath) {
  EXPECT_EQ(GatFlv::BinderArguments("/v/a b/", "03 第1话 x", 3),
            (std::vector<std::string>{"/v/a b/03 第1话 x.flv", "/v/a b/03 第1话 x 3-1.flv", "/v/a b/03 第1话 x 3-2.flv",
                                      "/v/a b/03 第1话 x 3-3.flv"}));
}

TEST_F(MergeQueue, JoinsQueuedPartsOneAfterTheOtherAndDeletesTheirSegments) {
  const std::vector<std::string> bases{"007 Opening", "02 第2话  名字 with spaces"};
  for (const auto& base : bases) AddPart(base);
  ASSERT_TRUE(WaitUntil([&] { return QueueDrained(); }));
  for (const auto& base : bases) ExpectJoined(base);
  EXPECT_TRUE(BinderChildren().empty());
}

TEST_F(MergeQueue, PartCompletedDuringAMergeWaitsAndStartsASecondAfterIt) {
  AddPart("first");
  ASSERT_TRUE(WaitUntil([&] { return Form.MergeThread != nullptr; }));
  EXPECT_EQ(Form.lv3.SubItem(0, 2), kMerging);
  AddPart("second");
  EXPECT_EQ(Form.lv3.SubItem(1, 2), kWaiting);

  ASSERT_TRUE(WaitUntil([&] { return Form.lv3.Count() == 1; }));
  const auto firstDone = TClock::now();
  EXPECT_EQ(Form.MergeThread, nullptr);
  EXPECT_EQ(Form.lv3.ItemCaption(0), "second");
  EXPECT_EQ(Form.lv3.SubItem(0, 2), kWaiting);
  ExpectJoined("first");

  ASSERT_TRUE(WaitUntil([&] { return Form.lv3.SubItem(0, 2) == kMerging; }));
  EXPECT_GE(TClock::now() - firstDone, std::chrono::milliseconds(900));
  ASSERT_TRUE(WaitUntil([&] { return QueueDrained(); }));
  ExpectJoined("second");
}

TEST_F(MergeQueue, MergeThatDidNotCompleteKeepsEverySegment) {
  // Stand-ins for binders that end in the ways a real one can: each leaves its arguments' files
  // as the case says.
  const std::string join = "out=$1; shift; cat \"$@\" > \"$out\"; ";
  const std::string workFile = ": > \"$out.\\$\\$\\$\"; rm \"$out.\\$\\$\\$\"; ";
  struct {
    const char* Name;
    std::string Binder;  // empty: the real one
    bool BadSecondSegment;
  } cases[] = {
      {"a segment that is no FLV", "", true},
      {"no binder in the program's folder", "-", false},
      {"a binder that fails after writing", "#!/bin/sh\n" + join + workFile + "exit 4\n", false},
      {"success without the metadata rewrite", "#!/bin/sh\n" + join + "exit 0\n", false},
      {"success with a short file (disk full)", "#!/bin/sh\nout=$1; printf FLV > \"$out\"; " + workFile + "exit 0\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string binder = AppDir.File("FlvBind.exe");
    if (!c.Binder.empty()) {
      unlink(binder.c_str());
      if (c.Binder != "-") {
        WriteFile(binder, c.Binder);
        chmod(binder.c_str(), 0755);
      }
    }
    const std::string base = std::string("part ") + c.Name;
    AddPart(base);
    if (c.BadSecondSegment) WriteFile(Segment(base, 2), "not an flv file at all");
    KeepCopies(base);
    ASSERT_TRUE(WaitUntil([&] { return QueueDrained(); }));
    ExpectSegmentsKept(base);
    EXPECT_TRUE(BinderChildren().empty());
  }
}

TEST_F(MergeQueue, BinderKilledFromOutsideKeepsTheSegments) {
  AddPart("killed");
  BlockAtMergedFile("killed");
  KeepCopies("killed");
  std::vector<pid_t> binders;
  ASSERT_TRUE(WaitUntil([&] { return (binders = BinderChildren()).size() == 1; }));
  kill(binders[0], SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return QueueDrained(); }));
  ExpectSegmentsKept("killed");
  EXPECT_TRUE(BinderChildren().empty());
}

TEST_F(MergeQueue, ClosingWhileMergingStopsTheBinderAndKeepsTheSegments) {
  AddPart("closing");
  BlockAtMergedFile("closing");
  KeepCopies("closing");
  ASSERT_TRUE(WaitUntil([&] { return BinderChildren().size() == 1; }));
  bool canClose = true;
  Form.FormCloseQuery(&Form, canClose);
  EXPECT_TRUE(canClose);
  EXPECT_EQ(Form.MergeThread, nullptr);
  EXPECT_TRUE(BinderChildren().empty()) << "terminated and reaped";
  EXPECT_EQ(Form.lv3.Count(), 1);
  EXPECT_EQ(Form.lv3.SubItem(0, 2), kMerging);
  EXPECT_FALSE(Form.tmr2.Enabled());
  ExpectSegmentsKept("closing");
  EXPECT_EQ(std::filesystem::status(Folder() + "closing.flv").type(), std::filesystem::file_type::fifo)
      << "a file that held the name before the merge stays";
}

TEST_F(MergeQueue, ClosingWhileMergingRemovesThePartialMergedFile) {
  // A stand-in binder that has written part of the join and its work file, then waits to be stopped.
  const std::string binder = AppDir.File("FlvBind.exe");
  unlink(binder.c_str());
  WriteFile(binder, "#!/bin/sh\nout=$1; head -c 100 \"$2\" > \"$out\"; : > \"$out.\\$\\$\\$\"\n"
                    "while :; do sleep 0.1; done\n");
  chmod(binder.c_str(), 0755);
  AddPart("cut");
  KeepCopies("cut");
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(Folder() + "cut.flv.$$$"); }));
  bool canClose = true;
  Form.FormCloseQuery(&Form, canClose);
  EXPECT_TRUE(canClose);
  EXPECT_FALSE(std::filesystem::exists(Folder() + "cut.flv"));
  EXPECT_FALSE(std::filesystem::exists(Folder() + "cut.flv.$$$"));
  ExpectSegmentsKept("cut");
}

TEST_F(MergeQueue, WindowDestroyedDuringAMergeEndsItWithoutDeletingAnything) {
  auto form = std::make_unique<TForm1>(Platform);
  form->FormCreate();
  for (int i = 1; i <= Count; ++i) std::filesystem::copy_file(Made_(i), Segment("gone", i));
  BlockAtMergedFile("gone");
  KeepCopies("gone");
  form->lv3.Add("gone", {Folder(), std::to_string(Count), kWaiting});
  ASSERT_TRUE(WaitUntil([&] { return BinderChildren().size() == 1; }));
  form.reset();
  EXPECT_TRUE(BinderChildren().empty());
  ExpectSegmentsKept("gone");
}

TEST_F(MergeQueue, BindersOfAnotherCopyOfTheProgramAreLeftAlone) {
  // Another copy's merge, held in the creation of its output.
  const std::string output = SaveDir.File("other copy.flv");
  ASSERT_EQ(mkfifo(output.c_str(), 0600), 0);
  ChildProcess other({BinDir() + "/FlvBind.exe", output, Made_(1), Made_(2)});

  EXPECT_FALSE(Form.IsBinderRunning());
  Form.KillBinderProcesses();
  AddPart("ours");
  ASSERT_TRUE(WaitUntil([&] { return QueueDrained(); }));
  ExpectJoined("ours");
  EXPECT_NE(ProcessState(other.Pid()), 'Z') << "the other copy's binder still runs";
  EXPECT_EQ(BinderChildren(), std::vector<pid_t>{other.Pid()});
}

TEST_F(MergeQueue, FinishedCommentFileLooksAtAnEmptyQueueAndStartsNothing) {
  Form.lv5.Add("01 x.xml", {Folder() + "01 x.xml"});
  EXPECT_TRUE(Form.tmr2.Enabled());
  ASSERT_TRUE(WaitUntil([&] { return !Form.tmr2.Enabled(); }));
  EXPECT_EQ(Form.MergeThread, nullptr);
}

}  // namespace
