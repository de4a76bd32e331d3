#include "engine/clResourceState.h"

#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

namespace {

using TRanges = std::vector<std::pair<int64_t, int64_t>>;  // (ResourcePos, BytesToProceed)

TRanges RangesOf(const TclResourceStateList& aList) {
  TRanges ranges;
  for (int32_t i = 0; i < aList.Count(); ++i) ranges.emplace_back(aList.Items(i).ResourcePos(), aList.Items(i).BytesToProceed());
  return ranges;
}

}  // namespace

TEST(TclResourceStateList, InitCutsTheResourceIntoConsecutiveRanges) {
  struct {
    int64_t Threads, Size;
    TRanges Expected;
  } cases[] = {
      {3, 10, {{0, 3}, {3, 3}, {6, 4}}},
      {5, 100000, {{0, 20000}, {20000, 20000}, {40000, 20000}, {60000, 20000}, {80000, 20000}}},
      {1, 5000, {{0, 5000}}},
      {1, 0, {{0, 0}}},
      {2, -1, {{0, 0}, {0, 0}}},
      {4, 3, {{0, 1}, {1, 1}, {2, 1}}},  // never a range of length 0, which would mean everything
  };
  for (auto& c : cases) {
    TclResourceStateList list;
    list.Init(c.Threads, c.Size);
    EXPECT_EQ(RangesOf(list), c.Expected) << c.Threads << " x " << c.Size;
    EXPECT_EQ(list.ResourceSize(), c.Size);
  }
}

TEST(TclResourceStateList, InitOnAListWithRangesResumesThem) {
  TclResourceStateList list;
  list.Init(2, 100);
  list.UpdateProceed(&list.Items(0), 30);
  list.UpdateStatus(&list.Items(1), psTerminated);
  list.UpdateStatus(nullptr, psFailed);

  list.Init(5, 1000);
  EXPECT_EQ(RangesOf(list), (TRanges{{0, 50}, {50, 50}}));
  EXPECT_EQ(list.ResourceSize(), 100);
  EXPECT_EQ(list.Items(0).BytesProceed(), 30);
  // Only the statistics and statuses start again; the earlier bytes are not speed.
  EXPECT_EQ(list.Items(1).Status(), psUnknown);
  EXPECT_EQ(list.LastStatus(), psUnknown);
  list.UpdateProceed(&list.Items(1), 0);
  EXPECT_EQ(list.Speed(), 0);
}

TEST(TclResourceStateList, LastStatusRanksTheRanges) {
  struct {
    std::vector<TclProcessStatus> Ranges;
    TclProcessStatus ListLevel, Expected;
  } cases[] = {
      {{psSuccess, psFailed, psProcess}, psUnknown, psProcess},
      {{psSuccess, psFailed}, psUnknown, psFailed},
      {{psErrors, psTerminated}, psUnknown, psTerminated},
      {{psErrors, psSuccess}, psSuccess, psErrors},
      {{psTerminated, psFailed}, psSuccess, psTerminated},
      {{}, psFailed, psFailed},
      {{psSuccess, psSuccess}, psUnknown, psSuccess},
      {{psSuccess, psUnknown}, psFailed, psFailed},
      {{psUnknown}, psUnknown, psUnknown},
  };
  for (auto& c : cases) {
    TclResourceStateList list;
    for (TclProcessStatus status : c.Ranges) list.Add().SetStatus(status);
    list.UpdateStatus(nullptr, c.ListLevel);
    EXPECT_EQ(list.LastStatus(), c.Expected) << c.Ranges.size() << " ranges, list level " << int(c.ListLevel);
  }
}

TEST(TclResourceStateList, ItemsIgnoreNegativeCountsAndReportChanges) {
  TclResourceStateList list;
  int changes = 0;
  list.OnChanged = [&](TclResourceStateList* aSender) {
    EXPECT_EQ(aSender, &list);
    ++changes;
  };
  TclResourceStateItem& item = list.Add();
  EXPECT_EQ(item.ResourceState(), &list);
  item.SetResourcePos(10);
  item.SetBytesToProceed(20);
  item.SetBytesProceed(5);
  const int afterSetting = changes;
  item.SetResourcePos(-1);
  item.SetBytesToProceed(-1);
  item.SetBytesProceed(-5);
  list.UpdateProceed(&item, -5);
  EXPECT_EQ(item.ResourcePos(), 10);
  EXPECT_EQ(item.BytesToProceed(), 20);
  EXPECT_EQ(item.BytesProceed(), 5);
  EXPECT_EQ(changes, afterSetting + 1);  // the statistics update alone

  TclResourceStateList copy;
  copy.SetResourceSize(1);
  copy.Add();
  copy.Assign(list);
  EXPECT_EQ(copy.Count(), 1);
  EXPECT_EQ(copy.Items(0).ResourcePos(), 10);
  EXPECT_EQ(copy.Items(0).BytesProceed(), 5);
  EXPECT_EQ(copy.ResourceSize(), 0);

  list.UpdateStatus(nullptr, psFailed);
  changes = 0;
  list.Clear();
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(list.LastStatus(), psUnknown);  // an emptied list starts over
}

TEST(TclResourceStateList, StatisticsCountOnlyNewBytes) {
  TclResourceStateList list;
  list.Init(2, 1000);
  list.UpdateProceed(&list.Items(0), 100);
  list.InitStatistic();  // a restart: the 100 bytes were there before
  EXPECT_EQ(list.RemainingTime(), 0);

  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  list.UpdateProceed(&list.Items(1), 300);
  EXPECT_EQ(list.BytesProceed(), 400);
  ASSERT_GE(list.ElapsedTime(), 0.02);
  EXPECT_NEAR(list.Speed() * list.ElapsedTime(), 300, 1e-6);
  EXPECT_NEAR(list.RemainingTime(), 600 / list.Speed(), 1e-9);

  TclResourceStateList unknownSize;
  unknownSize.Init(1, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  unknownSize.UpdateProceed(&unknownSize.Items(0), 500);
  EXPECT_GT(unknownSize.Speed(), 0);
  EXPECT_EQ(unknownSize.RemainingTime(), 0);
}
