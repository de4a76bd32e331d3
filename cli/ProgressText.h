#pragma once
// Texts of the console's progress display, built from the window's size, speed and share texts.
#include <cstdint>
#include <string>

// Columns a text takes on a terminal: wide (CJK, full-width) characters take two.
int DisplayWidth(const std::string& aText);
// aText cut at a character boundary to at most aColumns columns, "…" marking the cut.
std::string FitToWidth(const std::string& aText, int aColumns);
// A bar of aColumns cells between brackets, filled for the share aDone of aTotal (empty when the
// total is not known yet).
std::string ProgressBar(int64_t aDone, int64_t aTotal, int aColumns);
// Seconds as "MM:SS", or "H:MM:SS" from an hour on; "--:--" when not known (negative).
std::string FormatTimeLeft(int64_t aSeconds);

struct TOverallProgress {
  int64_t Done = 0;   // bytes received
  int64_t Total = 0;  // bytes of the segments whose size is known
  double Speed = 0;   // bytes per second
  int SegmentsSaved = 0;
  int Segments = 0;
  bool SizesKnown = false;  // every segment's size is known
};
// "总计 12.3MB / 45.6MB  27.00%  1.50 MB/S  剩余 00:22  分段 3/10".
std::string OverallLine(const TOverallProgress& aProgress);
