// Renders the main window in real states reached through a site (the local demo site, see
// scripts/screenshot.sh): one PNG per tab while videos download, merge and comment lists arrive,
// and one with the donation panel. Run it under a display server with ZENTAVO_SITE set:
//   ZentavoScreenshots OUT_FOLDER WORK_FOLDER ONE_PART_PAGE SEGMENTED_VIDEO_PAGE EPISODE_PAGE
// The program's binder and the downloads go to WORK_FOLDER.
#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTranslator>
#include <chrono>
#include <cstdio>
#include <functional>

#include "app/MainForm.h"
#include "gui/MainWindow.h"
#include "gui/QtPlatform.h"
#include "app/embedded/EmbeddedResources.h"

namespace {

// Serves the window's events until aDone answers true; false after aSeconds without it.
bool ServeUntil(TQtPlatform& aPlatform, const std::function<bool()>& aDone, int aSeconds = 60) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(aSeconds);
  while (!aDone()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    aPlatform.WaitForEvents(20);
  }
  return true;
}

bool List(TForm1& aForm, TQtPlatform& aPlatform, const char* aAddress) {
  aForm.edt1.SetText(aAddress);
  aForm.btn1.Click();
  bool listed = ServeUntil(aPlatform, [&] { return aForm.btn1.Enabled(); });
  if (!listed) std::fprintf(stderr, "listing %s did not end\n", aAddress);
  return listed;
}

// A segment transferring with its progress shown.
bool Transferring(const TForm1& aForm) {
  for (int row = 0; row < aForm.lv1.Count(); ++row)
    if (aForm.lv1.ItemCaption(row) == "►" && !aForm.lv1.SubItem(row, 2).empty()) return true;
  return false;
}

// Rows changing fast are redrawn a few milliseconds later: the picture waits for them.
bool Save(TMainWindow& aWindow, TQtPlatform& aPlatform, const QString& aPath) {
  auto drawn = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
  ServeUntil(aPlatform, [&] { return std::chrono::steady_clock::now() > drawn; });
  bool saved = aWindow.grab().save(aPath);
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", aPath.toLocal8Bit().constData());
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s OUT_FOLDER WORK_FOLDER ONE_PART_PAGE SEGMENTED_VIDEO_PAGE EPISODE_PAGE\n", argv[0]);
    return 2;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(TForm1::ApplicationTitle));
  auto qtTexts = InstallQtChineseTexts();
  QDir out(QString::fromLocal8Bit(argv[1]));
  QDir work(QString::fromLocal8Bit(argv[2]));
  TQtPlatform platform(work.absolutePath().toStdString(), EmbeddedResources());
  TForm1 form(platform, TSiteSettings::FromEnvironment());
  TMainWindow window(form);
  platform.SetDialogParent(&window);
  form.FormCreate();
  window.show();

  // Three listings, each downloaded as soon as it is listed: the long one-part video runs on while
  // the first part of the segmented video waits for its merge; the comment lists of the segmented
  // video have arrived by then, and those of the episodes are being fetched.
  for (int page = 3; page <= 5; ++page) {
    if (!List(form, platform, argv[page])) return 1;
    form.N2.Click();
    if (page == 4) form.XML1.Click();
  }
  window.Tabs()->setCurrentIndex(1);
  if (!ServeUntil(platform, [&] { return form.lv3.Count() > 0 && Transferring(form); }))
    std::fprintf(stderr, "no merge while segments transfer; the pictures show what there is\n");
  form.XML1.Click();

  bool ok = true;
  for (int tab : {1, 2, 0}) {
    window.Tabs()->setCurrentIndex(tab);
    ok = Save(window, platform, out.filePath(QString("tab%1.png").arg(tab + 1))) && ok;
  }
  form.lbl7.Click();
  ok = Save(window, platform, out.filePath("donation.png")) && ok;
  // Nothing more is fetched while the window goes.
  form.N6.Click();
  form.btn5.Click();
  return ok ? 0 : 1;
}
