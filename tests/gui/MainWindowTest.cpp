#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include "app/MainForm.h"
#include "gui/MainWindow.h"
#include "gui/ProgramEnd.h"
#include "gui/QtPlatform.h"
#include "tests/support/AppWaits.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZentavoSite.h"

namespace {

// One application for the whole program (kept until the process ends).
QApplication& App() {
  static int argc = 1;
  static char name[] = "test_gui";
  static char* argv[] = {name, nullptr};
  static QApplication* application = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);  // no display needed
    auto* app = new QApplication(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(TForm1::ApplicationTitle));
    return app;
  }();
  return *application;
}

// Hands the next dialog of type TDialog to aAnswer as soon as it is open.
template <typename TDialog>
void AnswerNext(std::function<void(TDialog*)> aAnswer) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, aAnswer] {
    if (auto* dialog = qobject_cast<TDialog*>(QApplication::activeModalWidget())) {
      poll->stop();
      poll->deleteLater();
      aAnswer(dialog);
    }
  });
  poll->start(5);
}

void AnswerNextBox(std::function<void(QMessageBox*)> aAnswer) { AnswerNext<QMessageBox>(std::move(aAnswer)); }

// Clicks row aRow of a list as the user does, with aModifiers held.
void ClickRow(QTreeWidget* aList, int aRow, Qt::KeyboardModifiers aModifiers = {}) {
  QRect rect = aList->visualItemRect(aList->topLevelItem(aRow));
  QTest::mouseClick(aList->viewport(), Qt::LeftButton, aModifiers, rect.center());
}

std::vector<int> SelectedRows(const TListView& aModel) {
  std::vector<int> rows;
  for (int row = 0; row < aModel.Count(); ++row)
    if (aModel.Selected(row)) rows.push_back(row);
  return rows;
}

std::vector<int> SelectedRows(QTreeWidget* aList) {
  std::vector<int> rows;
  for (int row = 0; row < aList->topLevelItemCount(); ++row)
    if (aList->topLevelItem(row)->isSelected()) rows.push_back(row);
  return rows;
}

// Counts the selection changes a list tells its view, still passing them on.
struct TSelectionCounter {
  explicit TSelectionCounter(TListView& aList) {
    aList.OnViewChange = [this, view = aList.OnViewChange](TControl* aSender, const TControlChange& aChange) {
      if (aChange.Kind == TChangeKind::ckSelection) ++Count;
      view(aSender, aChange);
    };
  }
  int Count = 0;
};

class MainWindowTest : public ::testing::Test {
protected:
  MainWindowTest() { Platform.SetDialogParent(&Window); }
  template <typename T>
  T* Widget(const char* aName) {
    T* widget = Window.findChild<T*>(aName);
    EXPECT_NE(widget, nullptr) << aName;
    return widget;
  }

  QApplication& Application = App();
  zvtest::TempDir Dir;
  TQtPlatform Platform{Dir.Path(), {{"flvexe", "binder"}, {"flvdll", "library"}}};
  TForm1 Form{Platform};
  TMainWindow Window{Form};
};

}  // namespace

