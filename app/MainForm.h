#pragma once
// The main window model: the three tabs' controls with their captions and defaults, the status
// area, the donation panel, the context menus, the timers and the application's state. The
// handlers of each workflow live in units of their own; this one holds start-up.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "app/AppPlatform.h"
#include "app/Controls.h"
#include "app/SiteSettings.h"
#include "engine/clMultiDownLoader.h"
#include "http/clHttp.h"
#include "http/clHttpRequest.h"
#include "platform/clChildProcess.h"

class GatFlv;

class TForm1 : public TControl {
public:
  static constexpr const char* ApplicationTitle = "Zentavo视频下载工具";
  static constexpr const char* Version = "2.9";
  static constexpr const char* BinderProgram = "FlvBind.exe";
  static constexpr const char* BinderLibrary = "FLVLib.dll";
  static constexpr int Width = 780;
  static constexpr int Height = 560;

  explicit TForm1(TAppPlatform& aPlatform, TSiteSettings aSite = {});
  // A merge still running is ended first, without deleting anything; binders still running go;
  // downloads still running are stopped, their events no longer reaching the window.
  ~TForm1() override;

  TAppPlatform& Platform() { return FPlatform; }
  const TSiteSettings& Site() const { return FSite; }

  // Start-up: the save folder, the download limits, the binder files written out of the program.
  void FormCreate();
  void chk3Click(TCheckBox* Sender);

  // Listing: the rows of lv2 from the text of a video page.
  void btn1Click(TButton* Sender);
  // The page's body as UTF-8 text; empty when the request failed in any way.
  std::string FetchPage(const std::string& aAddress);
  // The rows of a fetched page. True when rows were listed: btn1 and lv2 then stay disabled until
  // the rows' play addresses have been asked for.
  bool ListPage(std::string aPage);
  void AddPageRows(std::string_view aPage, const std::string& aTitle);
  void AddEpisodeRows(std::string_view aPage, const std::string& aTitle);

  // Play addresses: one request per row of lv2 (the address for a row's cid follows the page kind
  // and quality of the last listing), and the reply of an ordinary or an episode page written into
  // row aRow ("×" when the reply holds no usable addresses).
  void StartPlayRequests();
  std::string PlayRequestAddress(const std::string& aCid) const;
  void ParsePlayReply(const std::string& aText, int aRow);
  void ParseEpisodePlayReply(const std::string& aText, int aRow);
  void clMdloader2StatusChanged(TclMultiInternetControl* Sender, TclInternetItem* Item, TclProcessStatus Status);
  void clMdloader2ProcessCompleted(TclMultiInternetControl* Sender, TclInternetItem* Item);
  void clMdloader2IsBusyChanged(TclCustomInternetControl* Sender);

  // Video downloads: one item of clMdloader1 and one row of lv1 per segment.
  void N1Click(TMenuItem* Sender);  // the selected parts of lv2
  void N2Click(TMenuItem* Sender);  // all parts of lv2
  void N3Click(TMenuItem* Sender);  // start the selected rows
  void N4Click(TMenuItem* Sender);  // pause the selected rows
  void N5Click(TMenuItem* Sender);  // start all
  void N6Click(TMenuItem* Sender);  // pause all
  void N7Click(TMenuItem* Sender);  // delete the selected rows with their working files
  void N8Click(TMenuItem* Sender);  // clear the list and every working file
  void lv1DblClick(TListView* Sender);
  void cbb1Change(TComboBox* Sender);
  void cbb2Change(TComboBox* Sender);
  void cbb3Change(TComboBox* Sender);
  void tmr1Timer(TTimer* Sender);
  void clMdloader1StatusChanged(TclMultiInternetControl* Sender, TclInternetItem* Item, TclProcessStatus Status);
  void clMdloader1DataItemProceed(TclMultiInternetControl* Sender, TclInternetItem* Item,
                                  TclResourceInfo* ResourceInfo, TclResourceStateItem* AStateItem,
                                  const char* CurrentData, int32_t CurrentDataSize);
  void clMdloader1ProcessCompleted(TclMultiInternetControl* Sender, TclInternetItem* Item);
  void clMdloader1IsBusyChanged(TclCustomInternetControl* Sender);
  // Waiting items taken out of the start queue and queued again, so that they start as far as the
  // current limit allows.
  void RequeueWaitingItems();

  // The save folder command and the folder chooser behind it: the chosen folder with the separator
  // at its end, or empty when the user cancels or picks what is not a folder.
  void btn2Click(TButton* Sender);
  std::string SelectFolder(const std::string& aTitle, const std::string& aStartFolder);
  // A right click on the address field selects the whole address.
  void edt1MouseDown(TEdit* Sender, TMouseButton Button, int X, int Y);
  // "捐助" shows or hides the donation panel, centred; a click on its picture hides it.
  void lbl7Click(TLabel* Sender);
  void img1Click(TImage* Sender);

