#include "gui/ProgramEnd.h"

#include <fcntl.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <stdexcept>

#include "gui/MainWindow.h"

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// The handler only writes a byte into the pipe; the close runs on the UI thread when the event
// loop reads it.
int gSignalPipe[2] = {-1, -1};
struct sigaction gPreviousActions[std::size(kSignals)];

void OnSignal(int) {
  int saved = errno;
  char byte = 1;
  [[maybe_unused]] ssize_t written = write(gSignalPipe[1], &byte, 1);  // a full pipe already wakes the loop
  errno = saved;
}

}  // namespace

TProgramEnd::TProgramEnd(TMainWindow& aWindow) : QObject(&aWindow), FWindow(aWindow) {
  if (pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("no pipe for the termination signals");
  FSignalNotifier = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
  connect(FSignalNotifier.get(), &QSocketNotifier::activated, this, [this] {
    char bytes[64];
    while (read(gSignalPipe[0], bytes, sizeof bytes) > 0) {
    }
    FWindow.CloseUnattended();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &gPreviousActions[i]);

  // The session manager gives no chance to ask; whatever it does next, the work has been stopped.
  connect(qGuiApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { FWindow.RunCloseRequest(true); });
  connect(qGuiApp, &QCoreApplication::aboutToQuit, this, [this] { FWindow.RunCloseRequest(true); });
}

TProgramEnd::~TProgramEnd() {
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &gPreviousActions[i], nullptr);
  FSignalNotifier.reset();
  close(gSignalPipe[0]);
  close(gSignalPipe[1]);
  gSignalPipe[0] = gSignalPipe[1] = -1;
}
