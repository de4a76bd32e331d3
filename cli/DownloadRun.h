#pragma once
// One run of zentavo-dl over the window model: the settings of the command line put into the
// window's controls, the listing, the chosen parts' downloads and comment lists started from the
// listing's menu, the wait until all of it has ended (or the user stops it), the window's close,
// and the summary. Returns the exit status.
#include <functional>
#include <ostream>
#include <vector>

#include "app/MainForm.h"
#include "cli/CliOptions.h"
#include "cli/ProgressView.h"
#include "cli/TaskTracker.h"

class TDownloadRun {
public:
  // aStopRequested: the user asked the run to stop (Ctrl-C).
  TDownloadRun(TForm1& aForm, const TCliOptions& aOptions, TProgressView& aView, std::ostream& aOut,
               std::ostream& aErrors, std::function<bool()> aStopRequested);

  int Execute();

  // How often the progress is shown while the run waits.
  static constexpr int kProgressIntervalMs = 200;

private:
  int RunSteps();
  bool ApplySettings();
  // Waits, serving the window's events, until aDone answers true; false when the user stopped first.
  template <typename TDone>
  bool ServeUntil(TDone aDone, const std::function<void()>& aEveryInterval = {});
  bool ListParts();
  void PrintListing();
  bool ChosenRows(std::vector<int>& aRows);
  int DownloadChosen(const std::vector<int>& aRows);
  void CloseWindow();
  int Summarise(int aSaved, int aComments, const std::vector<TUnsaved>& aUnsaved, bool aInterrupted);

  TForm1& FForm;
  const TCliOptions& FOptions;
  TProgressView& FView;
  std::ostream& FOut;
  std::ostream& FErrors;
  std::function<bool()> FStopRequested;
};