TEST_F(MainWindowTest, OpensWithItsTabsCaptionsAndDefaults) {
  Form.FormCreate();
  Window.show();
  EXPECT_EQ(Window.windowTitle(), "Zentavo视频下载工具 v2.9");
  EXPECT_EQ(Window.minimumSize(), Window.maximumSize());
  EXPECT_FALSE(Window.windowFlags() & Qt::WindowMaximizeButtonHint);

  QTabWidget* tabs = Window.Tabs();
  ASSERT_EQ(tabs->count(), 3);
  EXPECT_EQ(tabs->tabText(0), "〖  解析  flv〗");
  EXPECT_EQ(tabs->tabText(1), "视频下载管理");
  EXPECT_EQ(tabs->tabText(2), "XML弹幕下载管理");

  EXPECT_EQ(Widget<QPushButton>("btn1")->text(), "解析");
  EXPECT_EQ(Widget<QLineEdit>("edt2")->text().toStdString(), Dir.Path() + "/");
  EXPECT_TRUE(Widget<QLineEdit>("edt2")->isReadOnly());
  EXPECT_EQ(Widget<QComboBox>("cbb4")->currentText(), "1080p");
  EXPECT_TRUE(Widget<QCheckBox>("chk1")->isChecked());
  EXPECT_FALSE(Widget<QCheckBox>("chk4")->isChecked());
  EXPECT_EQ(Widget<QComboBox>("cbb1")->currentText(), "3");
  EXPECT_EQ(Widget<QComboBox>("cbb1")->count(), 12);
  EXPECT_EQ(Widget<QComboBox>("cbb2")->currentText(), "5");
  EXPECT_EQ(Widget<QComboBox>("cbb3")->currentIndex(), 1);
  EXPECT_TRUE(Widget<QCheckBox>("chk3")->isChecked());
  EXPECT_TRUE(Widget<QCheckBox>("chk2")->isChecked());
  EXPECT_TRUE(Widget<QLineEdit>("edt3")->text().startsWith("按Ctrl键可多选"));
  EXPECT_TRUE(Widget<QLineEdit>("edt3")->text().endsWith("【请勿商用】"));
  EXPECT_EQ(Widget<QLabel>("lbl7")->text(), "捐助");
  EXPECT_FALSE(Widget<QWidget>("pnl6")->isVisible());

  auto* parts = Widget<QTreeWidget>("lv2");
  ASSERT_EQ(parts->columnCount(), 6);
  EXPECT_EQ(parts->headerItem()->text(0), "№");
  EXPECT_EQ(parts->headerItem()->text(1), "文件名称");
  EXPECT_TRUE(parts->isColumnHidden(2));  // Cid
  EXPECT_TRUE(parts->isColumnHidden(3));  // URL
  EXPECT_FALSE(parts->isColumnHidden(4));
  EXPECT_EQ(parts->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(Widget<QTreeWidget>("lv4")->selectionMode(), QAbstractItemView::SingleSelection);
  auto* merges = Widget<QTreeWidget>("lv3");
  EXPECT_TRUE(merges->isColumnHidden(1));
  EXPECT_TRUE(merges->isColumnHidden(2));
  EXPECT_EQ(merges->headerItem()->text(3), "状态");
}

TEST_F(MainWindowTest, ModelAndWidgetsFollowEachOther) {
  Form.FormCreate();
  Window.show();
  auto* parts = Widget<QTreeWidget>("lv2");
  Form.lv2.Add("", {"第1话", "100", "", "", ""});
  Form.lv2.Add("", {"第2话", "200", "", "", ""});
  Form.lv2.SetItemCaption(1, "02");
  Form.lv2.SetSubItem(0, 3, "1080P");
  ASSERT_EQ(parts->topLevelItemCount(), 2);
  EXPECT_EQ(parts->topLevelItem(1)->text(0), "02");
  EXPECT_EQ(parts->topLevelItem(0)->text(4), "1080P");

  parts->topLevelItem(1)->setSelected(true);
  EXPECT_TRUE(Form.lv2.Selected(1));
  Form.lv2.SetSelected(0, true);
  EXPECT_TRUE(parts->topLevelItem(0)->isSelected());
  Form.lv2.Delete(0);
  EXPECT_EQ(parts->topLevelItem(0)->text(1), "第2话");
  Form.lv2.Clear();
  EXPECT_EQ(parts->topLevelItemCount(), 0);

  auto* button = Widget<QPushButton>("btn1");
  int clicks = 0;
  Form.btn1.OnClick = [&](TButton*) { ++clicks; };
  QTest::mouseClick(button, Qt::LeftButton);
  Form.btn1.SetEnabled(false);
  EXPECT_FALSE(button->isEnabled());
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);

  auto* address = Widget<QLineEdit>("edt1");
  QTest::keyClicks(address, "https://");
  EXPECT_EQ(Form.edt1.Text(), "https://");

  auto* limit = Widget<QComboBox>("cbb1");
  bool changed = false;
  Form.cbb1.OnChange = [&](TComboBox*) { changed = true; };
  limit->activated(5);
  EXPECT_TRUE(changed);
  EXPECT_EQ(Form.cbb1.Text(), "6");

  // The model's handler refuses the tick while a binder file is missing.
  std::remove(Dir.File("FLVLib.dll").c_str());
  auto* merge = Widget<QCheckBox>("chk3");
  QTest::mouseClick(merge, Qt::LeftButton);  // unticks
  EXPECT_FALSE(Form.chk3.Checked());
  QString shown;
  AnswerNextBox([&](QMessageBox* aBox) {
    shown = aBox->text();
    aBox->accept();
  });
  QTest::mouseClick(merge, Qt::LeftButton);
  EXPECT_EQ(shown, "软件在启动时不能正常释放Flv合并程序，分段视频无法自动合并！");
  EXPECT_FALSE(Form.chk3.Checked());
  EXPECT_FALSE(merge->isChecked());

  Form.SetCaption("这里出问题！！！");
  EXPECT_EQ(Window.windowTitle(), "这里出问题！！！");
}

