#include "gui/MainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/MainForm.h"
#include "gui/Bindings.h"
#include "gui/QrPicture.h"

namespace {

QLabel* CaptionLabel(QWidget* aParent) { return new QLabel(aParent); }

QHBoxLayout* Row(std::initializer_list<QWidget*> aWidgets, bool aStretch = true) {
  auto* row = new QHBoxLayout;
  for (QWidget* widget : aWidgets) row->addWidget(widget);
  if (aStretch) row->addStretch(1);
  return row;
}

}  // namespace

TMainWindow::TMainWindow(TForm1& aForm) : QWidget(nullptr), FForm(aForm), FTabs(new QTabWidget(this)) {
  // Fixed size: it can be minimised, but neither resized nor maximised.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(TForm1::Width, TForm1::Height);
  BindWindow(FForm, this);

  // Status area above the tab strip, at the right.
  auto* tasks = new QLabel(this);
  auto* speed = new QLabel(this);
  speed->setMinimumWidth(110);
  speed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  BindLabel(FForm.lbl3, tasks);
  BindLabel(FForm.DownSpeed, speed);
  auto* status = new QHBoxLayout;
  status->addStretch(1);
  status->addWidget(tasks);
  status->addSpacing(16);
  status->addWidget(speed);

  // "捐助" beside the tab strip.
  auto* donate = new QLabel(FTabs);
  donate->setCursor(Qt::PointingHandCursor);
  donate->setStyleSheet("QLabel { color: #c0392b; padding: 0 8px; }");
  BindLabel(FForm.lbl7, donate);
  FTabs->setCornerWidget(donate, Qt::TopRightCorner);

  FTabs->addTab(BuildListingTab(), QString());
  FTabs->addTab(BuildDownloadTab(), QString());
  FTabs->addTab(BuildCommentTab(), QString());
  BindTab(FForm.ts1, FTabs, 0);
  BindTab(FForm.ts2, FTabs, 1);
  BindTab(FForm.ts3, FTabs, 2);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 4, 8, 8);
  layout->addLayout(status);
  layout->addWidget(FTabs, 1);

  BuildDonationPanel();

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect desktop = screen->availableGeometry();
    move(desktop.center() - QPoint(TForm1::Width / 2, TForm1::Height / 2));
  }
}

bool TMainWindow::RunCloseRequest(bool aUnattended) {
  // The model refuses a request while another one waits and lets later ones pass once one has.
  if (aUnattended) FForm.Unattended = true;
  bool canClose = true;
  FForm.FormCloseQuery(&FForm, canClose);
  return canClose;
}

void TMainWindow::CloseUnattended() {
  FForm.Unattended = true;
  // A question, message or folder dialog left open would keep its own event loop running; the close
  // follows once those loops have ended.
  for (QWidget* window : QApplication::topLevelWidgets())
    if (auto* dialog = qobject_cast<QDialog*>(window); dialog && dialog->isVisible()) dialog->reject();
  QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
}

void TMainWindow::closeEvent(QCloseEvent* aEvent) {
  if (RunCloseRequest(FForm.Unattended))
    aEvent->accept();
  else
    aEvent->ignore();
}

QWidget* TMainWindow::BuildListingTab() {
  auto* page = new QWidget;
  auto* address = new QLineEdit(page);
  auto* addressLabel = CaptionLabel(page);
  auto* list = new QPushButton(page);
  BindEdit(FForm.edt1, address, addressLabel);
  BindButton(FForm.btn1, list);

  auto* folder = new QLineEdit(page);
  auto* folderLabel = CaptionLabel(page);
  auto* browse = new QPushButton(page);
  BindEdit(FForm.edt2, folder, folderLabel);
  BindButton(FForm.btn2, browse);

  auto* qualityGroup = new QGroupBox(page);
  auto* quality = new QComboBox(qualityGroup);
  quality->setMinimumWidth(110);
  auto* qualityLayout = new QHBoxLayout(qualityGroup);
  qualityLayout->addWidget(quality);
  BindComboBox(FForm.cbb4, quality, qualityGroup);
  auto* numbered = new QCheckBox(page);
  auto* numbersOnly = new QCheckBox(page);
  BindCheckBox(FForm.chk1, numbered);
  BindCheckBox(FForm.chk4, numbersOnly);

  auto* parts = new QTreeWidget(page);
  BindListView(FForm.lv2, parts, nullptr);
  auto* hint = new QLineEdit(page);
  hint->setFrame(false);
  hint->setStyleSheet("QLineEdit { background: transparent; color: #555; }");
  BindEdit(FForm.edt3, hint, nullptr);

  auto* layout = new QVBoxLayout(page);
  auto* addressRow = Row({addressLabel, address, list}, false);
  addressLabel->setFixedWidth(70);
  layout->addLayout(addressRow);
  auto* folderRow = Row({folderLabel, folder, browse}, false);
  folderLabel->setFixedWidth(70);
  layout->addLayout(folderRow);
  auto* optionsRow = Row({qualityGroup});
  optionsRow->insertSpacing(1, 16);
  optionsRow->insertWidget(2, numbered);
  optionsRow->insertSpacing(3, 16);
  optionsRow->insertWidget(4, numbersOnly);
  layout->addLayout(optionsRow);
  layout->addWidget(parts, 1);
  layout->addWidget(hint);
  return page;
}