  // The close request of the window: CanClose arrives true and is cleared when the close is refused
  // (the user answered No while videos download, or another request is still running). Once a
  // request has let the window go, later ones let it go at once without doing anything.
  void FormCloseQuery(TControl* Sender, bool& CanClose);
  // Set when the program ends where no one can answer a question (it was told to terminate, the
  // desktop session ends, a console front-end is interrupted): the close request then asks nothing
  // and stops the downloads as if the user had answered Yes. Set it, then call FormCloseQuery.
  bool Unattended = false;

  // Merge queue: a part in lv3 starts merging about a second after the last change of the queue.
  void lv3Insert(TListView* Sender, int aIndex);
  void tmr2Timer(TTimer* Sender);
  void MergeFinished(GatFlv* Sender);
  // The binder in the program's folder.
  std::string BinderPath();
  // Binder processes this program started (a second copy of the program keeps its own); these
  // three may be called on any thread.
  std::shared_ptr<TclChildProcess> StartBinder(const std::string& aBinder, const std::vector<std::string>& aArgs);
  bool IsBinderRunning();
  void KillBinderProcesses();

  // Comment downloads: one item of clMdloader3 and one row of lv4 per comment file; the replies
  // are inflated and written here.
  void N9Click(TMenuItem* Sender);    // the selected parts of lv2
  void XML1Click(TMenuItem* Sender);  // all parts of lv2
  void btn4Click(TButton* Sender);    // start all
  void btn5Click(TButton* Sender);    // stop all
  void btn3Click(TButton* Sender);    // clear both comment lists
  void N11Click(TMenuItem* Sender);   // clear the finished files' list
  void tmr3Timer(TTimer* Sender);
  void clMdloader3StatusChanged(TclMultiInternetControl* Sender, TclInternetItem* Item, TclProcessStatus Status);
  void clMdloader3Error(TclMultiInternetControl* Sender, TclInternetItem* Item, const std::string& Error,
                        int32_t ErrorCode);
  void clMdloader3ProcessCompleted(TclMultiInternetControl* Sender, TclInternetItem* Item);

  // Always ends with the path separator; edt2 shows it.
  const std::string& SaveFolder() const { return FSaveFolder; }
  void SetSaveFolder(const std::string& aValue);

  // Application state, touched on the UI thread only (Closing is also read by the merge worker).
  int PageKind = 0;  // kind of the page listed last: 0 none, 1 ordinary video page, 2 episode list
  int RunningCount = 0;
  int64_t BytesThisSecond = 0;
  std::atomic<bool> Closing{false};
  GatFlv* MergeThread = nullptr;  // the merge that runs now; it frees itself after MergeFinished
  bool XmlStoppedByLimit = false;
  std::string QualityCode;  // "80", "64", "32" or "16": the quality the last listing asks for

  // Status area above the tabs, and the donation link beside them.
  TLabel lbl3{"lbl3"};
  TLabel DownSpeed{"DownSpeed"};
  TLabel lbl7{"lbl7", "捐助"};

  // Listing tab.
  TControl ts1{"ts1", "〖  解析  flv〗"};
  TEdit edt1{"edt1", "视频地址："};
  TButton btn1{"btn1", "解析"};
  TEdit edt2{"edt2", "保存位置："};
  TButton btn2{"btn2", "浏览"};
  TComboBox cbb4{"cbb4", "优先解析"};
  TCheckBox chk1{"chk1", "下载时添加序号"};
  TCheckBox chk4{"chk4", "文件名用序号代替"};
  TListView lv2{"lv2", {{"№", 50}, {"文件名称", 470}, {"Cid", 0}, {"URL", 0}, {"清晰度", 90}, {"视频个数", 90}}, true};
  TEdit edt3{"edt3"};
  TMenuItem N1{"N1", "下载选中的视频"};
  TMenuItem N2{"N2", "下载全部视频"};
  TMenuItem N9{"N9", "下载选中视频的弹幕（XML）"};
  TMenuItem XML1{"XML1", "下载全部视频的弹幕（XML）"};
  TPopupMenu pm1{"pm1", {&N1, &N2, &N9, &XML1}};

