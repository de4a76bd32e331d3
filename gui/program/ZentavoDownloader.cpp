// The program: the Qt application, the window model and the window that draws it.
#include <QApplication>

#include "app/MainForm.h"
#include "gui/MainWindow.h"
#include "gui/ProgramEnd.h"
#include "gui/QtPlatform.h"
#include "app/embedded/EmbeddedResources.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(TForm1::ApplicationTitle));
  TQtPlatform platform(QCoreApplication::applicationDirPath().toStdString(), EmbeddedResources());
  TForm1 form(platform, TSiteSettings::FromEnvironment());
  TMainWindow window(form);
  platform.SetDialogParent(&window);
  new TProgramEnd(window);
  form.FormCreate();
  window.show();
  return application.exec();
}
