#include "cli/StopSignals.h"

#include <iterator>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM};
volatile sig_atomic_t gRequested = 0;
struct sigaction gPrevious[std::size(kSignals)];

void OnSignal(int aSignal) {
  gRequested = 1;
  // The next signal of either kind takes the default action: a user pressing Ctrl-C twice wants out.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  for (int signal : kSignals) sigaction(signal, &fallback, nullptr);
}

}  // namespace

TStopSignals::TStopSignals() {
  gRequested = 0;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Not restarted: a wait in poll() returns at once and the run looks at the request.
  action.sa_flags = 0;
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &gPrevious[i]);
}

TStopSignals::~TStopSignals() {
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &gPrevious[i], nullptr);
}

bool TStopSignals::Requested() const { return gRequested != 0; }
