#pragma once
// The platform without a window, for tests and tools: messages, questions and folder choices are
// recorded, questions and the folder chooser get preset answers, timers run whenever the UI thread
// processes its pending events.
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/AppPlatform.h"

class THeadlessPlatform : public TAppPlatform {
public:
  // Serves the calling thread's message pump and timers from then on; that thread is the UI thread.
  THeadlessPlatform();
  ~THeadlessPlatform() override;

  void ShowMessage(const std::string& aText) override;
  bool AskYesNo(const std::string& aCaption, const std::string& aText) override;
  std::string ChooseFolder(const std::string& aTitle, const std::string& aStartFolder) override;
  int StartTimer(int aIntervalMs, bool aRepeat, std::function<void()> aHandler) override;
  void StopTimer(int aTimerId) override;
  void WaitForEvents(int aMaxWaitMs) override;
  std::string ExecutableFolder() override { return FolderOfExecutable; }
  std::string UserDownloadFolder() override { return DownloadFolder; }
  bool LoadResource(const std::string& aName, std::string& aData) override;

  std::string FolderOfExecutable;
  std::string DownloadFolder;
  std::map<std::string, std::string> Resources;
  std::vector<std::string> Messages;
  std::vector<std::pair<std::string, std::string>> Questions;  // caption, text
  bool YesNoAnswer = true;
  std::vector<std::pair<std::string, std::string>> FolderChoices;  // title, start folder
  std::string FolderAnswer;  // empty: the user cancels

private:
  using TClock = std::chrono::steady_clock;
  struct THeadlessTimer {
    TClock::time_point Due;
    std::chrono::milliseconds Interval;
    bool Repeat;
    bool Running;  // a handler that waits is not entered again by its own timer
    std::shared_ptr<std::function<void()>> Handler;
  };

  void ProcessEvents();
  void FireDueTimers();

  std::shared_ptr<TclMessagePump> FPump;
  std::map<int, THeadlessTimer> FTimers;
  int FLastTimerId = 0;
};
