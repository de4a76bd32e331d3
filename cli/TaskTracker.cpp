#include "cli/TaskTracker.h"

#include <algorithm>

#include "app/AppFiles.h"
#include "app/DownloadNames.h"
#include "app/TextRoutines.h"
#include "cli/EventChain.h"

namespace {

constexpr int kName = 0;            // the name column of the listing and of the download lists
constexpr int kAddresses = 2;       // the listing's segment addresses
constexpr int kCommentStatus = 1;   // the comment list's status column

// A status the server answered with, or else the engine's own words.
std::string ErrorText(const std::string& aError, int32_t aCode) {
  return aCode >= 100 && aCode < 600 ? "HTTP " + std::to_string(aCode) : aError;
}

int AddressCount(const std::string& aAddresses) {
  return aAddresses.empty() ? 0 : static_cast<int>(std::count(aAddresses.begin(), aAddresses.end(), '|')) + 1;
}

}  // namespace

TTaskTracker::TTaskTracker(TForm1& aForm, TProgressView& aView) : FForm(aForm), FView(aView) { WatchEvents(); }

TTaskTracker::~TTaskTracker() {
  // Unhooked in the reverse order of hooking.
  while (!FChains.empty()) FChains.pop_back();
}

void TTaskTracker::WatchEvents() {
  auto& videos = FForm.clMdloader1;
  FChains.push_back(MakeEventChain(videos.OnStatusChanged, {},
                                   {[this](TclMultiInternetControl*, TclInternetItem* aItem, TclProcessStatus aStatus) {
                                     VideoStatusChanged(aItem, aStatus);
                                   }}));
  FChains.push_back(MakeEventChain(
      videos.OnDataItemProceed, {},
      {[this](TclMultiInternetControl*, TclInternetItem* aItem, TclResourceInfo*, TclResourceStateItem*, const char*,
              int32_t) { VideoProceeded(aItem); }}));
  FChains.push_back(MakeEventChain(videos.OnError,
                                   {[this](TclMultiInternetControl*, TclInternetItem* aItem, const std::string& aError,
                                           int32_t aCode) {
                                     if (auto found = FSegments.find(aItem->ID()); found != FSegments.end())
                                       found->second.LastError = ErrorText(aError, aCode);
                                   }},
                                   {}));
  // The window frees a finished item in its handler: what the item was is taken before.
  FChains.push_back(MakeEventChain(videos.OnProcessCompleted,
                                   {[this](TclMultiInternetControl*, TclInternetItem* aItem) {
                                     FCompletingId = aItem->ID();
                                     FCompletingStatus = aItem->ResourceState().LastStatus();
                                     FCompletingFile = aItem->LocalFile();
                                   }},
                                   {[this](TclMultiInternetControl*, TclInternetItem*) { VideoCompleted(); }}));
  FChains.push_back(MakeEventChain(FForm.clMdloader3.OnProcessCompleted,
                                   {[this](TclMultiInternetControl*, TclInternetItem* aItem) { FCompletingId = aItem->ID(); }},
                                   {[this](TclMultiInternetControl*, TclInternetItem*) { CommentCompleted(); }}));
}

std::string TTaskTracker::PartLabel(int aRow) const {
  // The caption of a part without play addresses is "×": the number is the row's own.
  std::string number = PadNumber(FForm.lv2.Count(), aRow);
  std::string name = FForm.lv2.SubItem(aRow, kName);
  return name == number ? number : number + " " + name;
}

void TTaskTracker::VideosAdded(const std::vector<int>& aRows, int aFirstItem) {
  TclDownLoadList& items = FForm.clMdloader1.DownLoadList();
  int next = aFirstItem;
  for (int row : aRows) {
    TPart part;
    part.Label = PartLabel(row);
    const int count = AddressCount(FForm.lv2.SubItem(row, kAddresses));
    if (count == 0) part.Reason = "无法获取播放地址";
    for (int i = 0; i < count && next < items.Count(); ++i, ++next) {
      TclDownLoadItem* item = items.Items(next);
      TSegment& segment = FSegments[item->ID()];
      segment.Part = FParts.size();
      segment.Name = FForm.lv1.SubItem(next, kName);
      segment.File = item->LocalFile();
      part.Segments.push_back(item->ID());
      // The merge tag is "N|base"; the merged file is base.flv beside the segments.
      const std::string& tag = item->UserName();
      if (count > 1 && FForm.chk3.Checked() && tag.find('|') != std::string::npos) {
        part.MergeWanted = true;
        part.Base = tag.substr(tag.find('|') + 1);
        part.Folder = FolderOf(item->LocalFile());
      }
    }
    FParts.push_back(std::move(part));
  }
}

