// Video downloads: one item of clMdloader1 and one row of lv1 per segment of the listed parts,
// working files renamed on success, finished parts queued for merging, the row texts and the
// commands of the download tab.
#include <charconv>

#include "app/AppFiles.h"
#include "app/DownloadNames.h"
#include "app/MainForm.h"
#include "app/TextRoutines.h"

namespace {

constexpr const char* kWaiting = "〓";
constexpr const char* kRunning = "►";
constexpr const char* kPaused = "‖";
constexpr const char* kFailed = "×";

std::vector<std::string> SplitAddresses(const std::string& aText) {
  std::vector<std::string> addresses;
  size_t begin = 0;
  for (size_t bar; (bar = aText.find('|', begin)) != std::string::npos; begin = bar + 1)
    addresses.push_back(aText.substr(begin, bar - begin));
  addresses.push_back(aText.substr(begin));
  return addresses;
}

}  // namespace

TclDownLoadItem* TForm1::VideoItem(int aRow) { return clMdloader1.DownLoadList().Items(aRow); }

int TForm1::DownloadLimitShown() const { return std::atoi(cbb1.Text().c_str()); }

// --- adding ------------------------------------------------------------------------------------

void TForm1::N1Click(TMenuItem* Sender) {
  if (lv2.Count() > 0 && lv2.SelCount() > 0) AddVideoDownloads(true);
}

void TForm1::N2Click(TMenuItem* Sender) {
  if (lv2.Count() > 0) AddVideoDownloads(false);
}

void TForm1::AddVideoDownloads(bool aSelectedOnly) {
  const int threads = cbb2.ItemIndex() + 1;
  for (int row = 0; row < lv2.Count(); ++row)
    if ((!aSelectedOnly || lv2.Selected(row)) && !lv2.SubItem(row, 2).empty()) AddPartDownloads(row, threads);
}

void TForm1::AddPartDownloads(int aRow, int aThreads) {
  const std::string number = lv2.ItemCaption(aRow);
  std::string base = number;
  if (!chk4.Checked()) base = (chk1.Checked() ? number + " " : std::string()) + CleanFileName(lv2.SubItem(aRow, 0));
  const std::vector<std::string> addresses = SplitAddresses(lv2.SubItem(aRow, 2));
  const TPartNames names = NameSegments(base, addresses);
  const size_t count = addresses.size();
  for (size_t i = 0; i < count; ++i) {
    const TSegmentName& segment = names.Segments[i];
    int row = lv1.Add(kWaiting, {segment.Name, "", "", ""});
    TclDownLoadItem* item = clMdloader1.DownLoadList().Add();
    try {
      item->SetLocalFile(FSaveFolder + segment.Name + segment.Extension + kWorkingExtension);
      item->SetThreadCount(aThreads);
      item->SetPriority(static_cast<TclProcessPriority>(cbb3.ItemIndex()));
      // Setting the address takes the user name from it, so the merge tag comes after it.
      item->SetURL(addresses[i]);
      if (count > 1) item->SetUserName(std::to_string(count) + "|" + names.Base);
      item->SetHttpRequest(&clhtprqst1);
      item->Start(true);
    } catch (const std::exception&) {
      // An address the engine cannot use: the row stays aligned with its item, shown as failed.
      lv1.SetItemCaption(row, kFailed);
    }
  }
}

// --- engine events ------------------------------------------------------------------------------

void TForm1::clMdloader1StatusChanged(TclMultiInternetControl* Sender, TclInternetItem* Item, TclProcessStatus Status) {
  if (Status != psProcess) return;
  auto* item = static_cast<TclDownLoadItem*>(Item);
  const int row = item->Index();
  lv1.SetItemCaption(row, kRunning);
  // One count per run: a failed range restarted while others run announces the run again.
  if (!FCountedRuns.insert(item).second) return;
  ++RunningCount;
  if (item->ResourceState().Count() > 0) return;  // resumed: the files are its own
  // A fresh download never overwrites: it takes the first free numbered name.
  const std::string final = WithoutExtension(item->LocalFile());
  if (!FileExists(item->LocalFile()) && !FileExists(final)) return;
  TFreeName free = FindFreeName(item->LocalFile());
  item->SetLocalFile(free.WorkingFile);
  lv1.SetSubItem(row, 0, FileNameOf(free.Stem));
}

void TForm1::clMdloader1DataItemProceed(TclMultiInternetControl* Sender, TclInternetItem* Item,
                                        TclResourceInfo* ResourceInfo, TclResourceStateItem* AStateItem,
                                        const char* CurrentData, int32_t CurrentDataSize) {
  BytesThisSecond += CurrentDataSize;
  const int row = Item->Index();
  const TclResourceStateList& state = Item->ResourceState();
  const int64_t total = state.ResourceSize();
  if (lv1.SubItem(row, 1).empty()) lv1.SetSubItem(row, 1, FormatSize(total));
  // A size the server did not tell leaves the progress as it is.
  if (total > 0) lv1.SetSubItem(row, 2, ProgressText(state.BytesProceed(), total));
  lv1.SetSubItem(row, 3, FormatSpeed(state.Speed()));
}

