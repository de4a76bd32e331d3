#pragma once
// Ctrl-C (SIGINT) and SIGTERM asking the run to stop. The first one is only noted, so the run can
// stop its work and clean up; a second one ends the program at once, as if no handler were set.
#include <csignal>

class TStopSignals {
public:
  // Owns the process's handlers of both signals until destroyed; one instance at a time.
  TStopSignals();
  ~TStopSignals();
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

  // Whether a stop was asked for; a signal also ends the poll of the UI thread's wait early.
  bool Requested() const;
};