void TTaskTracker::CommentsAdded(const std::vector<int>& aRows, int aFirstItem) {
  TclDownLoadList& items = FForm.clMdloader3.DownLoadList();
  int next = aFirstItem;
  for (int row : aRows) {
    if (next >= items.Count()) break;
    TclDownLoadItem* item = items.Items(next++);
    TComment& comment = FComments[item->ID()];
    comment.Label = PartLabel(row) + " 的弹幕";
    comment.File = item->LocalFile();
  }
}

void TTaskTracker::VideoStatusChanged(TclInternetItem* aItem, TclProcessStatus aStatus) {
  auto found = FSegments.find(aItem->ID());
  if (found == FSegments.end() || aStatus != psProcess) return;
  TSegment& segment = found->second;
  // A repeated download has just been given a free name (with "（n）").
  segment.Name = FForm.lv1.SubItem(aItem->Index(), kName);
  segment.File = static_cast<TclDownLoadItem*>(aItem)->LocalFile();
  if (segment.State == TState::tsWaiting) FView.Event("开始下载：" + segment.Name);
  segment.State = TState::tsRunning;
}

void TTaskTracker::VideoProceeded(TclInternetItem* aItem) {
  auto found = FSegments.find(aItem->ID());
  if (found == FSegments.end()) return;
  const TclResourceStateList& state = aItem->ResourceState();
  found->second.Total = state.ResourceSize();
  found->second.Done = state.BytesProceed();
  found->second.Speed = state.Speed();
}

void TTaskTracker::VideoCompleted() {
  auto found = FSegments.find(FCompletingId);
  if (found == FSegments.end()) return;
  TSegment& segment = found->second;
  segment.Speed = 0;
  if (FCompletingStatus == psSuccess) {
    const std::string final = WithoutExtension(FCompletingFile);
    if (FileExists(final)) {
      segment.State = TState::tsSaved;
      segment.File = final;
      segment.Done = segment.Total;
      FView.Event("已完成：" + FileNameOf(final));
    } else {
      // Another file took the final name meanwhile; the data stays in the working file.
      segment.State = TState::tsFailed;
      segment.Reason = "下载完成，但无法改名为 " + FileNameOf(final);
      FView.Event("改名失败：" + segment.Name + "（" + segment.Reason + "）");
    }
  } else if (FCompletingStatus == psFailed || FCompletingStatus == psErrors) {
    segment.State = TState::tsFailed;
    segment.Reason = segment.LastError.empty() ? "下载失败" : "下载失败（" + segment.LastError + "）";
    FView.Event("下载失败：" + segment.Name + "（" + segment.Reason + "）");
  } else {
    segment.State = TState::tsWaiting;  // stopped; it stays in the list
  }
}

void TTaskTracker::CommentCompleted() {
  auto found = FComments.find(FCompletingId);
  if (found == FComments.end()) return;
  TComment& comment = found->second;
  TclInternetItem* item = ItemById(FForm.clMdloader3, FCompletingId);
  if (item) {
    // The window keeps an item that did not end in a written file; its row tells why.
    comment.State = TState::tsFailed;
    comment.Reason = FForm.lv4.SubItem(item->Index(), kCommentStatus);
    FView.Event("弹幕下载失败：" + comment.Label + "（" + comment.Reason + "）");
  } else if (FileExists(comment.File)) {
    comment.State = TState::tsSaved;
    FView.Event("弹幕已保存：" + FileNameOf(comment.File));
  } else {
    // The window lists a reply that was not deflate data as done, without a file.
    comment.State = TState::tsFailed;
    comment.Reason = "弹幕内容无法解压，未写入文件";
    FView.Event("弹幕下载失败：" + comment.Label + "（" + comment.Reason + "）");
  }
}

TclInternetItem* TTaskTracker::ItemById(TclMultiDownLoader& aControl, int32_t aId) {
  TclDownLoadList& items = aControl.DownLoadList();
  for (int32_t i = 0; i < items.Count(); ++i)
    if (items.Item(i)->ID() == aId) return items.Item(i);
  return nullptr;
}

bool TTaskTracker::Active(TclMultiDownLoader& aControl, int32_t aId) const {
  TclInternetItem* item = ItemById(aControl, aId);
  return item && (item->IsBusy() || aControl.IsQueued(item));
}

bool TTaskTracker::Ended() const {
  for (const auto& [id, segment] : FSegments)
    if ((segment.State == TState::tsWaiting || segment.State == TState::tsRunning) && Active(FForm.clMdloader1, id))
      return false;
  for (const auto& [id, comment] : FComments)
    if (comment.State == TState::tsWaiting && Active(FForm.clMdloader3, id)) return false;
  return FForm.lv3.Count() == 0 && FForm.MergeThread == nullptr;
}

