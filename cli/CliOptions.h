#pragma once
// The command line of zentavo-dl: what the user asked for, in the terms of the window's settings.
#include <string>
#include <vector>

// Rows of the listing by their numbers (1-based), both ends included.
struct TPartRange {
  int First;
  int Last;
};

enum class TCommentChoice { ccNone, ccAlso, ccOnly };

struct TCliOptions {
  std::string PageAddress;
  int QualityIndex = 0;           // the quality list's index: 1080p, 720p, 480p, 360p
  std::string SaveFolder;         // empty: the current folder
  std::vector<TPartRange> Parts;  // empty: every part
  bool AddNumbers = true;         // the row number in front of file names
  bool NumbersOnly = false;       // the row number in place of the name
  TCommentChoice Comments = TCommentChoice::ccNone;
  int Jobs = 3;                   // items downloading at once
  int Connections = 5;            // connections per item
  bool Merge = true;              // segmented parts joined after download
  bool ListOnly = false;
  bool ShowHelp = false;
  bool ShowVersion = false;
};

struct TParsedCommandLine {
  TCliOptions Options;
  std::string Error;  // empty when the command line is usable
};

// The arguments after the program's name. --help and --version need no page address.
TParsedCommandLine ParseCommandLine(const std::vector<std::string>& aArgs);

// "1,3-5" as ranges; false (aError says why) when the text is not such a list.
bool ParsePartList(const std::string& aText, std::vector<TPartRange>& aRanges, std::string& aError);
// Whether row number aNumber is chosen (every row when aRanges is empty).
bool PartChosen(const std::vector<TPartRange>& aRanges, int aNumber);

// The items-at-once values the download tab offers.
const std::vector<int>& JobChoices();

std::string UsageText();
std::string VersionText();
