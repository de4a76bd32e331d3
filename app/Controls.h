#pragma once
// Toolkit-independent controls of the window model. Each control holds what a window shows (texts,
// tick states, rows, enable flags) and reports every change to the one view bound to it, so a GUI
// binds any control generically. The view hands the user's actions back through the setters and
// the Click/Select/DblClick entry points, which behave like the user: nothing happens on a
// disabled control.
#include <functional>
#include <string>
#include <vector>

class TAppPlatform;

enum class TChangeKind { ckProperties, ckRowInserted, ckRowDeleted, ckRowChanged, ckRowsCleared, ckSelection };

struct TControlChange {
  TChangeKind Kind;
  // The row of the row changes; for ckSelection the one row whose selection changed, or -1 when
  // several did. -1 otherwise.
  int Row;
};

class TControl {
public:
  explicit TControl(std::string aName, std::string aCaption = {});
  virtual ~TControl() = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  const std::string& Name() const { return FName; }
  // The control's own text: a button's or tick box's caption, a tab's title, the label in front of
  // a field or list, the window's caption.
  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& aValue);
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& aValue);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool aValue);
  bool Visible() const { return FVisible; }
  void SetVisible(bool aValue);

  // The bound view; told about every change of the control.
  std::function<void(TControl* Sender, const TControlChange& aChange)> OnViewChange;

protected:
  void Notify(TChangeKind aKind = TChangeKind::ckProperties, int aRow = -1);
  // Stores aValue into aField when it differs and notifies the view.
  template <typename T>
  void Store(T& aField, const T& aValue) {
    if (aField == aValue) return;
    aField = aValue;
    Notify();
  }

private:
  std::string FName;
  std::string FCaption;
  std::string FHint;
  bool FEnabled = true;
  bool FVisible = true;
};

class TButton : public TControl {
public:
  using TControl::TControl;
  void Click();
  std::function<void(TButton* Sender)> OnClick;
};

// A text that can be clicked (the status texts, "捐助", the notes).
class TLabel : public TControl {
public:
  using TControl::TControl;
  void Click();
  std::function<void(TLabel* Sender)> OnClick;
};

// A picture; what it shows is the view's business.
class TImage : public TControl {
public:
  using TControl::TControl;
  void Click();
  std::function<void(TImage* Sender)> OnClick;
};

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

class TEdit : public TControl {
public:
  using TControl::TControl;
  const std::string& Text() const { return FText; }
  // A new text drops the selection.
  void SetText(const std::string& aValue);
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool aValue) { Store(FReadOnly, aValue); }

  // The selected part of the text, in bytes of the text; clamped to the text.
  int SelStart() const { return FSelStart; }
  int SelLength() const { return FSelLength; }
  void SetSelection(int aStart, int aLength);
  void SelectAll() { SetSelection(0, static_cast<int>(FText.size())); }

  // A mouse button goes down over the field at (X, Y).
  void MouseDown(TMouseButton aButton, int X, int Y);
  std::function<void(TEdit* Sender, TMouseButton Button, int X, int Y)> OnMouseDown;

private:
  std::string FText;
  bool FReadOnly = false;
  int FSelStart = 0;
  int FSelLength = 0;
};

class TCheckBox : public TControl {
public:
  using TControl::TControl;
  bool Checked() const { return FChecked; }
  // Every change of the tick, by the user or by the program, runs OnClick.
  void SetChecked(bool aValue);
  void Click();  // the user toggles the tick
  std::function<void(TCheckBox* Sender)> OnClick;

private:
  bool FChecked = false;
};

