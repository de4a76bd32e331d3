#include "cli/ProgressView.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "app/TextRoutines.h"

namespace {

constexpr int kBarColumns = 24;
// Narrower than this, a line is only cut, never laid out.
constexpr int kMinimumColumns = 20;

}  // namespace

TProgressView::TProgressView(std::ostream& aOut, bool aTerminal, std::function<int()> aColumns)
    : FOut(aOut), FTerminal(aTerminal), FColumns(std::move(aColumns)) {}

void TProgressView::Event(const std::string& aLine) {
  EraseLiveLines();
  FOut << aLine << '\n';
  DrawLiveLines();
  FOut.flush();
}

std::string TProgressView::SegmentLine(const TSegmentProgress& aSegment, int aColumns) {
  std::string share = aSegment.Total > 0 ? ProgressText(aSegment.Done, aSegment.Total) : "";
  std::string tail(1, ' ');
  tail.append(ProgressBar(aSegment.Done, aSegment.Total, kBarColumns)).append(" ").append(share).append("  ");
  tail.append(FormatSpeed(aSegment.Speed));
  int room = aColumns - DisplayWidth(tail);
  if (room < 8) return FitToWidth(aSegment.Name + tail, aColumns);
  std::string name = FitToWidth(aSegment.Name, room);
  return name + std::string(room - DisplayWidth(name), ' ') + tail;
}

void TProgressView::Update(const std::vector<TSegmentProgress>& aRunning, const TOverallProgress& aOverall,
                           TClock::time_point aNow) {
  std::string overall = OverallLine(aOverall);
  if (!FTerminal) {
    // A log gets the overall line now and then, once data flows, and only when it says something new.
    if (aOverall.Done == 0 || aNow - FLastPlain < kPlainInterval || overall == FLastPlainLine) return;
    FLastPlain = aNow;
    FLastPlainLine = overall;
    FOut << overall << std::endl;
    return;
  }
  int columns = std::max(FColumns(), kMinimumColumns);
  // The last column stays free: writing into it makes some terminals wrap the line.
  std::vector<std::string> live;
  for (const auto& segment : aRunning) live.push_back(SegmentLine(segment, columns - 1));
  live.push_back(FitToWidth(overall, columns - 1));
  EraseLiveLines();
  FLive = std::move(live);
  DrawLiveLines();
  FOut.flush();
}

void TProgressView::Finish() {
  EraseLiveLines();
  FLive.clear();
  FOut.flush();
}

void TProgressView::EraseLiveLines() {
  if (!FTerminal || FDrawn == 0) return;
  // Up to the first live line, then everything below it cleared.
  FOut << "\x1b[" << FDrawn << "F\x1b[J";
  FDrawn = 0;
}

void TProgressView::DrawLiveLines() {
  if (!FTerminal) return;
  for (const auto& line : FLive) FOut << line << '\n';
  FDrawn = static_cast<int>(FLive.size());
}

bool StdoutIsTerminal() {
  const char* term = std::getenv("TERM");
  return isatty(STDOUT_FILENO) && term != nullptr && std::strcmp(term, "dumb") != 0;
}

int TerminalColumns() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}