bool TTaskTracker::MergeQueued(const TPart& aPart) const {
  for (int row = 0; row < FForm.lv3.Count(); ++row)
    if (FForm.lv3.ItemCaption(row) == aPart.Base && FForm.lv3.SubItem(row, 0) == aPart.Folder) return true;
  return false;
}

bool TTaskTracker::AllSegmentsSaved(const TPart& aPart) const {
  for (int32_t id : aPart.Segments)
    if (FSegments.at(id).State != TState::tsSaved) return false;
  return true;
}

void TTaskTracker::WatchMerges() {
  for (TPart& part : FParts) {
    if (!part.MergeWanted || part.MergeReported) continue;
    const bool queued = MergeQueued(part);
    if (queued && !part.Merging) FView.Event("等待合并：" + part.Base);
    part.Merging = queued;
    // The window queues a part as its last segment is saved, and a short merge can come and go
    // between two looks: a part with every segment saved and no row any more has been merged.
    if (queued || !AllSegmentsSaved(part)) continue;
    const std::string merged = part.Folder + part.Base + ".flv";
    FView.Event(FileExists(merged) ? "已合并：" + part.Base + ".flv" : "合并失败：" + part.Base + "（分段文件保留）");
    part.MergeReported = true;
  }
}

void TTaskTracker::ShowProgress() {
  WatchMerges();
  std::vector<TSegmentProgress> running;
  TOverallProgress overall;
  overall.SizesKnown = true;
  for (const auto& [id, segment] : FSegments) {
    ++overall.Segments;
    if (segment.State == TState::tsSaved) ++overall.SegmentsSaved;
    if (segment.State == TState::tsRunning) running.push_back({segment.Name, segment.Done, segment.Total, segment.Speed});
    overall.Done += segment.Done;
    overall.Total += segment.Total;
    if (segment.Total == 0 && segment.State != TState::tsFailed) overall.SizesKnown = false;
  }
  FRate.Sample(overall.Done);
  overall.Speed = FRate.Rate();
  FView.Update(running, overall);
}

void TTaskTracker::SettlePart(TPart& aPart, bool aInterrupted) {
  if (!aPart.Reason.empty()) return;
  const int count = static_cast<int>(aPart.Segments.size());
  for (int i = 0; i < count; ++i) {
    const TSegment& segment = FSegments.at(aPart.Segments[i]);
    if (segment.State == TState::tsSaved) continue;
    std::string which = count > 1 ? "第 " + std::to_string(i + 1) + " 段" : "";
    std::string reason = segment.State == TState::tsFailed ? segment.Reason : aInterrupted ? "已中断" : "未下载";
    aPart.Reason = which.empty() ? reason : which + reason;
    return;
  }
  if (aPart.MergeWanted) {
    bool segmentsLeft = false;
    for (int i = 1; i <= count; ++i) segmentsLeft |= FileExists(aPart.Folder + SegmentFileName(aPart.Base, count, i));
    if (segmentsLeft || !FileExists(aPart.Folder + aPart.Base + ".flv")) {
      aPart.Reason = aInterrupted ? "已中断，未合并，分段文件保留" : "未能合并，分段文件保留";
      return;
    }
  }
  aPart.Saved = true;
}

void TTaskTracker::Settle(bool aInterrupted) {
  WatchMerges();
  for (TPart& part : FParts) SettlePart(part, aInterrupted);
  for (auto& [id, comment] : FComments) {
    if (comment.State != TState::tsWaiting) continue;
    comment.State = TState::tsFailed;
    // An item stopped in the start queue (all comment downloads stopped after a refusal) has a
    // row that says so.
    TclInternetItem* item = ItemById(FForm.clMdloader3, id);
    std::string status = item ? FForm.lv4.SubItem(item->Index(), kCommentStatus) : "";
    comment.Reason = aInterrupted ? "已中断" : status.empty() ? "未下载" : status;
  }
}

int TTaskTracker::PartsSaved() const {
  return static_cast<int>(std::count_if(FParts.begin(), FParts.end(), [](const TPart& p) { return p.Saved; }));
}

int TTaskTracker::CommentsSaved() const {
  return static_cast<int>(std::count_if(FComments.begin(), FComments.end(),
                                        [](const auto& c) { return c.second.State == TState::tsSaved; }));
}

std::vector<TUnsaved> TTaskTracker::Unsaved() const {
  std::vector<TUnsaved> unsaved;
  for (const TPart& part : FParts)
    if (!part.Saved) unsaved.push_back({part.Label, part.Reason});
  for (const auto& [id, comment] : FComments)
    if (comment.State != TState::tsSaved) unsaved.push_back({comment.Label, comment.Reason});
  return unsaved;
}
