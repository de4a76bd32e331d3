#include "app/Controls.h"

#include <algorithm>

#include "app/AppPlatform.h"

TControl::TControl(std::string aName, std::string aCaption) : FName(std::move(aName)), FCaption(std::move(aCaption)) {}

void TControl::SetCaption(const std::string& aValue) { Store(FCaption, aValue); }
void TControl::SetHint(const std::string& aValue) { Store(FHint, aValue); }
void TControl::SetEnabled(bool aValue) { Store(FEnabled, aValue); }
void TControl::SetVisible(bool aValue) { Store(FVisible, aValue); }

void TControl::Notify(TChangeKind aKind, int aRow) {
  if (OnViewChange) OnViewChange(this, {aKind, aRow});
}

void TButton::Click() {
  if (Enabled() && OnClick) OnClick(this);
}

void TLabel::Click() {
  if (Enabled() && OnClick) OnClick(this);
}

void TImage::Click() {
  if (Enabled() && OnClick) OnClick(this);
}

void TMenuItem::Click() {
  if (Enabled() && OnClick) OnClick(this);
}

void TEdit::SetText(const std::string& aValue) {
  if (FText == aValue) return;
  FText = aValue;
  FSelStart = FSelLength = 0;
  Notify();
}

void TEdit::SetSelection(int aStart, int aLength) {
  int size = static_cast<int>(FText.size());
  int start = std::clamp(aStart, 0, size);
  int length = std::clamp(aLength, 0, size - start);
  if (start == FSelStart && length == FSelLength) return;
  FSelStart = start;
  FSelLength = length;
  Notify();
}

void TEdit::MouseDown(TMouseButton aButton, int X, int Y) {
  if (Enabled() && OnMouseDown) OnMouseDown(this, aButton, X, Y);
}

void TCheckBox::SetChecked(bool aValue) {
  if (FChecked == aValue) return;
  FChecked = aValue;
  Notify();
  if (OnClick) OnClick(this);
}

void TCheckBox::Click() {
  if (Enabled()) SetChecked(!FChecked);
}

void TComboBox::SetItems(std::vector<std::string> aItems) {
  FItems = std::move(aItems);
  FItemIndex = -1;
  Notify();
}

void TComboBox::SetItemIndex(int aValue) {
  if (aValue < -1 || aValue >= static_cast<int>(FItems.size())) return;
  Store(FItemIndex, aValue);
}

std::string TComboBox::Text() const { return FItemIndex >= 0 ? FItems[FItemIndex] : std::string(); }

void TComboBox::Select(int aIndex) {
  if (!Enabled() || aIndex < 0 || aIndex >= static_cast<int>(FItems.size())) return;
  SetItemIndex(aIndex);
  if (OnChange) OnChange(this);
}

TPopupMenu::TPopupMenu(std::string aName, std::vector<TMenuItem*> aItems)
    : TControl(std::move(aName)), FItems(std::move(aItems)) {}

TListView::TListView(std::string aName, std::vector<TListColumn> aColumns, bool aMultiSelect, std::string aCaption)
    : TControl(std::move(aName), std::move(aCaption)), FColumns(std::move(aColumns)), FMultiSelect(aMultiSelect) {}

int TListView::Add(const std::string& aCaption, const std::vector<std::string>& aSubItems) {
  FRows.push_back({aCaption, aSubItems, false});
  int index = Count() - 1;
  Notify(TChangeKind::ckRowInserted, index);
  if (OnInsert) OnInsert(this, index);
  return index;
}

void TListView::Delete(int aIndex) {
  if (!ValidRow(aIndex)) return;
  FRows.erase(FRows.begin() + aIndex);
  Notify(TChangeKind::ckRowDeleted, aIndex);
}

void TListView::Clear() {
  if (FRows.empty()) return;
  FRows.clear();
  Notify(TChangeKind::ckRowsCleared);
}

std::string TListView::ItemCaption(int aIndex) const { return ValidRow(aIndex) ? FRows[aIndex].Caption : std::string(); }

void TListView::SetItemCaption(int aIndex, const std::string& aValue) {
  if (!ValidRow(aIndex) || FRows[aIndex].Caption == aValue) return;
  FRows[aIndex].Caption = aValue;
  Notify(TChangeKind::ckRowChanged, aIndex);
}

std::string TListView::SubItem(int aIndex, int aSubItem) const {
  if (!ValidRow(aIndex) || aSubItem < 0 || aSubItem >= static_cast<int>(FRows[aIndex].SubItems.size()))
    return std::string();
  return FRows[aIndex].SubItems[aSubItem];
}

void TListView::SetSubItem(int aIndex, int aSubItem, const std::string& aValue) {
  // Sub-items exist for the columns after the caption only.
  if (!ValidRow(aIndex) || aSubItem < 0 || aSubItem + 1 >= static_cast<int>(FColumns.size())) return;
  auto& subItems = FRows[aIndex].SubItems;
  if (aSubItem >= static_cast<int>(subItems.size())) subItems.resize(aSubItem + 1);
  if (subItems[aSubItem] == aValue) return;
  subItems[aSubItem] = aValue;
  Notify(TChangeKind::ckRowChanged, aIndex);
}

bool TListView::Selected(int aIndex) const { return ValidRow(aIndex) && FRows[aIndex].Selected; }

void TListView::SetSelected(int aIndex, bool aValue) {
  if (aValue)
    ChangeSelection({aIndex}, {});
  else
    ChangeSelection({}, {aIndex});
}

void TListView::ChangeSelection(const std::vector<int>& aSelect, const std::vector<int>& aDeselect) {
  int changed = 0, lastChanged = -1;
  auto mark = [&](int aRow, bool aValue) {
    if (!ValidRow(aRow) || FRows[aRow].Selected == aValue) return;
    FRows[aRow].Selected = aValue;
    ++changed;
    lastChanged = aRow;
  };
  for (int row : aDeselect) mark(row, false);
  if (FMultiSelect) {
    for (int row : aSelect) mark(row, true);
  } else {
    auto last = std::find_if(aSelect.rbegin(), aSelect.rend(), [this](int aRow) { return ValidRow(aRow); });
    if (last != aSelect.rend()) {
      for (int row = 0; row < Count(); ++row) mark(row, row == *last);
    }
  }
  if (changed > 0) Notify(TChangeKind::ckSelection, changed == 1 ? lastChanged : -1);
}

int TListView::SelCount() const {
  int count = 0;
  for (const auto& row : FRows) count += row.Selected ? 1 : 0;
  return count;
}

int TListView::FirstSelected() const {
  for (int i = 0; i < Count(); ++i)
    if (FRows[i].Selected) return i;
  return -1;
}

void TListView::DblClick() {
  if (Enabled() && OnDblClick) OnDblClick(this);
}

TPanel::TPanel(std::string aName, int aLeft, int aTop, int aWidth, int aHeight)
    : TControl(std::move(aName)), FLeft(aLeft), FTop(aTop), FWidth(aWidth), FHeight(aHeight) {}

TTimer::TTimer(TAppPlatform& aPlatform, int aInterval) : FPlatform(aPlatform), FInterval(aInterval) {}

TTimer::~TTimer() { SetEnabled(false); }

void TTimer::SetEnabled(bool aValue) {
  if (aValue == Enabled()) return;
  if (aValue) {
    FTimerId = FPlatform.StartTimer(FInterval, true, [this] {
      if (OnTimer) OnTimer(this);
    });
  } else {
    FPlatform.StopTimer(FTimerId);
    FTimerId = 0;
  }
}
