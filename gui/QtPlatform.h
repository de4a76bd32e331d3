#pragma once
// The platform of the window model on Qt: message boxes, the folder dialog, QTimer timers, the Qt event loop serving
// the UI thread's message pump, the program folder and the data embedded in the program.
#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "app/AppPlatform.h"

class QSocketNotifier;
class QTimer;
class QTranslator;

// Qt's own texts (standard buttons, context menus, dialogs) in Chinese like the rest of the window,
// for as long as the result lives; none when Qt's translations are not installed.
std::unique_ptr<QTranslator> InstallQtChineseTexts();

class TQtPlatform : public TAppPlatform {
public:
  // Needs the QApplication; the calling thread is the UI thread. aExecutableFolder: the folder the
  // binder files are written to (the program's own folder; tests give another).
  TQtPlatform(std::string aExecutableFolder, std::map<std::string, std::string_view> aResources);
  ~TQtPlatform() override;

  // The window that owns the message boxes.
  void SetDialogParent(QWidget* aParent) { FDialogParent = aParent; }

  void ShowMessage(const std::string& aText) override;
  bool AskYesNo(const std::string& aCaption, const std::string& aText) override;
  std::string ChooseFolder(const std::string& aTitle, const std::string& aStartFolder) override;
  int StartTimer(int aIntervalMs, bool aRepeat, std::function<void()> aHandler) override;
  void StopTimer(int aTimerId) override;
  void WaitForEvents(int aMaxWaitMs) override;
  std::string ExecutableFolder() override { return FExecutableFolder; }
  std::string UserDownloadFolder() override;
  bool LoadResource(const std::string& aName, std::string& aData) override;

private:
  std::shared_ptr<TclMessagePump> FPump;
  std::unique_ptr<QSocketNotifier> FPumpNotifier;
  std::string FExecutableFolder;
  std::map<std::string, std::string_view> FResources;
  QPointer<QWidget> FDialogParent;
  std::map<int, std::unique_ptr<QTimer>> FTimers;
  int FLastTimerId = 0;
};
