#include "app/HeadlessPlatform.h"

#include <poll.h>

#include <algorithm>

THeadlessPlatform::THeadlessPlatform() : FPump(TclMessagePump::CurrentShared()) {
  FPump->SetEventProcessor([this] { ProcessEvents(); });
}

THeadlessPlatform::~THeadlessPlatform() { FPump->SetEventProcessor(nullptr); }

void THeadlessPlatform::ShowMessage(const std::string& aText) { Messages.push_back(aText); }

bool THeadlessPlatform::AskYesNo(const std::string& aCaption, const std::string& aText) {
  Questions.emplace_back(aCaption, aText);
  return YesNoAnswer;
}

std::string THeadlessPlatform::ChooseFolder(const std::string& aTitle, const std::string& aStartFolder) {
  FolderChoices.emplace_back(aTitle, aStartFolder);
  return FolderAnswer;
}

int THeadlessPlatform::StartTimer(int aIntervalMs, bool aRepeat, std::function<void()> aHandler) {
  auto interval = std::chrono::milliseconds(std::max(aIntervalMs, 0));
  FTimers[++FLastTimerId] = {TClock::now() + interval, interval, aRepeat, false,
                             std::make_shared<std::function<void()>>(std::move(aHandler))};
  return FLastTimerId;
}

void THeadlessPlatform::StopTimer(int aTimerId) { FTimers.erase(aTimerId); }

bool THeadlessPlatform::LoadResource(const std::string& aName, std::string& aData) {
  auto found = Resources.find(aName);
  if (found == Resources.end()) return false;
  aData = found->second;
  return true;
}

void THeadlessPlatform::ProcessEvents() {
  FPump->ProcessMessages();
  FireDueTimers();
}

void THeadlessPlatform::FireDueTimers() {
  auto now = TClock::now();
  std::vector<int> due;
  for (const auto& [id, timer] : FTimers)
    if (!timer.Running && timer.Due <= now) due.push_back(id);
  for (int id : due) {
    // An earlier handler may have stopped this timer.
    auto found = FTimers.find(id);
    if (found == FTimers.end()) continue;
    auto handler = found->second.Handler;
    if (found->second.Repeat) {
      found->second.Due = now + found->second.Interval;
      found->second.Running = true;
    } else {
      FTimers.erase(found);
    }
    (*handler)();
    found = FTimers.find(id);
    if (found != FTimers.end()) found->second.Running = false;
  }
}

void THeadlessPlatform::WaitForEvents(int aMaxWaitMs) {
  auto wait = std::chrono::milliseconds(std::max(aMaxWaitMs, 0));
  auto now = TClock::now();
  for (const auto& [id, timer] : FTimers)
    if (!timer.Running)
      wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(std::max(timer.Due - now, TClock::duration::zero())));
  pollfd fd{FPump->Handle(), POLLIN, 0};
  poll(&fd, 1, static_cast<int>(wait.count()));
  ProcessEvents();
}