  // Download tab.
  TControl ts2{"ts2", "视频下载管理"};
  TComboBox cbb1{"cbb1", "同时下载的最大任务数："};
  TComboBox cbb2{"cbb2", "每个任务线程数："};
  TComboBox cbb3{"cbb3", "优先等级："};
  TCheckBox chk3{"chk3", "分段视频下载后自动合并"};
  TListView lv1{"lv1", {{"≡", 30}, {"文件名称", 400}, {"大小", 90}, {"进度", 90}, {"速度", 110}}, true};
  TMenuItem N3{"N3", "开始"};
  TMenuItem N4{"N4", "暂停"};
  TMenuItem N5{"N5", "全部开始"};
  TMenuItem N6{"N6", "全部暂停"};
  TMenuItem N7{"N7", "删除"};
  TMenuItem N8{"N8", "全部清空"};
  TPopupMenu pm2{"pm2", {&N3, &N4, &N5, &N6, &N7, &N8}};
  TListView lv3{"lv3", {{"视频名称", 600}, {"路径", 0}, {"视频个数", 0}, {"状态", 120}}, false, "正在合并的视频："};

  // Comment tab.
  TControl ts3{"ts3", "XML弹幕下载管理"};
  TButton btn4{"btn4", "全部开始下载"};
  TButton btn5{"btn5", "全部停止下载"};
  TButton btn3{"btn3", "清空下载列表"};
  TCheckBox chk2{"chk2", "受限制后全部停止下载"};
  TLabel lbl8{"lbl8", "连续下载XML弹幕过多时会触发安全风控策略，一但触发官网就拒绝下载弹幕，可以等待10分钟以后再重试！"};
  TListView lv4{"lv4", {{"№", 50}, {"文件名称", 560}, {"状态", 120}}, false};
  TListView lv5{"lv5", {{"文件名称", 300}, {"保存位置", 430}}, false, "已经下载完成的XML弹幕："};
  TMenuItem N11{"N11", "清空列表"};
  TPopupMenu pm3{"pm3", {&N11}};

  // Donation panel, hidden until "捐助" is clicked.
  TPanel pnl6{"pnl6", (Width - 320) / 2, 90, 320, 400};
  TImage img1{"img1"};
  TLabel lbl9{"lbl9", "捐助是自愿的，表示对本工具的支持；在捐助前需要知道软件可能不会一直更新。"};

  // The request header every request of the program carries, and the client that fetches pages.
  TclHttpRequest clhtprqst1;
  TclHttp clhtp1;

  // Play-address requests, video segments and comment files. Declared after the request object
  // their items use.
  TclMultiDownLoader clMdloader2;
  TclMultiDownLoader clMdloader1;
  TclMultiDownLoader clMdloader3;

  // Speed tick of the video downloads, start of the next merge, stop of the comment downloads.
  TTimer tmr1;
  TTimer tmr2;
  TTimer tmr3;

private:
  std::string AppFolder();
  // The program's folder, or the user's download folder where the program's is not writable.
  std::string StartSaveFolder();
  bool BinderFilesPresent();
  void WritePlayData(const nlohmann::json& aData, int aRow);
  // Waits for UI events (which deliver the engine's) until aDone answers true.
  template <typename TCondition>
  void ProcessEventsUntil(TCondition aDone) {
    while (!aDone()) FPlatform.WaitForEvents(50);
  }

  void AddVideoDownloads(bool aSelectedOnly);
  void AddPartDownloads(int aRow, int aThreads);
  void QueueMergeWhenComplete(const std::string& aTag, const std::string& aFolder);
  void StartVideoRows(bool aSelectedOnly);
  void StopWaitingItems();
  int DownloadLimitShown() const;
  void StopAllVideoItems();
  // The close request's steps; false when the user keeps the window.
  bool CloseDownloads();
  bool StopVideoDownloadsToClose();
  void DeleteUnfinishedWorkingFiles();
  bool AnyWaitingRowBusy();
  std::string RemainingTasksText() const;
  TclDownLoadItem* VideoItem(int aRow);
  TclDownLoadItem* VideoItemById(int32_t aId);

  TAppPlatform& FPlatform;
  bool FCloseRunning = false;  // a close request waits
  bool FCloseDone = false;     // a close request has let the window go
  const TSiteSettings FSite;
  std::string FSaveFolder;
  TclChildProcessList FBinders;
  // The reply buffers of the comment items that transfer.
  std::map<const TclInternetItem*, std::unique_ptr<TMemoryStream>> FCommentReplies;

  void AddCommentDownloads(bool aSelectedOnly);
  // Stops every comment item, waits until none runs, and marks the rows that waited or ran.
  void StopCommentDownloads();
  TclInternetItem* CommentItem(int aRow) { return clMdloader3.DownLoadList().Item(aRow); }
  // The video items whose current run RunningCount counts.
  std::unordered_set<const TclInternetItem*> FCountedRuns;
  // The reply buffers of the play-address requests.
  std::map<const TclInternetItem*, std::unique_ptr<TMemoryStream>> FPlayReplies;
};
