#include "gui/Bindings.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/Controls.h"

namespace {

QString Q(const std::string& aText) { return QString::fromStdString(aText); }

// Left clicks on widgets that have no clicked signal (labels, pictures).
class TClickFilter : public QObject {
public:
  TClickFilter(QWidget* aWidget, std::function<void()> aOnClick) : QObject(aWidget), FOnClick(std::move(aOnClick)) {
    aWidget->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* aEvent) override {
    if (aEvent->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(aEvent)->button() == Qt::LeftButton)
      FOnClick();
    return false;
  }

private:
  std::function<void()> FOnClick;
};

// Mouse buttons going down on a widget, handed on; the widget still sees them.
class TMouseDownFilter : public QObject {
public:
  TMouseDownFilter(QWidget* aWidget, std::function<void(TMouseButton, const QPoint&)> aOnMouseDown)
      : QObject(aWidget), FOnMouseDown(std::move(aOnMouseDown)) {
    aWidget->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* aEvent) override {
    if (aEvent->type() != QEvent::MouseButtonPress) return false;
    auto* event = static_cast<QMouseEvent*>(aEvent);
    switch (event->button()) {
      case Qt::LeftButton: FOnMouseDown(TMouseButton::mbLeft, event->position().toPoint()); break;
      case Qt::RightButton: FOnMouseDown(TMouseButton::mbRight, event->position().toPoint()); break;
      case Qt::MiddleButton: FOnMouseDown(TMouseButton::mbMiddle, event->position().toPoint()); break;
      default: break;
    }
    return false;
  }

private:
  std::function<void(TMouseButton, const QPoint&)> FOnMouseDown;
};

// The model counts its selection in bytes of UTF-8 text, the widget in UTF-16 units.
int Utf16Length(const std::string& aText, int aBytes) { return Q(aText.substr(0, aBytes)).size(); }
int Utf8Length(const QString& aText, int aUnits) { return static_cast<int>(aText.left(aUnits).toStdString().size()); }

void ShowEditSelection(const TEdit& aModel, QLineEdit* aWidget) {
  if (aModel.SelLength() == 0) {
    // Moving the cursor is the widget's business while nothing is selected.
    if (aWidget->hasSelectedText()) aWidget->deselect();
    return;
  }
  int start = Utf16Length(aModel.Text(), aModel.SelStart());
  int length = Utf16Length(aModel.Text(), aModel.SelStart() + aModel.SelLength()) - start;
  if (aWidget->selectionStart() != start || aWidget->selectionLength() != length) aWidget->setSelection(start, length);
}

using TRefresh = std::function<void(const TControlChange&)>;

// Routes aModel's notifications to aRefresh (run once now to show the current state) until the
// widget is gone.
void Attach(TControl& aModel, QObject* aWidget, TRefresh aRefresh) {
  aRefresh({TChangeKind::ckProperties, -1});
  aModel.OnViewChange = [aRefresh](TControl*, const TControlChange& aChange) { aRefresh(aChange); };
  QObject::connect(aWidget, &QObject::destroyed, [&aModel] { aModel.OnViewChange = nullptr; });
}

// Qt hands the focus of a widget being disabled on to the next widget of the tab chain: after
// "解析" that is the read-only save folder, where typing goes nowhere. The focus goes back to the
// widget the user came from instead, the one before it that takes the keyboard.
void GiveFocusBack(QWidget* aWidget) {
  for (QWidget* previous = aWidget->previousInFocusChain(); previous != aWidget;
       previous = previous->previousInFocusChain()) {
    if (previous->window() != aWidget->window()) continue;
    if ((previous->focusPolicy() & Qt::TabFocus) && previous->isEnabled() && previous->isVisible()) {
      previous->setFocus(Qt::BacktabFocusReason);
      return;
    }
  }
}

// What every control shows the same way: enable flag, visibility, hint, and the caption in the
// label that goes with it.
void ShowCommon(const TControl& aModel, QWidget* aWidget, QWidget* aCaptionLabel) {
  if (!aModel.Enabled() && aWidget->hasFocus()) GiveFocusBack(aWidget);
  aWidget->setEnabled(aModel.Enabled());
  aWidget->setVisible(aModel.Visible());
  aWidget->setToolTip(Q(aModel.Hint()));
  if (!aCaptionLabel) return;
  aCaptionLabel->setVisible(aModel.Visible());
  if (auto* label = qobject_cast<QLabel*>(aCaptionLabel))
    label->setText(Q(aModel.Caption()));
  else if (auto* group = qobject_cast<QGroupBox*>(aCaptionLabel))
    group->setTitle(Q(aModel.Caption()));
}

// Binds a control whose only own content is what ShowCommon shows, plus aShow.
void AttachSimple(TControl& aModel, QWidget* aWidget, QWidget* aCaptionLabel, std::function<void()> aShow = {}) {
  aWidget->setObjectName(Q(aModel.Name()));
  Attach(aModel, aWidget, [&aModel, aWidget, aCaptionLabel, aShow](const TControlChange&) {
    ShowCommon(aModel, aWidget, aCaptionLabel);
    if (aShow) aShow();
  });
}

QStringList RowTexts(const TListView& aModel, int aRow) {
  QStringList texts{Q(aModel.ItemCaption(aRow))};
  for (int column = 1; column < static_cast<int>(aModel.Columns().size()); ++column)
    texts << Q(aModel.SubItem(aRow, column - 1));
  return texts;
}

void ShowRow(const TListView& aModel, QTreeWidgetItem* aItem, int aRow) {
  QStringList texts = RowTexts(aModel, aRow);
  for (int column = 0; column < texts.size(); ++column)
    if (aItem->text(column) != texts[column]) aItem->setText(column, texts[column]);
}

// A row's texts may change far more often than anyone can read them (a download's progress
// changes with every block received): a row that has not been redrawn for a while is redrawn at
// once, otherwise at the end of a short interval, with its texts of then.
class TRowRefresh : public QObject {
public:
  TRowRefresh(const TListView& aModel, QTreeWidget* aWidget) : QObject(aWidget), FModel(aModel), FWidget(aWidget) {
    FTimer.setSingleShot(true);
    FTimer.setInterval(kInterval);
    connect(&FTimer, &QTimer::timeout, this, [this] { ShowPending(); });
  }
  void Changed(QTreeWidgetItem* aItem) {
    auto now = TClock::now();
    auto shown = FShown.find(aItem);
    if (shown == FShown.end() || now - shown->second >= kInterval) {
      FPending.erase(aItem);
      Show(aItem, now);
      return;
    }
    FPending.insert(aItem);
    if (!FTimer.isActive()) FTimer.start();
  }
  // The row is about to go.
  void Forget(QTreeWidgetItem* aItem) {
    FShown.erase(aItem);
    FPending.erase(aItem);
  }
  void ForgetAll() {
    FShown.clear();
    FPending.clear();
  }

private:
  using TClock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kInterval{25};