// A drop-down list of fixed items.
class TComboBox : public TControl {
public:
  using TControl::TControl;
  const std::vector<std::string>& Items() const { return FItems; }
  void SetItems(std::vector<std::string> aItems);
  int ItemIndex() const { return FItemIndex; }
  // Programmatic choice: -1 or a valid index; runs no handler.
  void SetItemIndex(int aValue);
  std::string Text() const;
  // The user picks item aIndex (also the one already shown): runs OnChange.
  void Select(int aIndex);
  std::function<void(TComboBox* Sender)> OnChange;

private:
  std::vector<std::string> FItems;
  int FItemIndex = -1;
};

class TMenuItem : public TControl {
public:
  using TControl::TControl;
  void Click();
  std::function<void(TMenuItem* Sender)> OnClick;
};

class TPopupMenu : public TControl {
public:
  TPopupMenu(std::string aName, std::vector<TMenuItem*> aItems);
  const std::vector<TMenuItem*>& Items() const { return FItems; }

private:
  std::vector<TMenuItem*> FItems;
};

struct TListColumn {
  std::string Caption;
  int Width;  // 0: a hidden column that only carries data
};

struct TListItem {
  std::string Caption;
  std::vector<std::string> SubItems;
  bool Selected = false;
};

// A list with columns: the first column shows the row's caption, the others its sub-items.
class TListView : public TControl {
public:
  TListView(std::string aName, std::vector<TListColumn> aColumns, bool aMultiSelect, std::string aCaption = {});
  const std::vector<TListColumn>& Columns() const { return FColumns; }
  bool MultiSelect() const { return FMultiSelect; }
  TPopupMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(TPopupMenu* aMenu) { FPopupMenu = aMenu; }

  int Count() const { return static_cast<int>(FRows.size()); }
  const TListItem& Row(int aIndex) const { return FRows.at(aIndex); }
  // Appends a row; runs OnInsert. Returns its index.
  int Add(const std::string& aCaption, const std::vector<std::string>& aSubItems);
  void Delete(int aIndex);
  void Clear();

  // Out-of-range rows and sub-items read as empty texts; writing them is ignored.
  std::string ItemCaption(int aIndex) const;
  void SetItemCaption(int aIndex, const std::string& aValue);
  std::string SubItem(int aIndex, int aSubItem) const;
  void SetSubItem(int aIndex, int aSubItem, const std::string& aValue);

  bool Selected(int aIndex) const;
  // Selecting a row of a single-selection list deselects the others.
  void SetSelected(int aIndex, bool aValue);
  // Deselects aDeselect, then selects aSelect (in a single-selection list only its last row), as
  // one change told to the view once. Out-of-range rows are ignored.
  void ChangeSelection(const std::vector<int>& aSelect, const std::vector<int>& aDeselect);
  int SelCount() const;
  int FirstSelected() const;  // -1 when none

  void DblClick();  // the user double-clicks the list
  std::function<void(TListView* Sender, int aIndex)> OnInsert;
  std::function<void(TListView* Sender)> OnDblClick;

private:
  bool ValidRow(int aIndex) const { return aIndex >= 0 && aIndex < Count(); }

  std::vector<TListColumn> FColumns;
  bool FMultiSelect;
  std::vector<TListItem> FRows;
  TPopupMenu* FPopupMenu = nullptr;
};

// A panel drawn over the window; its place is in window pixels.
class TPanel : public TControl {
public:
  TPanel(std::string aName, int aLeft, int aTop, int aWidth, int aHeight);
  int Left() const { return FLeft; }
  void SetLeft(int aValue) { Store(FLeft, aValue); }
  int Top() const { return FTop; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }

private:
  int FLeft, FTop, FWidth, FHeight;
};

// A timer on the UI thread: OnTimer runs every Interval ms while Enabled.
class TTimer {
public:
  TTimer(TAppPlatform& aPlatform, int aInterval);
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  bool Enabled() const { return FTimerId != 0; }
  void SetEnabled(bool aValue);
  int Interval() const { return FInterval; }
  std::function<void(TTimer* Sender)> OnTimer;

private:
  TAppPlatform& FPlatform;
  int FInterval;
  int FTimerId = 0;
};
