// The console's progress display: texts that fit the terminal, bars redrawn in place on a terminal
// and plain lines elsewhere, and the speed measured over the last seconds.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/ProgressView.h"
#include "cli/RateMeter.h"

TEST(ProgressText, WidthsAndCuts) {
  EXPECT_EQ(DisplayWidth("abc"), 3);
  EXPECT_EQ(DisplayWidth("第1话"), 5);
  EXPECT_EQ(DisplayWidth("（1）"), 5);  // full-width brackets
  EXPECT_EQ(DisplayWidth("\xff\xfe"), 2);  // stray bytes count as one each
  struct TCase {
    std::string Text;
    int Columns;
    std::string Fitted;
  } cases[] = {
      {"abcdef", 6, "abcdef"},   {"abcdef", 5, "abcd…"},     {"第一集第二集", 7, "第一集…"},
      {"第一集第二集", 6, "第一…"}, {"ab", 0, ""},             {"第", 1, "…"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FitToWidth(c.Text, c.Columns), c.Fitted) << c.Text << " " << c.Columns;
    EXPECT_LE(DisplayWidth(FitToWidth(c.Text, c.Columns)), c.Columns);
  }
}

TEST(ProgressText, BarsTimesAndTheOverallLine) {
  EXPECT_EQ(ProgressBar(0, 0, 4), "[----]");
  EXPECT_EQ(ProgressBar(50, 100, 4), "[##--]");
  EXPECT_EQ(ProgressBar(150, 100, 4), "[####]");
  EXPECT_EQ(ProgressBar(-5, 100, 4), "[----]");
  EXPECT_EQ(FormatTimeLeft(-1), "--:--");
  EXPECT_EQ(FormatTimeLeft(0), "00:00");
  EXPECT_EQ(FormatTimeLeft(83), "01:23");
  EXPECT_EQ(FormatTimeLeft(3725), "1:02:05");

  TOverallProgress progress;
  progress.Done = 1048576;
  progress.Total = 4 * 1048576;
  progress.Speed = 1048576;
  progress.SegmentsSaved = 1;
  progress.Segments = 4;
  progress.SizesKnown = true;
  EXPECT_EQ(OverallLine(progress), "总计 1.00MB / 4.00MB  25.00%  1.00 MB/S  剩余 00:03  分段 1/4");
  // A size still unknown leaves the time open; nothing arriving does too.
  progress.SizesKnown = false;
  EXPECT_EQ(OverallLine(progress), "总计 1.00MB / 4.00MB  25.00%  1.00 MB/S  剩余 --:--  分段 1/4");
  progress.SizesKnown = true;
  progress.Speed = 0;
  EXPECT_EQ(OverallLine(progress), "总计 1.00MB / 4.00MB  25.00%  0.00 B/S  剩余 --:--  分段 1/4");
  progress.Done = progress.Total;
  EXPECT_EQ(OverallLine(progress), "总计 4.00MB / 4.00MB  100.00%  0.00 B/S  剩余 00:00  分段 1/4");
  EXPECT_EQ(OverallLine(TOverallProgress{}), "总计 0  0.00 B/S  剩余 --:--  分段 0/0");
}

TEST(ProgressView, SegmentLinesFitTheTerminal) {
  TSegmentProgress segment{"001 第一集 Opening 3-1", 512, 1024, 1536};
  for (int columns : {20, 40, 60, 79, 200}) {
    std::string line = TProgressView::SegmentLine(segment, columns);
    EXPECT_LE(DisplayWidth(line), columns) << line;
  }
  // The name, padded so that the bars of all lines stand one under the other at the right.
  const std::string tail = " [############------------] 50.00%  1.50 KB/S";
  std::string line = TProgressView::SegmentLine(segment, 79);
  EXPECT_EQ(line, segment.Name + std::string(79 - DisplayWidth(segment.Name + tail), ' ') + tail);
  EXPECT_EQ(TProgressView::SegmentLine(segment, 60), "001 第一集 Ope…" + tail);
  // Too narrow to lay out: the line is only cut.
  EXPECT_EQ(TProgressView::SegmentLine(segment, 30), "001 第一集 Opening 3-1 [#####…");
  TSegmentProgress unknown{"x", 0, 0, 0};
  EXPECT_EQ(TProgressView::SegmentLine(unknown, 50), "x            [------------------------]   0.00 B/S");
}

