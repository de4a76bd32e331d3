#include "gui/QtPlatform.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>

std::unique_ptr<QTranslator> InstallQtChineseTexts() {
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator.get()))
    return nullptr;
  return translator;
}

TQtPlatform::TQtPlatform(std::string aExecutableFolder, std::map<std::string, std::string_view> aResources)
    : FPump(TclMessagePump::CurrentShared()),
      FPumpNotifier(std::make_unique<QSocketNotifier>(FPump->Handle(), QSocketNotifier::Read)),
      FExecutableFolder(std::move(aExecutableFolder)),
      FResources(std::move(aResources)) {
  QObject::connect(FPumpNotifier.get(), &QSocketNotifier::activated, [pump = FPump.get()] { pump->ProcessMessages(); });
  // Waits anywhere on the UI thread repaint the window and serve the pump, even from inside a
  // message handler, where Qt may not yet deliver the notifier again.
  FPump->SetEventProcessor([pump = FPump.get()] {
    QCoreApplication::processEvents();
    pump->ProcessMessages();
  });
}

TQtPlatform::~TQtPlatform() { FPump->SetEventProcessor(nullptr); }

void TQtPlatform::ShowMessage(const std::string& aText) {
  QMessageBox::information(FDialogParent, QCoreApplication::applicationName(), QString::fromStdString(aText));
}

bool TQtPlatform::AskYesNo(const std::string& aCaption, const std::string& aText) {
  return QMessageBox::question(FDialogParent, QString::fromStdString(aCaption), QString::fromStdString(aText),
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

std::string TQtPlatform::ChooseFolder(const std::string& aTitle, const std::string& aStartFolder) {
  // Qt's own dialog: the same on every desktop, and it opens at the start folder where one exists.
  QFileDialog dialog(FDialogParent, QString::fromStdString(aTitle));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setFileMode(QFileDialog::Directory);
  QString start = QString::fromStdString(aStartFolder);
  if (!start.isEmpty() && QDir(start).exists()) dialog.setDirectory(start);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first().toStdString();
}

int TQtPlatform::StartTimer(int aIntervalMs, bool aRepeat, std::function<void()> aHandler) {
  int id = ++FLastTimerId;
  auto timer = std::make_unique<QTimer>();
  timer->setInterval(aIntervalMs);
  timer->setSingleShot(!aRepeat);
  QObject::connect(timer.get(), &QTimer::timeout, [this, id, aRepeat, handler = std::move(aHandler)] {
    auto keep = handler;  // a one-shot timer is gone before its handler runs
    if (!aRepeat) StopTimer(id);
    keep();
  });
  timer->start();
  FTimers[id] = std::move(timer);
  return id;
}

void TQtPlatform::StopTimer(int aTimerId) {
  auto found = FTimers.find(aTimerId);
  if (found == FTimers.end()) return;
  // The timer may be the one whose signal runs now.
  found->second.release()->deleteLater();
  FTimers.erase(found);
}

void TQtPlatform::WaitForEvents(int aMaxWaitMs) {
  QTimer wake;
  wake.setSingleShot(true);
  wake.start(aMaxWaitMs);
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  FPump->ProcessMessages();
}

std::string TQtPlatform::UserDownloadFolder() {
  // The desktop's download folder (XDG_DOWNLOAD_DIR), or the home folder where that is missing.
  QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
  if (downloads.isEmpty() || !QDir(downloads).exists()) downloads = QDir::homePath();
  return downloads.toStdString();
}

bool TQtPlatform::LoadResource(const std::string& aName, std::string& aData) {
  auto found = FResources.find(aName);
  if (found == FResources.end()) return false;
  aData.assign(found->second);
  return true;
}
