#include "app/MainForm.h"

#include "app/AppFiles.h"
#include "app/GatFlv.h"

namespace {

// The product's download page, shown in the hint line under the listing.
constexpr const char* kUpdateAddress = "https://zentavo-downloader.github.io/download";

constexpr const char* kBinderNotWritten = "Flv合并程序释放失败，下载的分段视频将无法自动合并！";
constexpr const char* kBinderMissing = "软件在启动时不能正常释放Flv合并程序，分段视频无法自动合并！";

// The user agent of the download controls' requests.
constexpr const char* kDesktopAgent =
    "Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/70.0.3538.110 "
    "Safari/537.36";

std::string WithSeparator(std::string aFolder) {
  if (aFolder.empty() || aFolder.back() != '/') aFolder += '/';
  return aFolder;
}

}  // namespace

TForm1::TForm1(TAppPlatform& aPlatform, TSiteSettings aSite)
    : TControl("Form1", std::string(ApplicationTitle) + " v" + Version),
      tmr1(aPlatform, 1000),
      tmr2(aPlatform, 1000),
      tmr3(aPlatform, 500),
      FPlatform(aPlatform),
      FSite(std::move(aSite)) {
  edt2.SetReadOnly(true);
  cbb4.SetItems({"1080p", "720p", "480p", "360p"});
  cbb4.SetItemIndex(0);
  cbb4.SetHint("先设置后“解析”，解析得到的清晰度不一定和设置一样，要看视频有没有这个分辨率。");
  chk1.SetChecked(true);
  lv2.SetPopupMenu(&pm1);
  edt3.SetReadOnly(true);
  edt3.SetText(std::string("按Ctrl键可多选，下载过程支持断点续传，软件更新地址：") + kUpdateAddress + "      【请勿商用】");

  cbb1.SetItems({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "15", "20"});
  cbb1.SetItemIndex(2);
  cbb2.SetItems({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"});
  cbb2.SetItemIndex(4);
  cbb3.SetItems({"偏低（下载线程在系统中优先权限低，先给其它线程让道）", "正常（下载线程在系统中由系统正常调度）",
                 "最高（下载线程在系统中优先权限最高，系统内核级别）"});
  cbb3.SetItemIndex(1);
  chk3.SetChecked(true);
  chk3.OnClick = [this](TCheckBox* aSender) { chk3Click(aSender); };
  lv1.SetPopupMenu(&pm2);
  lv3.OnInsert = [this](TListView* aSender, int aIndex) { lv3Insert(aSender, aIndex); };
  tmr2.OnTimer = [this](TTimer* aSender) { tmr2Timer(aSender); };

  chk2.SetChecked(true);
  clMdloader3.SetInternetAgent(kDesktopAgent);
  clMdloader3.SetReconnectAfter(2000);
  clMdloader3.SetMaxStartedItems(10);
  clMdloader3.OnStatusChanged = [this](TclMultiInternetControl* aSender, TclInternetItem* aItem,
                                       TclProcessStatus aStatus) { clMdloader3StatusChanged(aSender, aItem, aStatus); };
  clMdloader3.OnError = [this](TclMultiInternetControl* aSender, TclInternetItem* aItem, const std::string& aError,
                               int32_t aCode) { clMdloader3Error(aSender, aItem, aError, aCode); };
  clMdloader3.OnProcessCompleted = [this](TclMultiInternetControl* aSender, TclInternetItem* aItem) {
    clMdloader3ProcessCompleted(aSender, aItem);
  };
  tmr3.OnTimer = [this](TTimer* aSender) { tmr3Timer(aSender); };
  N9.OnClick = [this](TMenuItem* aSender) { N9Click(aSender); };
  XML1.OnClick = [this](TMenuItem* aSender) { XML1Click(aSender); };
  btn4.OnClick = [this](TButton* aSender) { btn4Click(aSender); };
  btn5.OnClick = [this](TButton* aSender) { btn5Click(aSender); };
  btn3.OnClick = [this](TButton* aSender) { btn3Click(aSender); };
  N11.OnClick = [this](TMenuItem* aSender) { N11Click(aSender); };
  lv5.SetPopupMenu(&pm3);
  // A finished comment file also looks at the merge queue.
  lv5.OnInsert = [this](TListView* aSender, int aIndex) { lv3Insert(aSender, aIndex); };

  pnl6.SetVisible(false);
  img1.SetHint("点击二维码关闭捐助窗口");

  btn1.OnClick = [this](TButton* aSender) { btn1Click(aSender); };
  btn2.OnClick = [this](TButton* aSender) { btn2Click(aSender); };
  edt1.OnMouseDown = [this](TEdit* aSender, TMouseButton aButton, int X, int Y) { edt1MouseDown(aSender, aButton, X, Y); };
  lbl7.OnClick = [this](TLabel* aSender) { lbl7Click(aSender); };
  img1.OnClick = [this](TImage* aSender) { img1Click(aSender); };
  clhtprqst1.Header().SetAccept("*/*");
  clhtprqst1.Header().SetReferer(FSite.MainAddress);
  clhtp1.SetRequest(&clhtprqst1);
  clhtp1.SetUserAgent("Mozilla/5.0 (iPhone; CPU iPhone OS 9_1 like Mac OS X)");

  clMdloader2.SetInternetAgent(kDesktopAgent);
  clMdloader2.SetReconnectAfter(2000);
  clMdloader2.SetMaxStartedItems(10);
  clMdloader2.OnIsBusyChanged = [this](TclCustomInternetControl* aSender) { clMdloader2IsBusyChanged(aSender); };
  clMdloader2.OnStatusChanged = [this](TclMultiInternetControl* aSender, TclInternetItem* aItem,
                                       TclProcessStatus aStatus) { clMdloader2StatusChanged(aSender, aItem, aStatus); };
  clMdloader2.OnProcessCompleted = [this](TclMultiInternetControl* aSender, TclInternetItem* aItem) {
    clMdloader2ProcessCompleted(aSender, aItem);
  };

  clMdloader1.SetInternetAgent(kDesktopAgent);
  clMdloader1.OnIsBusyChanged = [this](TclCustomInternetControl* aSender) { clMdloader1IsBusyChanged(aSender); };
  clMdloader1.OnStatusChanged = [this](TclMultiInternetControl* aSender, TclInternetItem* aItem,
                                       TclProcessStatus aStatus) { clMdloader1StatusChanged(aSender, aItem, aStatus); };
  clMdloader1.OnDataItemProceed = [this](TclMultiInternetControl* aSender, TclInternetItem* aItem,
                                         TclResourceInfo* aInfo, TclResourceStateItem* aState, const char* aData,
                                         int32_t aSize) {
    clMdloader1DataItemProceed(aSender, aItem, aInfo, aState, aData, aSize);
  };
  clMdloader1.OnProcessCompleted = [this](TclMultiInternetControl* aSender, TclInternetItem* aItem) {
    clMdloader1ProcessCompleted(aSender, aItem);
  };
  tmr1.OnTimer = [this](TTimer* aSender) { tmr1Timer(aSender); };

  using TMenuHandler = void (TForm1::*)(TMenuItem*);
  const std::pair<TMenuItem*, TMenuHandler> commands[] = {
      {&N1, &TForm1::N1Click}, {&N2, &TForm1::N2Click}, {&N3, &TForm1::N3Click}, {&N4, &TForm1::N4Click},
      {&N5, &TForm1::N5Click}, {&N6, &TForm1::N6Click}, {&N7, &TForm1::N7Click}, {&N8, &TForm1::N8Click}};
  for (const auto& command : commands)
    command.first->OnClick = [this, handler = command.second](TMenuItem* aSender) { (this->*handler)(aSender); };
  lv1.OnDblClick = [this](TListView* aSender) { lv1DblClick(aSender); };
  using TComboHandler = void (TForm1::*)(TComboBox*);
  const std::pair<TComboBox*, TComboHandler> settings[] = {
      {&cbb1, &TForm1::cbb1Change}, {&cbb2, &TForm1::cbb2Change}, {&cbb3, &TForm1::cbb3Change}};
  for (const auto& setting : settings)
    setting.first->OnChange = [this, handler = setting.second](TComboBox* aSender) { (this->*handler)(aSender); };
}

TForm1::~TForm1() {
  // The comment items go first, with their events: the window is half gone by then.
  clMdloader3.OnStatusChanged = nullptr;
  clMdloader3.OnError = nullptr;
  clMdloader3.OnProcessCompleted = nullptr;
  clMdloader3.DownLoadList().Clear();
  if (MergeThread) {
    Closing = true;
    KillBinderProcesses();
    delete MergeThread;
  }
  // The other two controls stop and wait for their items as they go, without their events.
  for (TclMultiDownLoader* control : {&clMdloader1, &clMdloader2}) {
    control->OnIsBusyChanged = nullptr;
    control->OnStatusChanged = nullptr;
    control->OnDataItemProceed = nullptr;
    control->OnProcessCompleted = nullptr;
  }
  // Play requests still running write into reply buffers that go with the window.
  clMdloader2.DownLoadList().Clear();
}

void TForm1::SetSaveFolder(const std::string& aValue) {
  FSaveFolder = aValue;
  edt2.SetText(aValue);
}

std::string TForm1::AppFolder() { return WithSeparator(FPlatform.ExecutableFolder()); }

std::string TForm1::StartSaveFolder() {
  // Files downloaded into an installed program's folder would fail, or land in a system folder.
  std::string downloads = FPlatform.UserDownloadFolder();
  if (FolderWritable(AppFolder()) || downloads.empty()) return AppFolder();
  return WithSeparator(downloads);
}

bool TForm1::BinderFilesPresent() {
  return FileExists(AppFolder() + BinderProgram) && FileExists(AppFolder() + BinderLibrary);
}

void TForm1::FormCreate() {
  SetSaveFolder(StartSaveFolder());
  clMdloader1.SetMaxStartedItems(DownloadLimitShown());

  // The binder files are written only where missing: a copy already there is never replaced.
  struct TBinderFile {
    const char* Resource;
    const char* FileName;
    bool Executable;
  };
  for (const auto& file : {TBinderFile{"flvexe", BinderProgram, true}, TBinderFile{"flvdll", BinderLibrary, false}}) {
    std::string path = AppFolder() + file.FileName;
    std::string data;
    if (!FileExists(path) && FPlatform.LoadResource(file.Resource, data)) WriteNewFile(path, data, file.Executable);
  }
  if (!BinderFilesPresent()) {
    chk3.SetChecked(false);
    FPlatform.ShowMessage(kBinderNotWritten);
  }
}

void TForm1::chk3Click(TCheckBox* Sender) {
  if (chk3.Checked() && !BinderFilesPresent()) {
    chk3.SetChecked(false);
    FPlatform.ShowMessage(kBinderMissing);
  }
}