TEST_F(MainWindowTest, FolderButtonOpensTheDialogAtTheSaveFolderAndTakesItsChoice) {
  Form.FormCreate();
  Window.show();
  QDir(QString::fromStdString(Dir.Path())).mkdir("下载");
  const QString chosen = QString::fromStdString(Dir.File("下载"));
  QString title, opened;
  AnswerNext<QFileDialog>([&](QFileDialog* aDialog) {
    title = aDialog->windowTitle();
    opened = aDialog->directory().absolutePath();
    aDialog->setDirectory(chosen);
    static_cast<QDialog*>(aDialog)->accept();
  });
  QTest::mouseClick(Widget<QPushButton>("btn2"), Qt::LeftButton);
  EXPECT_EQ(title, "选择文件夹");
  EXPECT_EQ(opened.toStdString(), Dir.Path());
  EXPECT_EQ(Form.SaveFolder(), Dir.File("下载/"));
  EXPECT_EQ(Widget<QLineEdit>("edt2")->text(), chosen + "/");

  AnswerNext<QFileDialog>([&](QFileDialog* aDialog) {
    opened = aDialog->directory().absolutePath();
    aDialog->reject();
  });
  QTest::mouseClick(Widget<QPushButton>("btn2"), Qt::LeftButton);
  EXPECT_EQ(opened, chosen);
  EXPECT_EQ(Form.SaveFolder(), Dir.File("下载/"));
}

TEST_F(MainWindowTest, RightClickSelectsTheWholeAddress) {
  Window.show();
  auto* address = Widget<QLineEdit>("edt1");
  Form.edt1.SetText("https://www.zentavo.com/第1话");
  QTest::mouseClick(address, Qt::LeftButton);
  EXPECT_FALSE(address->hasSelectedText());
  QTest::mousePress(address, Qt::RightButton);
  EXPECT_EQ(address->selectedText(), "https://www.zentavo.com/第1话");
  EXPECT_EQ(Form.edt1.SelLength(), static_cast<int>(Form.edt1.Text().size()));
  QTest::mouseRelease(address, Qt::RightButton);
  // A selection made in the widget reaches the model in bytes of the text.
  address->setSelection(24, 3);
  EXPECT_EQ(Form.edt1.SelStart(), 24);
  EXPECT_EQ(Form.edt1.SelLength(), 7);
}

TEST_F(MainWindowTest, DonationLabelTogglesThePanelAndThePictureClosesIt) {
  Window.show();
  auto* panel = Widget<QWidget>("pnl6");
  auto* label = Widget<QLabel>("lbl7");
  QTest::mouseClick(label, Qt::LeftButton);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->x(), (TForm1::Width - Form.pnl6.Width()) / 2);
  QTest::mouseClick(label, Qt::LeftButton);
  EXPECT_FALSE(panel->isVisible());
  QTest::mouseClick(label, Qt::LeftButton);
  QTest::mouseClick(Widget<QLabel>("img1"), Qt::LeftButton);
  EXPECT_FALSE(panel->isVisible());
}

TEST_F(MainWindowTest, ClosingTheWindowRunsTheCloseRequest) {
  Form.FormCreate();
  Window.show();
  EXPECT_TRUE(Window.close());
  EXPECT_TRUE(Form.Closing);
  EXPECT_FALSE(Form.Unattended);
  EXPECT_FALSE(Window.isVisible());
}

