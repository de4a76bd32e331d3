#include "cli/DownloadRun.h"

#include <chrono>
#include <exception>
#include <filesystem>

#include "app/TextRoutines.h"
#include "cli/ExitStatus.h"
#include "cli/TaskTracker.h"

namespace {

namespace fs = std::filesystem;

constexpr int kName = 0, kAddresses = 2, kQuality = 3, kSegmentCount = 4;  // the listing's columns

}  // namespace

TDownloadRun::TDownloadRun(TForm1& aForm, const TCliOptions& aOptions, TProgressView& aView, std::ostream& aOut,
                           std::ostream& aErrors, std::function<bool()> aStopRequested)
    : FForm(aForm),
      FOptions(aOptions),
      FView(aView),
      FOut(aOut),
      FErrors(aErrors),
      FStopRequested(std::move(aStopRequested)) {}

int TDownloadRun::Execute() {
  try {
    return RunSteps();
  } catch (const std::exception& e) {
    FView.Finish();
    FErrors << "zentavo-dl: 出现意外错误：" << e.what() << "\n";
    // What still runs is stopped and its working files go, as far as the window can still do it.
    try {
      CloseWindow();
    } catch (const std::exception&) {
    }
    return kExitFailed;
  }
}

int TDownloadRun::RunSteps() {
  FForm.FormCreate();
  if (!ApplySettings()) return kExitUsage;
  const bool listed = ListParts();
  if (FStopRequested()) {
    CloseWindow();
    FErrors << "zentavo-dl: 已中断\n";
    return kExitFailed;
  }
  // A listing that failed has told why through the window's message.
  if (!listed) {
    CloseWindow();
    return kExitFailed;
  }
  if (FOptions.ListOnly) {
    PrintListing();
    CloseWindow();
    return kExitSaved;
  }
  std::vector<int> rows;
  if (!ChosenRows(rows)) {
    CloseWindow();
    return kExitUsage;
  }
  return DownloadChosen(rows);
}

bool TDownloadRun::ApplySettings() {
  std::error_code error;
  fs::path folder = FOptions.SaveFolder.empty() ? fs::current_path(error) : fs::absolute(FOptions.SaveFolder, error);
  if (!error) fs::create_directories(folder, error);
  if (error || !fs::is_directory(folder)) {
    FErrors << "zentavo-dl: 无法使用保存位置 " << FOptions.SaveFolder << "：" << error.message() << "\n";
    return false;
  }
  std::string text = folder.lexically_normal().string();
  if (text.empty() || text.back() != '/') text += '/';
  FForm.SetSaveFolder(text);

  // As a user would set them: the handlers of the download settings run.
  FForm.cbb4.Select(FOptions.QualityIndex);
  FForm.chk1.SetChecked(FOptions.AddNumbers);
  FForm.chk4.SetChecked(FOptions.NumbersOnly);
  const auto& limits = FForm.cbb1.Items();
  for (size_t i = 0; i < limits.size(); ++i)
    if (limits[i] == std::to_string(FOptions.Jobs)) FForm.cbb1.Select(static_cast<int>(i));
  FForm.cbb2.Select(FOptions.Connections - 1);
  if (!FOptions.Merge) FForm.chk3.SetChecked(false);
  return true;
}

template <typename TDone>
bool TDownloadRun::ServeUntil(TDone aDone, const std::function<void()>& aEveryInterval) {
  using TClock = std::chrono::steady_clock;
  auto next = TClock::now();
  while (!aDone()) {
    if (FStopRequested()) return false;
    FForm.Platform().WaitForEvents(kProgressIntervalMs / 4);
    if (aEveryInterval && TClock::now() >= next) {
      aEveryInterval();
      next = TClock::now() + std::chrono::milliseconds(kProgressIntervalMs);
    }
  }
  return true;
}

bool TDownloadRun::ListParts() {
  FForm.edt1.SetText(FOptions.PageAddress);
  FForm.btn1.Click();
  // The button comes back when every part's play address has been asked for.
  ServeUntil([this] { return FForm.btn1.Enabled(); });
  return FForm.lv2.Count() > 0;
}

