#include <gtest/gtest.h>

#include <thread>

#include "app/Controls.h"
#include "app/HeadlessPlatform.h"

namespace {

// Records what a bound view is told.
struct TViewLog {
  explicit TViewLog(TControl& aControl) {
    aControl.OnViewChange = [this](TControl*, const TControlChange& aChange) { Changes.push_back(aChange); };
  }
  std::vector<TControlChange> Changes;
};

}  // namespace

TEST(Controls, ListViewKeepsRowsAndTellsTheView) {
  TListView list("lv", {{"№", 40}, {"名称", 100}, {"Cid", 0}}, true);
  TViewLog view(list);
  std::vector<int> inserted;
  list.OnInsert = [&](TListView*, int aIndex) { inserted.push_back(aIndex); };

  EXPECT_EQ(list.Add("1", {"a", "100"}), 0);
  EXPECT_EQ(list.Add("2", {"b"}), 1);
  EXPECT_EQ(inserted, (std::vector<int>{0, 1}));
  list.SetSubItem(1, 1, "200");  // a sub-item the row did not have yet
  EXPECT_EQ(list.SubItem(1, 1), "200");
  list.SetSubItem(1, 1, "200");  // unchanged: no notification
  list.SetSubItem(0, 2, "beyond the columns");
  list.SetItemCaption(5, "no such row");
  EXPECT_EQ(list.SubItem(0, 2), "");
  EXPECT_EQ(list.ItemCaption(5), "");

  list.SetSelected(0, true);
  list.SetSelected(1, true);
  EXPECT_EQ(list.SelCount(), 2);
  list.Delete(0);
  EXPECT_EQ(list.ItemCaption(0), "2");
  EXPECT_EQ(list.FirstSelected(), 0);
  list.Clear();
  list.Clear();
  EXPECT_EQ(list.Count(), 0);

  using K = TChangeKind;
  std::vector<std::pair<K, int>> expected = {{K::ckRowInserted, 0}, {K::ckRowInserted, 1}, {K::ckRowChanged, 1},
                                             {K::ckSelection, 0},   {K::ckSelection, 1},   {K::ckRowDeleted, 0},
                                             {K::ckRowsCleared, -1}};
  ASSERT_EQ(view.Changes.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(view.Changes[i].Kind, expected[i].first) << i;
    EXPECT_EQ(view.Changes[i].Row, expected[i].second) << i;
  }
}

TEST(Controls, SingleSelectionListSelectsOneRow) {
  TListView list("lv", {{"№", 40}}, false);
  list.Add("1", {});
  list.Add("2", {});
  list.Add("3", {});
  list.SetSelected(0, true);
  list.SetSelected(1, true);
  EXPECT_FALSE(list.Selected(0));
  EXPECT_EQ(list.SelCount(), 1);
  list.ChangeSelection({2, 0, 9}, {});  // the last row that exists wins
  EXPECT_EQ(list.FirstSelected(), 0);
  EXPECT_EQ(list.SelCount(), 1);
}

namespace {

std::vector<int> SelectedRows(const TListView& aList) {
  std::vector<int> rows;
  for (int row = 0; row < aList.Count(); ++row)
    if (aList.Selected(row)) rows.push_back(row);
  return rows;
}

}  // namespace

TEST(Controls, ManyRowsChangeSelectionInOneNotification) {
  TListView list("lv", {{"№", 40}}, true);
  for (int i = 0; i < 1000; ++i) list.Add(std::to_string(i), {});
  TViewLog view(list);
  std::vector<int> all(1000);
  for (int i = 0; i < 1000; ++i) all[i] = i;
  list.ChangeSelection(all, {});
  EXPECT_EQ(list.SelCount(), 1000);
  list.ChangeSelection({5, -1, 1000}, all);  // deselecting comes first; bad rows are ignored
  EXPECT_EQ(SelectedRows(list), std::vector<int>{5});
  list.ChangeSelection({5}, {});  // no change, no notification
  list.ChangeSelection({7}, {5});
  list.ChangeSelection({}, {7});
  ASSERT_EQ(view.Changes.size(), 4u);
  for (const auto& change : view.Changes) EXPECT_EQ(change.Kind, TChangeKind::ckSelection);
  // The view hears which row when only one changed.
  EXPECT_EQ(view.Changes[0].Row, -1);
  EXPECT_EQ(view.Changes[1].Row, -1);
  EXPECT_EQ(view.Changes[2].Row, -1);
  EXPECT_EQ(view.Changes[3].Row, 7);
}

TEST(Controls, RowsComingAndGoingKeepTheSelectionOfTheOthers) {
  TListView list("lv", {{"№", 40}}, true);
  for (int i = 0; i < 5; ++i) list.Add(std::to_string(i), {});
  list.ChangeSelection({1, 3}, {});
  list.Delete(2);  // unselected
  EXPECT_EQ(SelectedRows(list), (std::vector<int>{1, 2}));
  EXPECT_EQ(list.ItemCaption(2), "3");
  list.Add("5", {});
  EXPECT_EQ(SelectedRows(list), (std::vector<int>{1, 2}));
  list.Delete(1);  // selected
  EXPECT_EQ(SelectedRows(list), std::vector<int>{1});
  list.Delete(0);
  EXPECT_EQ(SelectedRows(list), std::vector<int>{0});
  EXPECT_EQ(list.ItemCaption(0), "3");
}

TEST(Controls, UserActionsRunHandlersOnlyOnEnabledControls) {
  int clicks = 0, changes = 0;
  TButton button("btn", "Go");
  button.OnClick = [&](TButton*) { ++clicks; };
  button.Click();
  button.SetEnabled(false);
  button.Click();
  EXPECT_EQ(clicks, 1);

  TComboBox combo("cbb");
  combo.SetItems({"1", "2", "3"});
  combo.OnChange = [&](TComboBox*) { ++changes; };
  combo.SetItemIndex(1);   // by the program: no handler
  combo.SetItemIndex(7);   // out of range: ignored
  EXPECT_EQ(combo.Text(), "2");
  combo.Select(1);         // the user picks the item already shown
  combo.Select(2);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(combo.Text(), "3");
  combo.SetEnabled(false);
  combo.Select(0);
  EXPECT_EQ(changes, 2);
}

TEST(Controls, CheckBoxRunsItsHandlerOnEveryChangeOfTheTick) {
  TCheckBox box("chk", "合并");
  std::vector<bool> seen;
  box.OnClick = [&](TCheckBox* aSender) { seen.push_back(aSender->Checked()); };
  box.SetChecked(true);
  box.SetChecked(true);
  box.Click();
  EXPECT_EQ(seen, (std::vector<bool>{true, false}));
}

TEST(HeadlessPlatform, TimersRunWhileTheUiThreadWaits) {
  THeadlessPlatform platform;
  TTimer repeating(platform, 5);
  int ticks = 0;
  repeating.OnTimer = [&](TTimer* aSender) {
    if (++ticks == 3) aSender->SetEnabled(false);
  };
  repeating.SetEnabled(true);
  bool once = false;
  platform.StartTimer(1, false, [&] { once = true; });
  while (repeating.Enabled()) platform.WaitForEvents(1000);
  EXPECT_EQ(ticks, 3);
  EXPECT_TRUE(once);
}

TEST(HeadlessPlatform, WaitingServesMessagesFromOtherThreads) {
  THeadlessPlatform platform;
  bool arrived = false;
  auto& pump = TclMessagePump::Current();
  std::thread sender([&] { pump.Send([&] { arrived = true; }); });
  while (!arrived) platform.WaitForEvents(1000);
  sender.join();
  EXPECT_TRUE(arrived);
}
