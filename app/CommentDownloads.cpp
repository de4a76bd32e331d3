// Comment downloads: each listed part's comment list fetched from the API host into memory,
// inflated and written as an XML file; refusals by the site stop the whole run when chk2 says so.
#include <new>

#include "app/AppFiles.h"
#include "app/CommentFiles.h"
#include "app/MainForm.h"
#include "app/TextRoutines.h"

namespace {

constexpr const char* kWaiting = "等待";
constexpr const char* kTransferring = "正在下载";
constexpr const char* kDone = "完成";
constexpr const char* kErrors = "错误";
constexpr const char* kStopped = "停止";
constexpr const char* kRestricted = "受限制";
constexpr const char* kUnknownError = "未知错误";
constexpr const char* kNotStored = "转存失败";
constexpr int kName = 0;
constexpr int kStatus = 1;
// The site answers with this status while it refuses comment downloads.
constexpr int32_t kRefused = 412;

bool WaitsOrRuns(const std::string& aStatus) { return aStatus == kWaiting || aStatus == kTransferring; }

}  // namespace

void TForm1::N9Click(TMenuItem* Sender) { AddCommentDownloads(true); }

void TForm1::XML1Click(TMenuItem* Sender) { AddCommentDownloads(false); }

void TForm1::AddCommentDownloads(bool aSelectedOnly) {
  if (lv2.Count() == 0) return;
  const int total = lv2.Count();
  const int earlier = lv4.Count();
  for (int i = 0; i < total; ++i) {
    if (aSelectedOnly && !lv2.Selected(i)) continue;
    std::string number;
    if (chk1.Checked()) number = lv2.ItemCaption(i) == "×" ? PadNumber(total, i) : lv2.ItemCaption(i);
    const std::string name = CommentFileName(lv2.SubItem(i, 0), number);
    lv4.Add("", {name, kWaiting});
    TclDownLoadItem* item = clMdloader3.DownLoadList().Add();
    item->SetThreadCount(1);
    item->SetLocalFile(FSaveFolder + name);
    item->SetURL(FSite.ApiHost + "/x/v1/dm/list.so?oid=" + lv2.SubItem(i, 1));
    item->SetHttpRequest(&clhtprqst1);
  }
  for (int row = 0; row < lv4.Count(); ++row) lv4.SetItemCaption(row, std::to_string(row + 1));
  XmlStoppedByLimit = false;
  // Rows that wait or transfer are in the control's hands already; an item still ending its run
  // is left alone too (it cannot be started before it has ended).
  for (int row = 0; row < lv4.Count(); ++row)
    if ((row >= earlier || !WaitsOrRuns(lv4.SubItem(row, kStatus))) && !CommentItem(row)->IsBusy())
      CommentItem(row)->Start();
}

void TForm1::clMdloader3StatusChanged(TclMultiInternetControl* Sender, TclInternetItem* Item, TclProcessStatus Status) {
  const int row = Item->Index();
  switch (Status) {
    case psUnknown: lv4.SetSubItem(row, kStatus, kWaiting); break;
    case psSuccess: lv4.SetSubItem(row, kStatus, kDone); break;
    case psErrors: lv4.SetSubItem(row, kStatus, kErrors); break;
    case psTerminated: lv4.SetSubItem(row, kStatus, kStopped); break;
    case psProcess:
      // The reply is collected in memory; the file is written from it at the end.
      if (!Item->DataStream()) {
        try {
          auto reply = std::make_unique<TMemoryStream>();
          Item->SetDataStream(reply.get());
          FCommentReplies[Item] = std::move(reply);
        } catch (const std::bad_alloc&) {
          SetCaption("这里出问题！！！");
        }
      }
      lv4.SetSubItem(row, kStatus, kTransferring);
      break;
    case psFailed: break;  // the error event has written the row's text
  }
}

void TForm1::clMdloader3Error(TclMultiInternetControl* Sender, TclInternetItem* Item, const std::string& Error,
                              int32_t ErrorCode) {
  if (ErrorCode != kRefused) {
    lv4.SetSubItem(Item->Index(), kStatus, kUnknownError);
    return;
  }
  lv4.SetSubItem(Item->Index(), kStatus, kRestricted);
  // The stop runs outside this event, once.
  if (chk2.Checked() && !XmlStoppedByLimit) tmr3.SetEnabled(true);
}

void TForm1::tmr3Timer(TTimer* Sender) {
  tmr3.SetEnabled(false);
  XmlStoppedByLimit = true;
  StopCommentDownloads();
}

void TForm1::clMdloader3ProcessCompleted(TclMultiInternetControl* Sender, TclInternetItem* Item) {
  std::unique_ptr<TMemoryStream> reply;
  if (auto found = FCommentReplies.find(Item); found != FCommentReplies.end()) {
    reply = std::move(found->second);
    FCommentReplies.erase(found);
  }
  Item->SetDataStream(nullptr);
  const int row = Item->Index();
  std::string xml;
  if (Item->ResourceState().LastStatus() == psSuccess && reply && DecodeCommentReply(reply->Data(), xml) &&
      ReplaceFile(Item->LocalFile(), xml)) {
    lv5.Add(lv4.SubItem(row, kName), {Item->LocalFile()});
    lv4.Delete(row);
    delete Item;
    return;
  }
  // A restart fetches the list from its beginning. A reply that could not be stored is no success.
  if (Item->ResourceState().LastStatus() == psSuccess) lv4.SetSubItem(row, kStatus, kNotStored);
  Item->ResourceState().Clear();
}

void TForm1::btn4Click(TButton* Sender) {
  if (lv4.Count() == 0) return;
  XmlStoppedByLimit = false;
  const bool busy = clMdloader3.IsBusy();
  for (int row = 0; row < lv4.Count(); ++row) {
    if (busy && WaitsOrRuns(lv4.SubItem(row, kStatus))) continue;
    lv4.SetSubItem(row, kStatus, kWaiting);
    if (!CommentItem(row)->IsBusy()) CommentItem(row)->Start();
  }
}

void TForm1::btn5Click(TButton* Sender) {
  if (lv4.Count() > 0) StopCommentDownloads();
}

void TForm1::StopCommentDownloads() {
  if (clMdloader3.IsBusy()) clMdloader3.Stop();
  while (clMdloader3.IsBusy()) FPlatform.WaitForEvents(50);
  for (int row = 0; row < lv4.Count(); ++row)
    if (WaitsOrRuns(lv4.SubItem(row, kStatus))) lv4.SetSubItem(row, kStatus, kStopped);
}

void TForm1::btn3Click(TButton* Sender) {
  if (clMdloader3.IsBusy()) clMdloader3.Stop();
  while (clMdloader3.IsBusy()) FPlatform.WaitForEvents(50);
  clMdloader3.DownLoadList().ClearAndResetID();
  FCommentReplies.clear();
  lv4.Clear();
  lv5.Clear();
}

void TForm1::N11Click(TMenuItem* Sender) { lv5.Clear(); }