void TForm1::tmr1Timer(TTimer* Sender) {
  DownSpeed.SetCaption(FormatSpeed(static_cast<double>(BytesThisSecond)));
  BytesThisSecond = 0;
}

void TForm1::clMdloader1IsBusyChanged(TclCustomInternetControl* Sender) {
  BytesThisSecond = 0;
  if (clMdloader1.IsBusy()) {
    RunningCount = 0;
    FCountedRuns.clear();
    tmr1.SetEnabled(true);
  } else {
    tmr1.SetEnabled(false);
    DownSpeed.SetCaption("");
    lbl3.SetCaption(lv1.Count() > 0 ? RemainingTasksText() : "下载结束！");
  }
}

void TForm1::clMdloader1ProcessCompleted(TclMultiInternetControl* Sender, TclInternetItem* Item) {
  auto* item = static_cast<TclDownLoadItem*>(Item);
  const TclProcessStatus status = item->ResourceState().LastStatus();
  const int row = item->Index();
  if (FCountedRuns.erase(item) > 0) --RunningCount;
  if (status == psSuccess) {
    lv1.Delete(row);
    // A file that took the final name meanwhile is not replaced: the data stays in the working file.
    const std::string working = item->LocalFile();
    RenameFileNoReplace(working, WithoutExtension(working));
    if (chk3.Checked() && !item->UserName().empty()) QueueMergeWhenComplete(item->UserName(), FolderOf(working));
    delete item;
  } else if (status == psFailed || status == psErrors) {
    lv1.SetItemCaption(row, kFailed);
  }
  lbl3.SetCaption(RemainingTasksText());
}

std::string TForm1::RemainingTasksText() const { return "剩余：" + std::to_string(lv1.Count()) + " 个任务"; }

void TForm1::QueueMergeWhenComplete(const std::string& aTag, const std::string& aFolder) {
  size_t bar = aTag.find('|');
  int count = 0;
  if (bar == std::string::npos || std::from_chars(aTag.data(), aTag.data() + bar, count).ptr != aTag.data() + bar ||
      count < 1)
    return;
  const std::string base = aTag.substr(bar + 1);
  for (int i = 1; i <= count; ++i)
    if (!FileExists(aFolder + SegmentFileName(base, count, i))) return;
  // A part already waiting is not queued twice (a repeated download finds the first set's files).
  for (int row = 0; row < lv3.Count(); ++row)
    if (lv3.ItemCaption(row) == base && lv3.SubItem(row, 0) == aFolder && lv3.SubItem(row, 2) == "等待") return;
  lv3.Add(base, {aFolder, std::to_string(count), "等待"});
}

// --- settings -----------------------------------------------------------------------------------

void TForm1::StopWaitingItems() {
  for (int row = 0; row < lv1.Count(); ++row)
    if (lv1.ItemCaption(row) == kWaiting && !VideoItem(row)->IsBusy()) VideoItem(row)->Stop();
}

void TForm1::RequeueWaitingItems() {
  StopWaitingItems();
  for (int row = 0; row < lv1.Count(); ++row)
    if (lv1.ItemCaption(row) == kWaiting && !VideoItem(row)->IsBusy()) VideoItem(row)->Start(true);
}

bool TForm1::AnyWaitingRowBusy() {
  for (int row = 0; row < lv1.Count(); ++row)
    if (lv1.ItemCaption(row) == kWaiting && VideoItem(row)->IsBusy()) return true;
  return false;
}

void TForm1::cbb1Change(TComboBox* Sender) {
  cbb1.SetEnabled(false);
  const int wanted = DownloadLimitShown();
  if (wanted == clMdloader1.MaxStartedItems()) {
    cbb1.SetEnabled(true);
    return;
  }
  if (!clMdloader1.IsBusy()) {
    clMdloader1.SetMaxStartedItems(wanted);
    cbb1.SetEnabled(true);
    return;
  }
  if (wanted <= RunningCount) {
    StopWaitingItems();
    // The most recently listed running items go back to waiting.
    for (int excess = RunningCount - wanted; excess > 0; --excess) {
      for (int row = lv1.Count() - 1; row >= 0; --row) {
        if (lv1.ItemCaption(row) != kRunning) continue;
        lv1.SetItemCaption(row, kWaiting);
        VideoItem(row)->Stop();
        break;
      }
    }
    // Until the stopped items have ended, so that the queue takes every one of them back.
    ProcessEventsUntil([&] { return RunningCount <= wanted && !AnyWaitingRowBusy(); });
  }
  clMdloader1.SetMaxStartedItems(wanted);
  RequeueWaitingItems();
  cbb1.SetEnabled(true);
}

