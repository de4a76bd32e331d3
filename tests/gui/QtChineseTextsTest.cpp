#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFile>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTranslator>
#include <memory>

#include "gui/QtPlatform.h"
#include "tests/gui/QtApplication.h"

namespace {

QString YesButtonText() {
  QMessageBox box(QMessageBox::Question, "caption", "question", QMessageBox::Yes | QMessageBox::No);
  return box.button(QMessageBox::Yes)->text();
}

QStringList LineEditMenuTexts() {
  QLineEdit edit("text");
  std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  QStringList texts;
  for (QAction* action : menu->actions())
    if (!action->isSeparator()) texts << action->text().section(QLatin1Char('\t'), 0, 0);  // without the shortcut
  return texts;
}

}  // namespace

// Qt's standard buttons and context menus speak Chinese like the window while its texts are installed.
TEST(QtChineseTexts, StandardButtonsAndContextMenusAreChinese) {
  zvtest::QtApplication();
  if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_zh_CN.qm"))
    GTEST_SKIP() << "Qt's Chinese translations (qt6-translations-l10n) are not installed";
  {
    std::unique_ptr<QTranslator> texts = InstallQtChineseTexts();
    ASSERT_NE(texts, nullptr);
    EXPECT_EQ(YesButtonText(), QString::fromUtf8("是(&Y)"));
    QStringList menu = LineEditMenuTexts();
    EXPECT_TRUE(menu.contains(QString::fromUtf8("复制(&C)"))) << menu.join(" | ").toStdString();
    EXPECT_TRUE(menu.contains(QString::fromUtf8("粘贴(&P)"))) << menu.join(" | ").toStdString();
  }
  // Gone with the translator: the texts are Qt's own again.
  EXPECT_EQ(YesButtonText(), "&Yes");
}
