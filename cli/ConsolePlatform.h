#pragma once
// The window model's platform on a console: messages are printed, and as no one is there to answer,
// questions get Yes (the program only ever asks before it ends, and then it ends unattended).
// Timers and event processing are the headless platform's.
#include <ostream>

#include "app/HeadlessPlatform.h"

class TConsolePlatform : public THeadlessPlatform {
public:
  explicit TConsolePlatform(std::ostream& aMessages) : FMessages(aMessages) {}

  void ShowMessage(const std::string& aText) override;
  bool AskYesNo(const std::string& aCaption, const std::string& aText) override;

  // The folder of the running program, from the kernel's link to it.
  static std::string RunningProgramFolder();

private:
  std::ostream& FMessages;
};