TEST_F(MainWindowTest, TerminationSignalClosesTheWindowPastAnOpenDialog) {
  Form.FormCreate();
  Window.show();
  TProgramEnd end(Window);
  auto started = std::chrono::steady_clock::now();
  // The signal arrives while a message box runs its own event loop.
  QTimer::singleShot(20, [] { raise(SIGTERM); });
  Platform.ShowMessage("下载完成");
  while (Window.isVisible() && std::chrono::steady_clock::now() - started < std::chrono::seconds(10))
    Platform.WaitForEvents(50);
  EXPECT_FALSE(Window.isVisible());
  EXPECT_TRUE(Form.Unattended);
  EXPECT_TRUE(Form.Closing);
}

TEST_F(MainWindowTest, ClosingWhileVideosDownloadAsksAndATerminationSignalAnswersForTheUser) {
  zvtest::ZentavoSite site;
  site.Configure({{"segment_tags", 1000}, {"faults", {{"*", {{"rate", 20000}}}}}});
  zvtest::TempDir saveFolder;
  Form.FormCreate();
  Form.SetSaveFolder(saveFolder.Path() + "/");
  Window.show();
  Form.lv2.Add("1", {"甲", "1", site.Url("/seg/1-1.flv?expires=1"), "1080P", "1"});
  Form.N2.Click();
  const std::string working = saveFolder.File("1 甲.flv.vtq");
  ASSERT_TRUE(zvtest::ServeUntil(Platform, [&] { return std::filesystem::exists(working); }));

  QString title, text;
  AnswerNextBox([&](QMessageBox* aBox) {
    title = aBox->windowTitle();
    text = aBox->text();
    aBox->button(QMessageBox::No)->click();
  });
  EXPECT_FALSE(Window.close());
  EXPECT_EQ(title, "感谢使用");
  EXPECT_EQ(text, "正在下载视频，真的要关闭吗？\r\n本工具不保存任何下载记录！！！");
  EXPECT_TRUE(Window.isVisible());
  EXPECT_TRUE(Form.clMdloader1.IsBusy());
  EXPECT_FALSE(Form.Closing);

  // Told to terminate while the question is open: the question goes, and the close stops the
  // download without asking again.
  TProgramEnd end(Window);
  int questions = 0;
  AnswerNextBox([&](QMessageBox*) {
    ++questions;
    raise(SIGTERM);
  });
  EXPECT_FALSE(Window.close());
  ASSERT_TRUE(zvtest::ServeUntil(Platform, [&] { return !Window.isVisible(); }, 10000));
  EXPECT_EQ(questions, 1);
  EXPECT_TRUE(Form.Unattended);
  EXPECT_FALSE(Form.clMdloader1.IsBusy());
  EXPECT_FALSE(std::filesystem::exists(working));
}

TEST_F(MainWindowTest, ClicksAndKeysSelectRowsInModelAndWidgetAlike) {
  Form.FormCreate();
  Window.show();
  for (int i = 0; i < 8; ++i) Form.lv2.Add(std::to_string(i + 1), {"第" + std::to_string(i + 1) + "话"});
  Form.lv4.Add("1", {"a.xml", ""});
  Form.lv4.Add("2", {"b.xml", ""});
  Form.lv4.Add("3", {"c.xml", ""});
  struct TClick {
    int Row;
    Qt::KeyboardModifiers Modifiers;
  };
  const Qt::KeyboardModifiers none, ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier;
  struct TCase {
    const char* List;
    std::vector<TClick> Clicks;
    std::vector<int> Expected;
  } cases[] = {
      {"lv2", {{1, none}, {4, none}}, {4}},
      {"lv2", {{4, none}, {2, none}}, {2}},
      {"lv2", {{1, none}, {4, ctrl}}, {1, 4}},
      {"lv2", {{1, none}, {3, ctrl}, {1, ctrl}}, {3}},
      {"lv2", {{2, none}, {5, shift}}, {2, 3, 4, 5}},
      {"lv2", {{6, none}, {2, shift}, {7, ctrl}}, {2, 3, 4, 5, 6, 7}},
      {"lv4", {{0, none}, {2, none}}, {2}},
      {"lv4", {{2, none}, {1, ctrl}}, {1}},
  };
  for (const auto& c : cases) {
    auto* list = Widget<QTreeWidget>(c.List);
    TListView& model = list->objectName() == "lv2" ? Form.lv2 : Form.lv4;
    Window.Tabs()->setCurrentIndex(list->objectName() == "lv2" ? 0 : 2);
    list->clearSelection();
    for (const auto& click : c.Clicks) ClickRow(list, click.Row, click.Modifiers);
    EXPECT_EQ(SelectedRows(model), c.Expected) << c.List << " case " << &c - cases;
    EXPECT_EQ(SelectedRows(list), c.Expected) << c.List << " case " << &c - cases;
  }
}

