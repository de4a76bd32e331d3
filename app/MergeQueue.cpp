// The merge queue lv3: parts whose segments are all on disk wait here and are joined one at a time.
#include "app/GatFlv.h"
#include "app/MainForm.h"

namespace {

constexpr const char* kWaiting = "等待";
constexpr const char* kMerging = "正在合并";
constexpr int kFolder = 0;
constexpr int kCount = 1;
constexpr int kStatus = 2;

}  // namespace

void TForm1::lv3Insert(TListView* Sender, int aIndex) { tmr2.SetEnabled(true); }

void TForm1::tmr2Timer(TTimer* Sender) {
  tmr2.SetEnabled(false);
  if (lv3.Count() == 0 || MergeThread || Closing) return;
  for (int i = 0; i < lv3.Count(); ++i) {
    if (lv3.SubItem(i, kStatus) != kWaiting) continue;
    lv3.SetSubItem(i, kStatus, kMerging);
    int count = 0;
    try {
      count = std::stoi(lv3.SubItem(i, kCount));
    } catch (const std::exception&) {  // not a number: the binder refuses the call
    }
    MergeThread = new GatFlv(*this, lv3.SubItem(i, kFolder), lv3.ItemCaption(i), count,
                             [this](GatFlv* aSender) { MergeFinished(aSender); });
    return;
  }
}

void TForm1::MergeFinished(GatFlv* Sender) {
  if (!Closing) {
    for (int i = lv3.Count() - 1; i >= 0; --i)
      if (lv3.SubItem(i, kStatus) == kMerging) {
        lv3.Delete(i);
        break;
      }
    KillBinderProcesses();
    tmr2.SetEnabled(true);
  }
  MergeThread = nullptr;
}

std::string TForm1::BinderPath() { return AppFolder() + BinderProgram; }

std::shared_ptr<TclChildProcess> TForm1::StartBinder(const std::string& aBinder, const std::vector<std::string>& aArgs) {
  return FBinders.Start(aBinder, aArgs);
}

bool TForm1::IsBinderRunning() { return FBinders.AnyRunning(); }

void TForm1::KillBinderProcesses() { FBinders.TerminateAll(); }
