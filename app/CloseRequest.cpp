// The close request: what has to stop before the window closes, in order.
#include "app/AppFiles.h"
#include "app/MainForm.h"

namespace {

constexpr const char* kCloseCaption = "感谢使用";
constexpr const char* kCloseQuestion = "正在下载视频，真的要关闭吗？\r\n本工具不保存任何下载记录！！！";

}  // namespace

void TForm1::FormCloseQuery(TControl* Sender, bool& CanClose) {
  // The request's waits serve events, which may bring another request: that one is refused while
  // this one runs, and once a request has let the window go, later ones let it go at once.
  if (FCloseDone) return;
  if (FCloseRunning) {
    CanClose = false;
    return;
  }
  FCloseRunning = true;
  try {
    CanClose = CloseDownloads();
  } catch (...) {
    FCloseRunning = false;
    throw;
  }
  FCloseRunning = false;
  FCloseDone = CanClose;
}

bool TForm1::CloseDownloads() {
  if (!StopVideoDownloadsToClose()) return false;
  // From here on no merge starts and a running one ends at its next look.
  Closing = true;
  KillBinderProcesses();
  // The merge's end handler arrives through the UI events; the segments stay as they are.
  ProcessEventsUntil([this] { return MergeThread == nullptr; });
  // A merge started just before Closing may have started its binder after the first kill.
  KillBinderProcesses();
  DeleteUnfinishedWorkingFiles();
  // The comment downloads are stopped and both their lists cleared.
  btn3Click(&btn3);
  return true;
}

bool TForm1::StopVideoDownloadsToClose() {
  if (!clMdloader1.IsBusy()) return true;
  // Where no one can answer, the close goes ahead as if the user had said yes.
  if (!Unattended && !FPlatform.AskYesNo(kCloseCaption, kCloseQuestion)) return false;
  StopAllVideoItems();
  return true;
}

void TForm1::DeleteUnfinishedWorkingFiles() {
  // Finished segments left the list with their final names: what is left are working files.
  for (int i = 0; i < clMdloader1.DownLoadList().Count(); ++i) {
    TclDownLoadItem* item = VideoItem(i);
    if (item->ResourceState().LastStatus() != psSuccess) DeleteFileIfExists(item->LocalFile());
  }
}