  void Show(QTreeWidgetItem* aItem, TClock::time_point aNow) {
    ShowRow(FModel, aItem, FWidget->indexOfTopLevelItem(aItem));
    FShown[aItem] = aNow;
  }
  void ShowPending() {
    auto now = TClock::now();
    for (QTreeWidgetItem* item : FPending) Show(item, now);
    FPending.clear();
  }

  const TListView& FModel;
  QTreeWidget* FWidget;
  QTimer FTimer;
  std::unordered_map<QTreeWidgetItem*, TClock::time_point> FShown;
  std::unordered_set<QTreeWidgetItem*> FPending;
};

// Shows the model's selection of aRow, or of every row when aRow is -1, as one change of the
// widget's selection (one pass over the rows, however many changed).
void ShowSelection(const TListView& aModel, QTreeWidget* aWidget, int aRow) {
  QAbstractItemModel* rows = aWidget->model();
  QItemSelectionModel* selection = aWidget->selectionModel();
  if (aRow >= 0) {
    auto flag = aModel.Selected(aRow) ? QItemSelectionModel::Select : QItemSelectionModel::Deselect;
    selection->select(rows->index(aRow, 0), flag | QItemSelectionModel::Rows);
    return;
  }
  QItemSelection shown;
  for (int row = 0; row < aModel.Count(); ++row) {
    if (!aModel.Selected(row)) continue;
    int last = row;
    while (aModel.Selected(last + 1)) ++last;
    shown.select(rows->index(row, 0), rows->index(last, 0));
    row = last;
  }
  selection->select(shown, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// The rows a selection delta touches, each once.
std::vector<int> SelectionRows(const QItemSelection& aDelta) {
  std::vector<int> rows;
  for (const QItemSelectionRange& range : aDelta)
    for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(row);
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

void PopupMenu(TListView& aModel, QTreeWidget* aWidget, const QPoint& aPos) {
  TPopupMenu* popup = aModel.PopupMenu();
  if (!popup) return;
  QMenu menu(aWidget);
  for (TMenuItem* item : popup->Items()) {
    if (!item->Visible()) continue;
    QAction* action = menu.addAction(Q(item->Caption()));
    action->setEnabled(item->Enabled());
    QObject::connect(action, &QAction::triggered, [item] { item->Click(); });
  }
  menu.exec(aWidget->viewport()->mapToGlobal(aPos));
}

}  // namespace

void BindWindow(TControl& aModel, QWidget* aWindow) {
  Attach(aModel, aWindow, [&aModel, aWindow](const TControlChange&) {
    aWindow->setWindowTitle(Q(aModel.Caption()));
    aWindow->setEnabled(aModel.Enabled());
  });
}

void BindTab(TControl& aModel, QTabWidget* aTabs, int aIndex) {
  Attach(aModel, aTabs, [&aModel, aTabs, aIndex](const TControlChange&) {
    aTabs->setTabText(aIndex, Q(aModel.Caption()));
    aTabs->setTabEnabled(aIndex, aModel.Enabled());
    aTabs->setTabVisible(aIndex, aModel.Visible());
    aTabs->setTabToolTip(aIndex, Q(aModel.Hint()));
  });
}

void BindButton(TButton& aModel, QAbstractButton* aWidget) {
  AttachSimple(aModel, aWidget, nullptr, [&aModel, aWidget] { aWidget->setText(Q(aModel.Caption())); });
  QObject::connect(aWidget, &QAbstractButton::clicked, [&aModel] { aModel.Click(); });
}

void BindCheckBox(TCheckBox& aModel, QCheckBox* aWidget) {
  auto show = [&aModel, aWidget] {
    aWidget->setText(Q(aModel.Caption()));
    QSignalBlocker blocker(aWidget);
    aWidget->setChecked(aModel.Checked());
  };
  AttachSimple(aModel, aWidget, nullptr, show);
  QObject::connect(aWidget, &QAbstractButton::clicked, [&aModel, show](bool aChecked) {
    // The model decides: its handler may refuse the tick.
    if (aChecked != aModel.Checked()) aModel.Click();
    show();
  });
}

void BindEdit(TEdit& aModel, QLineEdit* aWidget, QLabel* aCaptionLabel) {
  AttachSimple(aModel, aWidget, aCaptionLabel, [&aModel, aWidget] {
    aWidget->setReadOnly(aModel.ReadOnly());
    if (aWidget->text() != Q(aModel.Text())) {
      aWidget->setText(Q(aModel.Text()));
      aWidget->setCursorPosition(0);
    }
    ShowEditSelection(aModel, aWidget);
  });
  QObject::connect(aWidget, &QLineEdit::textEdited, [&aModel](const QString& aText) { aModel.SetText(aText.toStdString()); });
  QObject::connect(aWidget, &QLineEdit::selectionChanged, [&aModel, aWidget] {
    QString text = aWidget->text();
    int start = aWidget->hasSelectedText() ? aWidget->selectionStart() : 0;
    int end = start + aWidget->selectionLength();
    aModel.SetSelection(Utf8Length(text, start), Utf8Length(text, end) - Utf8Length(text, start));
  });
  new TMouseDownFilter(aWidget, [&aModel](TMouseButton aButton, const QPoint& aPos) {
    aModel.MouseDown(aButton, aPos.x(), aPos.y());
  });
}

void BindComboBox(TComboBox& aModel, QComboBox* aWidget, QWidget* aCaptionLabel) {
  AttachSimple(aModel, aWidget, aCaptionLabel, [&aModel, aWidget] {
    QSignalBlocker blocker(aWidget);
    QStringList items;
    for (const auto& item : aModel.Items()) items << Q(item);
    QStringList shown;
    for (int i = 0; i < aWidget->count(); ++i) shown << aWidget->itemText(i);
    if (shown != items) {
      aWidget->clear();
      aWidget->addItems(items);
    }
    aWidget->setCurrentIndex(aModel.ItemIndex());
  });
  QObject::connect(aWidget, &QComboBox::activated, [&aModel](int aIndex) { aModel.Select(aIndex); });
}

void BindLabel(TLabel& aModel, QLabel* aWidget) {
  AttachSimple(aModel, aWidget, nullptr, [&aModel, aWidget] { aWidget->setText(Q(aModel.Caption())); });
  new TClickFilter(aWidget, [&aModel] { aModel.Click(); });
}

void BindImage(TImage& aModel, QLabel* aWidget) {
  AttachSimple(aModel, aWidget, nullptr);
  new TClickFilter(aWidget, [&aModel] { aModel.Click(); });
}

void BindPanel(TPanel& aModel, QWidget* aWidget) {
  AttachSimple(aModel, aWidget, nullptr, [&aModel, aWidget] {
    aWidget->setGeometry(aModel.Left(), aModel.Top(), aModel.Width(), aModel.Height());
    if (aModel.Visible()) aWidget->raise();
  });
}

void BindListView(TListView& aModel, QTreeWidget* aWidget, QLabel* aCaptionLabel) {
  aWidget->setObjectName(Q(aModel.Name()));
  aWidget->setRootIsDecorated(false);
  aWidget->setUniformRowHeights(true);
  aWidget->setAllColumnsShowFocus(true);
  aWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
  aWidget->setSelectionBehavior(QAbstractItemView::SelectRows);
  aWidget->setSelectionMode(aModel.MultiSelect() ? QAbstractItemView::ExtendedSelection
                                                 : QAbstractItemView::SingleSelection);
  QStringList headers;
  for (const auto& column : aModel.Columns()) headers << Q(column.Caption);
  aWidget->setHeaderLabels(headers);
  // The last column takes what the others leave of the list's width, so the headers span it.
  aWidget->header()->setStretchLastSection(true);
  for (int i = 0; i < static_cast<int>(aModel.Columns().size()); ++i) {
    // Zero-width columns only carry data.
    aWidget->setColumnHidden(i, aModel.Columns()[i].Width == 0);
    aWidget->header()->resizeSection(i, aModel.Columns()[i].Width);
  }

  // Set while one side takes over a change of the other, so that the change does not echo back:
  // the widget's own selection moves as rows come and go, and the model's already has.
  auto syncing = std::make_shared<bool>(false);
  auto* refresh = new TRowRefresh(aModel, aWidget);
  Attach(aModel, aWidget, [&aModel, aWidget, aCaptionLabel, syncing, refresh](const TControlChange& aChange) {
    if (aChange.Kind == TChangeKind::ckSelection && *syncing) return;
    QScopedValueRollback guard(*syncing, true);
    switch (aChange.Kind) {
      case TChangeKind::ckProperties:
        ShowCommon(aModel, aWidget, aCaptionLabel);
        break;
      case TChangeKind::ckRowInserted:
        aWidget->insertTopLevelItem(aChange.Row, new QTreeWidgetItem(RowTexts(aModel, aChange.Row)));
        // A row inserted inside a selected range would join it.
        ShowSelection(aModel, aWidget, aChange.Row);
        break;
      case TChangeKind::ckRowDeleted:
        if (QTreeWidgetItem* item = aWidget->takeTopLevelItem(aChange.Row)) {
          refresh->Forget(item);
          delete item;
        }
        // A single-selection view selects the row that becomes current in place of the deleted one.
        if (int current = aWidget->currentIndex().row(); current >= 0) ShowSelection(aModel, aWidget, current);
        break;
      case TChangeKind::ckRowChanged:
        if (QTreeWidgetItem* item = aWidget->topLevelItem(aChange.Row)) refresh->Changed(item);
        break;
      case TChangeKind::ckRowsCleared:
        refresh->ForgetAll();
        aWidget->clear();
        break;
      case TChangeKind::ckSelection:
        ShowSelection(aModel, aWidget, aChange.Row);
        break;
    }
  });
  {
    // Rows that existed before the binding.
    QScopedValueRollback guard(*syncing, true);
    for (int row = 0; row < aModel.Count(); ++row)
      aWidget->addTopLevelItem(new QTreeWidgetItem(RowTexts(aModel, row)));
    ShowSelection(aModel, aWidget, -1);
  }

  QObject::connect(aWidget->selectionModel(), &QItemSelectionModel::selectionChanged, aWidget,
                   [&aModel, syncing](const QItemSelection& aSelected, const QItemSelection& aDeselected) {
                     if (*syncing) return;
                     QScopedValueRollback guard(*syncing, true);
                     aModel.ChangeSelection(SelectionRows(aSelected), SelectionRows(aDeselected));
                   });
  QObject::connect(aWidget, &QTreeWidget::itemDoubleClicked, [&aModel] { aModel.DblClick(); });
  aWidget->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(aWidget, &QWidget::customContextMenuRequested,
                   [&aModel, aWidget](const QPoint& aPos) { PopupMenu(aModel, aWidget, aPos); });
}
