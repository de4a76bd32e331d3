#pragma once
// The one Qt application of a test program, drawn without a display.
#include <QApplication>
#include <cstdlib>

namespace zvtest {

inline QApplication& QtApplication() {
  if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return *existing;
  static int argc = 1;
  static char name[] = "test_gui";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication* application = new QApplication(argc, argv);
  return *application;
}

}  // namespace zvtest
