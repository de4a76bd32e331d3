#pragma once
// What the window model needs from the desktop: message boxes, the folder chooser, UI-thread timers, event processing,
// the program's own folder and its embedded data. A Qt implementation draws the real window; a
// headless one serves tests.
#include <functional>
#include <string>

#include "common/clMessagePump.h"

class TAppPlatform {
public:
  virtual ~TAppPlatform() = default;

  // A message with an OK button; returns when the user has closed it.
  virtual void ShowMessage(const std::string& aText) = 0;
  // A question with Yes and No buttons; true for Yes.
  virtual bool AskYesNo(const std::string& aCaption, const std::string& aText) = 0;

  // The folder chooser, owned by the main window, titled aTitle and opened at aStartFolder: the
  // folder chosen as the desktop names it, or the empty text when the user cancels.
  virtual std::string ChooseFolder(const std::string& aTitle, const std::string& aStartFolder) = 0;

  // Runs aHandler on the UI thread after aIntervalMs, once or (aRepeat) every aIntervalMs until
  // stopped. Returns the timer's id, never 0.
  virtual int StartTimer(int aIntervalMs, bool aRepeat, std::function<void()> aHandler) = 0;
  virtual void StopTimer(int aTimerId) = 0;

  // Processes the UI events that are pending now, the UI thread's messages included.
  void ProcessPendingEvents() { TclMessagePump::Current().ProcessPendingEvents(); }
  // Waits up to aMaxWaitMs for a UI event (a message, a timer, input) and processes what came.
  virtual void WaitForEvents(int aMaxWaitMs) = 0;

  // The folder of the running program, without a separator at the end.
  virtual std::string ExecutableFolder() = 0;
  // The user's folder for downloaded files (empty when there is none): downloads start there when
  // the program's folder is not the user's to write into, as with an installed program.
  virtual std::string UserDownloadFolder() = 0;
  // The data resource aName carried in the program; false when there is none of that name.
  virtual bool LoadResource(const std::string& aName, std::string& aData) = 0;
};
