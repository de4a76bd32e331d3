#pragma once
// The main window: lays out the widgets of the three tabs, the status area and the donation panel,
// and binds each of them to its control in the window model.
#include <QWidget>

class QTabWidget;
class TForm1;

class TMainWindow : public QWidget {
public:
  // aForm must outlive the window.
  explicit TMainWindow(TForm1& aForm);
  QTabWidget* Tabs() const { return FTabs; }

private:
  QWidget* BuildListingTab();
  QWidget* BuildDownloadTab();
  QWidget* BuildCommentTab();
  void BuildDonationPanel();

  TForm1& FForm;
  QTabWidget* FTabs;
};
