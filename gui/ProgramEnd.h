#pragma once
// Ends the program through the window's close request, without its question, when the process is
// told to terminate (SIGTERM, SIGHUP, SIGINT) or the desktop session ends, and runs the request
// before the event loop ends in any other way.
#include <QObject>
#include <memory>

class QSocketNotifier;
class TMainWindow;

class TProgramEnd : public QObject {
public:
  // Needs the QApplication; aWindow must outlive this object. One instance at a time: it owns the
  // process's handlers of those signals until it is destroyed.
  explicit TProgramEnd(TMainWindow& aWindow);
  ~TProgramEnd() override;

private:
  TMainWindow& FWindow;
  std::unique_ptr<QSocketNotifier> FSignalNotifier;
};