void TDownloadRun::PrintListing() {
  const int count = FForm.lv2.Count();
  FOut << "共 " << count << " 个视频：\n";
  for (int row = 0; row < count; ++row) {
    FOut << PadNumber(count, row) << "  " << FForm.lv2.SubItem(row, kName);
    if (FForm.lv2.SubItem(row, kAddresses).empty()) {
      FOut << "  ×（无法获取播放地址）\n";
      continue;
    }
    const std::string quality = FForm.lv2.SubItem(row, kQuality);
    FOut << "  " << (quality.empty() ? "未知清晰度" : quality) << "  " << FForm.lv2.SubItem(row, kSegmentCount)
         << " 个分段\n";
  }
  FOut.flush();
}

bool TDownloadRun::ChosenRows(std::vector<int>& aRows) {
  const int count = FForm.lv2.Count();
  for (const TPartRange& range : FOptions.Parts)
    if (range.Last > count) {
      FErrors << "zentavo-dl: 没有第 " << range.Last << " 个视频（共 " << count << " 个）\n";
      return false;
    }
  for (int row = 0; row < count; ++row)
    if (PartChosen(FOptions.Parts, row + 1)) aRows.push_back(row);
  return true;
}

int TDownloadRun::DownloadChosen(const std::vector<int>& aRows) {
  FOut << "共 " << FForm.lv2.Count() << " 个视频，下载其中 " << aRows.size() << " 个，保存到 " << FForm.SaveFolder()
       << "\n";
  FOut.flush();
  TTaskTracker tracker(FForm, FView);
  // From the listing's menu, as a user would: the rows selected, then the commands.
  FForm.lv2.ChangeSelection(aRows, {});
  if (FOptions.Comments != TCommentChoice::ccOnly) {
    const int first = FForm.clMdloader1.DownLoadList().Count();
    FForm.N1.Click();
    tracker.VideosAdded(aRows, first);
  }
  if (FOptions.Comments != TCommentChoice::ccNone) {
    const int first = FForm.clMdloader3.DownLoadList().Count();
    FForm.N9.Click();
    tracker.CommentsAdded(aRows, first);
  }
  const bool interrupted = !ServeUntil([&tracker] { return tracker.Ended(); }, [&tracker] { tracker.ShowProgress(); });
  FView.Finish();
  if (interrupted) FView.Event("正在停止下载，清理临时文件……");
  tracker.Settle(interrupted);
  CloseWindow();
  return Summarise(tracker.PartsSaved(), tracker.CommentsSaved(), tracker.Unsaved(), interrupted);
}

void TDownloadRun::CloseWindow() {
  // No one is asked: the program ends as a window does when the desktop tells it to.
  FForm.Unattended = true;
  bool canClose = true;
  FForm.FormCloseQuery(&FForm, canClose);
}

int TDownloadRun::Summarise(int aSaved, int aComments, const std::vector<TUnsaved>& aUnsaved, bool aInterrupted) {
  std::string saved;
  if (FOptions.Comments != TCommentChoice::ccOnly) saved = std::to_string(aSaved) + " 个视频";
  if (FOptions.Comments != TCommentChoice::ccNone) {
    if (!saved.empty()) saved += "、";
    saved += std::to_string(aComments) + " 个弹幕文件";
  }
  FOut << "已保存 " << saved << "（保存位置：" << FForm.SaveFolder() << "）\n";
  if (!aUnsaved.empty()) {
    FOut << (aInterrupted ? "已中断，" : "") << "未能保存 " << aUnsaved.size() << " 项：\n";
    for (const TUnsaved& unsaved : aUnsaved) FOut << "  " << unsaved.What << "：" << unsaved.Reason << "\n";
  }
  FOut.flush();
  return aUnsaved.empty() && !aInterrupted ? kExitSaved : kExitFailed;
}