void TForm1::cbb2Change(TComboBox* Sender) {
  // Items that transferred anything keep the ranges they laid out.
  for (int i = 0; i < clMdloader1.DownLoadList().Count(); ++i) {
    TclDownLoadItem* item = VideoItem(i);
    if (!item->IsBusy() && item->ResourceState().Count() == 0) item->SetThreadCount(cbb2.ItemIndex() + 1);
  }
}

void TForm1::cbb3Change(TComboBox* Sender) {
  for (int i = 0; i < clMdloader1.DownLoadList().Count(); ++i) {
    TclDownLoadItem* item = VideoItem(i);
    if (!item->IsBusy()) item->SetPriority(static_cast<TclProcessPriority>(cbb3.ItemIndex()));
  }
}

// --- commands -----------------------------------------------------------------------------------

void TForm1::StartVideoRows(bool aSelectedOnly) {
  for (int row = 0; row < lv1.Count(); ++row) {
    if (aSelectedOnly && !lv1.Selected(row)) continue;
    const std::string caption = lv1.ItemCaption(row);
    // A paused item still ending its run is left for a later start.
    if (caption == kRunning || caption == kWaiting || VideoItem(row)->IsBusy()) continue;
    lv1.SetItemCaption(row, kWaiting);
    VideoItem(row)->Start(true);
  }
  RequeueWaitingItems();
}

void TForm1::N3Click(TMenuItem* Sender) {
  if (lv1.Count() > 0 && lv1.SelCount() > 0) StartVideoRows(true);
}

void TForm1::N4Click(TMenuItem* Sender) {
  if (lv1.Count() == 0 || lv1.SelCount() == 0) return;
  for (int row = 0; row < lv1.Count(); ++row) {
    if (!lv1.Selected(row)) continue;
    lv1.SetItemCaption(row, kPaused);
    VideoItem(row)->Stop();
  }
}

void TForm1::N5Click(TMenuItem* Sender) {
  if (lv1.Count() > 0) StartVideoRows(false);
}

void TForm1::StopAllVideoItems() {
  if (!clMdloader1.IsBusy()) return;
  clMdloader1.Stop();
  ProcessEventsUntil([&] { return !clMdloader1.IsBusy(); });
}

void TForm1::N6Click(TMenuItem* Sender) {
  if (lv1.Count() == 0) return;
  StopAllVideoItems();
  for (int row = 0; row < lv1.Count(); ++row)
    if (lv1.ItemCaption(row) == kRunning || lv1.ItemCaption(row) == kWaiting) lv1.SetItemCaption(row, kPaused);
}

TclDownLoadItem* TForm1::VideoItemById(int32_t aId) {
  for (int i = 0; i < clMdloader1.DownLoadList().Count(); ++i)
    if (VideoItem(i)->ID() == aId) return VideoItem(i);
  return nullptr;
}

void TForm1::N7Click(TMenuItem* Sender) {
  if (lv1.Count() == 0 || lv1.SelCount() == 0) return;
  // Rows are found again by their items' ids: a completion during a wait may take rows away.
  std::vector<int32_t> chosen;
  for (int row = lv1.Count() - 1; row >= 0; --row)
    if (lv1.Selected(row)) chosen.push_back(VideoItem(row)->ID());
  for (int32_t id : chosen) {
    TclDownLoadItem* item = VideoItemById(id);
    if (!item) continue;
    // A running item, or one still ending its run after a pause, is stopped and waited for.
    if (lv1.ItemCaption(item->Index()) == kRunning || item->IsBusy()) {
      lv1.SetItemCaption(item->Index(), kPaused);
      item->Stop();
      ProcessEventsUntil([&] { return !(item = VideoItemById(id)) || !item->IsBusy(); });
      if (!item) continue;  // it finished before the stop, and left with its row
    }
    lv1.Delete(item->Index());
    DeleteFileIfExists(item->LocalFile());
    delete item;
  }
  lbl3.SetCaption(lv1.Count() > 0 ? RemainingTasksText() : "下载结束！");
}

void TForm1::N8Click(TMenuItem* Sender) {
  if (lv1.Count() == 0) return;
  StopAllVideoItems();
  // Only working files: finished segments have left the list.
  for (int i = 0; i < clMdloader1.DownLoadList().Count(); ++i) DeleteFileIfExists(VideoItem(i)->LocalFile());
  clMdloader1.DownLoadList().ClearAndResetID();
  lv1.Clear();
  lbl3.SetCaption("");
}

void TForm1::lv1DblClick(TListView* Sender) {
  const int row = lv1.FirstSelected();
  if (row < 0) return;
  const std::string caption = lv1.ItemCaption(row);
  if (caption == kRunning || caption == kWaiting) {
    lv1.SetItemCaption(row, kPaused);
    VideoItem(row)->Stop();
  } else if (!VideoItem(row)->IsBusy()) {
    lv1.SetItemCaption(row, kWaiting);
    VideoItem(row)->Start(true);
    RequeueWaitingItems();
  }
}