TEST(ProgressView, OnATerminalTheLiveLinesAreRedrawnBelowTheEvents) {
  std::ostringstream out;
  TProgressView view(out, true, [] { return 60; });
  TOverallProgress overall;
  overall.Done = 100;
  view.Update({{"a", 1, 2, 0}, {"b", 0, 0, 0}}, overall);
  std::string first = out.str();
  EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 3);
  EXPECT_EQ(first.find("\x1b["), std::string::npos);  // nothing drawn before: nothing erased

  out.str("");
  view.Event("已完成：a.flv");
  // The three live lines erased, the event written, the live lines drawn again under it.
  EXPECT_EQ(out.str(), "\x1b[3F\x1b[J已完成：a.flv\n" + first);

  out.str("");
  view.Update({}, overall);
  EXPECT_EQ(out.str(), "\x1b[3F\x1b[J总计 100  0.00 B/S  剩余 --:--  分段 0/0\n");
  out.str("");
  view.Finish();
  EXPECT_EQ(out.str(), "\x1b[1F\x1b[J");
  out.str("");
  view.Event("done");
  EXPECT_EQ(out.str(), "done\n");
}

TEST(ProgressView, ElsewhereTheOverallLineComesNowAndThen) {
  std::ostringstream out;
  TProgressView view(out, false, [] { return 80; });
  TOverallProgress overall;
  auto start = TProgressView::TClock::now();
  view.Update({{"a", 0, 0, 0}}, overall, start);  // nothing has arrived yet: nothing said
  EXPECT_EQ(out.str(), "");
  overall.Done = 10;
  view.Update({{"a", 10, 0, 0}}, overall, start + std::chrono::milliseconds(200));
  EXPECT_EQ(out.str(), "总计 10  0.00 B/S  剩余 --:--  分段 0/0\n");
  overall.Done = 20;
  view.Update({}, overall, start + std::chrono::seconds(2));
  view.Event("已完成：a.flv");
  view.Update({}, overall, start + std::chrono::seconds(6));
  view.Update({}, overall, start + std::chrono::seconds(12));  // nothing new
  EXPECT_EQ(out.str(),
            "总计 10  0.00 B/S  剩余 --:--  分段 0/0\n"
            "已完成：a.flv\n"
            "总计 20  0.00 B/S  剩余 --:--  分段 0/0\n");
  EXPECT_EQ(out.str().find('\x1b'), std::string::npos);
}

TEST(RateMeter, MeasuresOverTheLastSeconds) {
  TRateMeter meter(std::chrono::seconds(3));
  auto t = TRateMeter::TClock::now();
  EXPECT_EQ(meter.Rate(), 0);
  meter.Sample(0, t);
  EXPECT_EQ(meter.Rate(), 0);
  meter.Sample(1000, t + std::chrono::seconds(1));
  EXPECT_DOUBLE_EQ(meter.Rate(), 1000);
  meter.Sample(2000, t + std::chrono::seconds(2));
  // A burst long ago drops out of the window.
  meter.Sample(2000, t + std::chrono::seconds(6));
  meter.Sample(2300, t + std::chrono::seconds(7));
  EXPECT_NEAR(meter.Rate(), 300.0 / 5, 1e-9);
  meter.Sample(2300, t + std::chrono::seconds(10));
  EXPECT_EQ(meter.Rate(), 0);  // nothing for the last three seconds
  // A count that went down starts afresh.
  meter.Sample(5, t + std::chrono::seconds(11));
  EXPECT_EQ(meter.Rate(), 0);
}
