#pragma once
// What the console shows while the run goes on. Event lines (a segment started, saved or failed, a
// part merged, a comment list saved) stay on the screen. On a terminal, below them, one bar per
// running segment and the overall line are redrawn in place; elsewhere (a pipe, a file) the overall
// line is printed now and then as a plain line.
#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/ProgressText.h"

struct TSegmentProgress {
  std::string Name;
  int64_t Done = 0;
  int64_t Total = 0;  // 0: not known yet
  double Speed = 0;   // bytes per second, as the engine measures it
};

class TProgressView {
public:
  using TClock = std::chrono::steady_clock;
  // aColumns: the terminal's width now (asked at every redraw, so a resized window is followed).
  TProgressView(std::ostream& aOut, bool aTerminal, std::function<int()> aColumns);

  void Event(const std::string& aLine);
  void Update(const std::vector<TSegmentProgress>& aRunning, const TOverallProgress& aOverall,
              TClock::time_point aNow = TClock::now());
  // Takes the live lines away (terminal) so the summary follows the events.
  void Finish();

  // One running segment's line: the name, its bar, share and speed, within aColumns columns.
  static std::string SegmentLine(const TSegmentProgress& aSegment, int aColumns);

  // How often the plain overall line is printed.
  static constexpr std::chrono::seconds kPlainInterval{5};

private:
  void EraseLiveLines();
  void DrawLiveLines();

  std::ostream& FOut;
  bool FTerminal;
  std::function<int()> FColumns;
  std::vector<std::string> FLive;  // what is drawn below the events now
  int FDrawn = 0;
  TClock::time_point FLastPlain{};
  std::string FLastPlainLine;
};

// Whether standard output is a terminal that understands cursor movement, and its width.
bool StdoutIsTerminal();
int TerminalColumns();
