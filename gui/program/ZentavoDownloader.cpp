// The program: the Qt application, the window model and the window that draws it.
#include <QApplication>
#include <QIcon>
#include <QTranslator>

#include "app/MainForm.h"
#include "gui/MainWindow.h"
#include "gui/ProgramEnd.h"
#include "gui/QtPlatform.h"
#include "app/embedded/EmbeddedResources.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(TForm1::ApplicationTitle));
  // The installed desktop entry and icon, so that the desktop shows the window under them.
  QApplication::setDesktopFileName(QStringLiteral("zentavo-downloader"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("zentavo-downloader")));
  auto qtTexts = InstallQtChineseTexts();
  TQtPlatform platform(QCoreApplication::applicationDirPath().toStdString(), EmbeddedResources());
  TForm1 form(platform, TSiteSettings::FromEnvironment());
  TMainWindow window(form);
  platform.SetDialogParent(&window);
  new TProgramEnd(window);
  form.FormCreate();
  window.show();
  return application.exec();
}