QWidget* TMainWindow::BuildDownloadTab() {
  auto* page = new QWidget;
  auto* maxTasks = new QComboBox(page);
  auto* maxTasksLabel = CaptionLabel(page);
  auto* threads = new QComboBox(page);
  auto* threadsLabel = CaptionLabel(page);
  auto* merge = new QCheckBox(page);
  BindComboBox(FForm.cbb1, maxTasks, maxTasksLabel);
  BindComboBox(FForm.cbb2, threads, threadsLabel);
  BindCheckBox(FForm.chk3, merge);

  // The priority selector lies beyond the window's right edge, where no user reaches it: the
  // default priority applies.
  auto* priority = new QComboBox(page);
  auto* priorityLabel = CaptionLabel(page);
  BindComboBox(FForm.cbb3, priority, priorityLabel);
  priorityLabel->move(TForm1::Width + 40, 12);
  priority->move(TForm1::Width + 120, 8);

  auto* segments = new QTreeWidget(page);
  BindListView(FForm.lv1, segments, nullptr);
  auto* mergeHeading = CaptionLabel(page);
  auto* merges = new QTreeWidget(page);
  BindListView(FForm.lv3, merges, mergeHeading);

  auto* layout = new QVBoxLayout(page);
  auto* settings = Row({maxTasksLabel, maxTasks});
  settings->insertSpacing(2, 20);
  settings->insertWidget(3, threadsLabel);
  settings->insertWidget(4, threads);
  settings->insertSpacing(5, 20);
  settings->insertWidget(6, merge);
  layout->addLayout(settings);
  layout->addWidget(segments, 3);
  layout->addWidget(mergeHeading);
  layout->addWidget(merges, 1);
  return page;
}

QWidget* TMainWindow::BuildCommentTab() {
  auto* page = new QWidget;
  auto* startAll = new QPushButton(page);
  auto* stopAll = new QPushButton(page);
  auto* clear = new QPushButton(page);
  auto* stopOnLimit = new QCheckBox(page);
  BindButton(FForm.btn4, startAll);
  BindButton(FForm.btn5, stopAll);
  BindButton(FForm.btn3, clear);
  BindCheckBox(FForm.chk2, stopOnLimit);
  auto* note = new QLabel(page);
  note->setWordWrap(true);
  note->setStyleSheet("QLabel { color: #a04000; }");
  BindLabel(FForm.lbl8, note);

  auto* tasks = new QTreeWidget(page);
  BindListView(FForm.lv4, tasks, nullptr);
  auto* doneHeading = CaptionLabel(page);
  auto* done = new QTreeWidget(page);
  BindListView(FForm.lv5, done, doneHeading);

  auto* layout = new QVBoxLayout(page);
  auto* buttons = Row({startAll, stopAll, clear});
  buttons->insertSpacing(3, 20);
  buttons->insertWidget(4, stopOnLimit);
  layout->addLayout(buttons);
  layout->addWidget(note);
  layout->addWidget(tasks, 2);
  layout->addWidget(doneHeading);
  layout->addWidget(done, 1);
  return page;
}

void TMainWindow::BuildDonationPanel() {
  auto* panel = new QFrame(this);
  panel->setFrameShape(QFrame::Box);
  panel->setAutoFillBackground(true);
  auto* picture = new QLabel(panel);
  picture->setPixmap(QrPlaceholderPicture(240));
  picture->setAlignment(Qt::AlignCenter);
  picture->setCursor(Qt::PointingHandCursor);
  auto* text = new QLabel(panel);
  text->setWordWrap(true);
  auto* layout = new QVBoxLayout(panel);
  layout->addWidget(picture, 1);
  layout->addWidget(text);
  BindImage(FForm.img1, picture);
  BindLabel(FForm.lbl9, text);
  BindPanel(FForm.pnl6, panel);
}
