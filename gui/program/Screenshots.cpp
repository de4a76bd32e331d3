// Renders the main window, one PNG per tab and one with the donation panel, into the folder given
// as the argument; run it under a real display server (scripts/screenshot.sh uses Xvfb).
#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <cstdio>

#include "app/MainForm.h"
#include "gui/MainWindow.h"
#include "gui/QtPlatform.h"

namespace {

// A few rows, so the pictures show list contents as well as headers.
void AddSampleRows(TForm1& aForm) {
  aForm.lv2.Add("01", {"第1话 出发", "10001", "", "1080P", "3"});
  aForm.lv2.Add("02", {"第2话 旅途", "10002", "", "720P", "1"});
  aForm.lv2.Add("×", {"第3话 归来", "10003", "", "", ""});
  aForm.lv2.SetSelected(1, true);
  aForm.lv1.Add("►", {"01 第1话 出发 3-1", "12.5MB", "45.67%", "1.50 MB/S"});
  aForm.lv1.Add("〓", {"01 第1话 出发 3-2", "", "", ""});
  aForm.lv1.Add("‖", {"01 第1话 出发 3-3", "11.2MB", "3.10%", ""});
  aForm.lv3.Add("02 第2话 旅途", {"/tmp/", "2", "正在合并"});
  aForm.lv4.Add("1", {"01 第1话 出发.xml", "正在下载"});
  aForm.lv4.Add("2", {"02 第2话 旅途.xml", "受限制"});
  aForm.lv5.Add("03 第3话 归来.xml", {"/tmp/03 第3话 归来.xml"});
  aForm.lbl3.SetCaption("剩余：3 个任务");
  aForm.DownSpeed.SetCaption("1.50 MB/S");
}

bool Save(TMainWindow& aWindow, const QString& aPath) {
  QCoreApplication::processEvents();
  bool saved = aWindow.grab().save(aPath);
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", aPath.toLocal8Bit().constData());
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(TForm1::ApplicationTitle));
  QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
  TQtPlatform platform(out.absolutePath().toStdString(), {});
  TForm1 form(platform);
  TMainWindow window(form);
  form.SetSaveFolder(out.absolutePath().toStdString() + "/");
  AddSampleRows(form);
  window.show();
  bool ok = true;
  for (int tab = 0; tab < window.Tabs()->count(); ++tab) {
    window.Tabs()->setCurrentIndex(tab);
    ok = Save(window, out.filePath(QString("tab%1.png").arg(tab + 1))) && ok;
  }
  window.Tabs()->setCurrentIndex(0);
  form.pnl6.SetVisible(true);
  ok = Save(window, out.filePath("donation.png")) && ok;
  return ok ? 0 : 1;
}
