#pragma once
// The main window: lays out the widgets of the three tabs, the status area and the donation panel,
// and binds each of them to its control in the window model; closing it runs the model's close
// request.
#include <QWidget>

class QTabWidget;
class TForm1;

class TMainWindow : public QWidget {
public:
  // aForm must outlive the window.
  explicit TMainWindow(TForm1& aForm);
  QTabWidget* Tabs() const { return FTabs; }

  // Runs the window's close request once it is allowed: true when the window may close. Without
  // aUnattended the user may be asked and may refuse.
  bool RunCloseRequest(bool aUnattended);
  // Closes the window where no one can answer: open dialogs are dismissed first, and the close
  // request asks nothing.
  void CloseUnattended();

protected:
  void closeEvent(QCloseEvent* aEvent) override;

private:
  QWidget* BuildListingTab();
  QWidget* BuildDownloadTab();
  QWidget* BuildCommentTab();
  void BuildDonationPanel();

  TForm1& FForm;
  QTabWidget* FTabs;
};