TEST_F(MainWindowTest, RowsComingAndGoingKeepTheSelectionOfTheOthers) {
  Form.FormCreate();
  Window.show();
  auto* parts = Widget<QTreeWidget>("lv2");
  for (int i = 0; i < 6; ++i) Form.lv2.Add(std::to_string(i + 1), {});
  ClickRow(parts, 1);
  ClickRow(parts, 3, Qt::ControlModifier);  // rows 1 and 3, the current row is 3

  Form.lv2.Delete(2);  // an unselected row
  EXPECT_EQ(SelectedRows(Form.lv2), (std::vector<int>{1, 2}));
  EXPECT_EQ(SelectedRows(parts), (std::vector<int>{1, 2}));
  Form.lv2.Delete(2);  // the selected current row
  EXPECT_EQ(SelectedRows(Form.lv2), (std::vector<int>{1}));
  EXPECT_EQ(SelectedRows(parts), (std::vector<int>{1}));
  Form.lv2.Add("7", {});
  EXPECT_EQ(SelectedRows(Form.lv2), (std::vector<int>{1}));
  EXPECT_EQ(SelectedRows(parts), (std::vector<int>{1}));
  ClickRow(parts, 4, Qt::ShiftModifier);
  EXPECT_EQ(SelectedRows(Form.lv2), (std::vector<int>{1, 2, 3, 4}));
  Form.lv2.Delete(0);
  EXPECT_EQ(SelectedRows(Form.lv2), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(SelectedRows(parts), (std::vector<int>{0, 1, 2, 3}));

  // The program's own changes show on the widget.
  Form.lv2.SetSelected(1, false);
  EXPECT_EQ(SelectedRows(parts), (std::vector<int>{0, 2, 3}));
  Form.lv2.ChangeSelection({1}, {0, 3});
  EXPECT_EQ(SelectedRows(parts), (std::vector<int>{1, 2}));

  // The single-selection list keeps its one row too.
  auto* tasks = Widget<QTreeWidget>("lv4");
  Window.Tabs()->setCurrentIndex(2);
  for (int i = 0; i < 3; ++i) Form.lv4.Add(std::to_string(i + 1), {});
  ClickRow(tasks, 2);
  Form.lv4.Delete(0);
  EXPECT_EQ(SelectedRows(Form.lv4), (std::vector<int>{1}));
  EXPECT_EQ(SelectedRows(tasks), (std::vector<int>{1}));
  Form.lv4.Delete(1);  // the selected current row: nothing else gets selected
  EXPECT_EQ(SelectedRows(Form.lv4), std::vector<int>{});
  EXPECT_EQ(SelectedRows(tasks), std::vector<int>{});
}

TEST_F(MainWindowTest, SelectingAThousandRowsIsOneChange) {
  Form.FormCreate();
  Window.show();
  auto* parts = Widget<QTreeWidget>("lv2");
  for (int i = 0; i < 1000; ++i) Form.lv2.Add(std::to_string(i + 1), {"第" + std::to_string(i + 1) + "话"});
  ClickRow(parts, 0);
  TSelectionCounter changes(Form.lv2);
  auto started = std::chrono::steady_clock::now();
  QTest::keyClick(parts, Qt::Key_A, Qt::ControlModifier);
  // Loose bound: one pass over the rows takes milliseconds, one pass per row minutes.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_EQ(Form.lv2.SelCount(), 1000);
  EXPECT_EQ(changes.Count, 1);
  ClickRow(parts, 5);
  EXPECT_EQ(SelectedRows(Form.lv2), std::vector<int>{5});
  EXPECT_EQ(changes.Count, 2);

  // And the program selecting them all shows at once.
  std::vector<int> all(1000);
  for (int i = 0; i < 1000; ++i) all[i] = i;
  started = std::chrono::steady_clock::now();
  Form.lv2.ChangeSelection(all, {});
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_EQ(parts->selectedItems().size(), 1000);
}

TEST_F(MainWindowTest, ARowChangeRedrawsThatRowOnly) {
  Form.FormCreate();
  Window.show();
  for (int i = 0; i < 5; ++i) Form.lv1.Add("〓", {"seg" + std::to_string(i), "", "", ""});
  QAbstractItemModel* rows = Widget<QTreeWidget>("lv1")->model();
  std::set<int> changedRows;
  int rebuilt = 0;
  // The watchers go with this test's locals, before the window tears its rows down.
  QObject watch;
  QObject::connect(rows, &QAbstractItemModel::dataChanged, &watch, [&](const QModelIndex& aFirst, const QModelIndex& aLast) {
    for (int row = aFirst.row(); row <= aLast.row(); ++row) changedRows.insert(row);
  });
  QObject::connect(rows, &QAbstractItemModel::modelReset, &watch, [&] { ++rebuilt; });
  QObject::connect(rows, &QAbstractItemModel::layoutChanged, &watch, [&] { ++rebuilt; });
  QObject::connect(rows, &QAbstractItemModel::rowsRemoved, &watch, [&] { ++rebuilt; });
  Form.lv1.SetSubItem(3, 2, "42%");
  Form.lv1.SetItemCaption(3, "►");
  EXPECT_EQ(changedRows, std::set<int>{3});
  EXPECT_EQ(rebuilt, 0);
}

TEST_F(MainWindowTest, StartUpFailureIsShownInAMessageBox) {
  TQtPlatform bare(Dir.File("missing-folder"), {});
  TForm1 form(bare);
  QString title, text;
  AnswerNextBox([&](QMessageBox* aBox) {
    title = aBox->windowTitle();
    text = aBox->text();
    aBox->accept();
  });
  form.FormCreate();
  EXPECT_EQ(title, "Zentavo视频下载工具");
  EXPECT_EQ(text, "Flv合并程序释放失败，下载的分段视频将无法自动合并！");
  EXPECT_FALSE(form.chk3.Checked());
}

TEST_F(MainWindowTest, QuestionsAnswerYesOrNo) {
  QString title;
  AnswerNextBox([&](QMessageBox* aBox) {
    title = aBox->windowTitle();
    aBox->button(QMessageBox::No)->click();
  });
  EXPECT_FALSE(Platform.AskYesNo("感谢使用", "正在下载视频，真的要关闭吗？"));
  EXPECT_EQ(title, "感谢使用");
  AnswerNextBox([](QMessageBox* aBox) { aBox->button(QMessageBox::Yes)->click(); });
  EXPECT_TRUE(Platform.AskYesNo("感谢使用", "?"));
}

TEST_F(MainWindowTest, TheEventLoopServesThePumpAndTheTimers) {
  bool arrived = false;
  auto& pump = TclMessagePump::Current();
  std::thread sender([&] { pump.Send([&] { arrived = true; }); });
  while (!arrived) Platform.WaitForEvents(1000);
  sender.join();

  TTimer timer(Platform, 5);
  int ticks = 0;
  timer.OnTimer = [&](TTimer* aSender) {
    if (++ticks == 2) aSender->SetEnabled(false);
  };
  timer.SetEnabled(true);
  bool once = false;
  Platform.StartTimer(1, false, [&] { once = true; });
  while (timer.Enabled() || !once) Platform.WaitForEvents(2000);
  EXPECT_EQ(ticks, 2);
}

// The window started against the local site.
class MainWindowListing : public ::testing::Test {
protected:
  MainWindowListing() {
    Form.FormCreate();
    Window.show();
  }

  QApplication& Application = App();
  zvtest::ZentavoSite Site;
  zvtest::TempDir Dir;
  TQtPlatform Platform{Dir.Path(), {{"flvexe", "binder"}, {"flvdll", "library"}}};
  TForm1 Form{Platform, Site.Settings()};
  TMainWindow Window{Form};
};

TEST_F(MainWindowListing, PastedAddressListsThePartsIntoTheWindow) {
  Site.AddPage("/www.zentavo.com/video/BV2",
               "{\"title\":\"T\",\"pages\":[{\"cid\":1,\"part\":\"第一部分\"},{\"cid\":2,\"part\":\"第二部分\"}]}");
  // Every pass of the waits processes the window's events, so it keeps repainting.
  int repaints = 0;
  struct TPaintCounter : QObject {
    int& Count;
    explicit TPaintCounter(int& aCount) : Count(aCount) {}
    bool eventFilter(QObject*, QEvent* aEvent) override {
      if (aEvent->type() == QEvent::Paint) ++Count;
      return false;
    }
  } counter(repaints);
  auto* parts = Window.findChild<QTreeWidget*>("lv2");
  parts->viewport()->installEventFilter(&counter);

  QTest::keyClicks(Window.findChild<QLineEdit*>("edt1"), QString::fromStdString(Site.Url("/www.zentavo.com/video/BV2")));
  QTest::mouseClick(Window.findChild<QPushButton*>("btn1"), Qt::LeftButton);
  ASSERT_EQ(parts->topLevelItemCount(), 2);
  EXPECT_EQ(parts->topLevelItem(0)->text(0), "1");
  EXPECT_EQ(parts->topLevelItem(1)->text(1), "第二部分");
  EXPECT_GT(repaints, 0);
  EXPECT_FALSE(Window.findChild<QLineEdit*>("edt3")->isVisible());
  // Enabled again once the parts' play addresses have come; the rows show them.
  auto* list = Window.findChild<QPushButton*>("btn1");
  auto shown = [&] { return list->isEnabled() && parts->topLevelItem(1)->text(5) == "1"; };
  for (int i = 0; i < 500 && !shown(); ++i) Platform.WaitForEvents(20);
  EXPECT_TRUE(shown());
}

TEST_F(MainWindowListing, KeyboardFocusStaysOffTheReadOnlyFolderWhileListing) {
  Site.AddPage("/www.zentavo.com/video/BV2", "{\"title\":\"T\",\"pages\":[{\"cid\":1,\"part\":\"甲\"}]}");
  // The play address comes late, so the button stays disabled for a while.
  Site.Configure({{"faults", {{"/v2/playurl", {{"delay", 0.5}}}}}});
  Window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
  auto* address = Window.findChild<QLineEdit*>("edt1");
  auto* list = Window.findChild<QPushButton*>("btn1");
  auto focused = [] { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : ""; };
  address->setFocus();
  QTest::keyClicks(address, QString::fromStdString(Site.Url("/www.zentavo.com/video/BV2")));
  // Tab to "解析" and press it, as keyboard users do.
  QTest::keyClick(address, Qt::Key_Tab);
  ASSERT_EQ(focused(), "btn1");
  QTest::keyClick(list, Qt::Key_Space);
  ASSERT_FALSE(list->isEnabled());
  EXPECT_EQ(focused(), "edt1");
  for (int i = 0; i < 500 && !list->isEnabled(); ++i) Platform.WaitForEvents(20);
  EXPECT_EQ(Form.lv2.SubItem(0, 4), "1");
  EXPECT_EQ(focused(), "edt1");
}

TEST_F(MainWindowTest, ListHeadersSpanTheirListsWidth) {
  Window.show();
  for (int tab = 0; tab < Window.Tabs()->count(); ++tab) {
    Window.Tabs()->setCurrentIndex(tab);
    QCoreApplication::processEvents();
    for (QTreeWidget* list : Window.Tabs()->widget(tab)->findChildren<QTreeWidget*>()) {
      int spanned = list->header()->length();
      EXPECT_EQ(spanned, list->viewport()->width()) << list->objectName().toStdString();
      EXPECT_FALSE(list->horizontalScrollBar()->isVisible()) << list->objectName().toStdString();
    }
  }
}
