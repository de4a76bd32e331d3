#pragma once
// zentavo-dl run as a child process against the local site: what it wrote (standard output and
// error in one file, in the order written) and how it ended.
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

class TProgramRun {
public:
  // Starts build/bin/zentavo-dl with aArgs in the folder aWorkFolder, with ZENTAVO_SITE set to
  // aSite (left out when empty) and no input.
  TProgramRun(const std::vector<std::string>& aArgs, const std::string& aSite, const std::string& aWorkFolder);
  // A program still running is killed and reaped.
  ~TProgramRun();
  TProgramRun(const TProgramRun&) = delete;
  TProgramRun& operator=(const TProgramRun&) = delete;

  // The exit status, or 128 + the signal that ended it; throws after aTimeoutMs.
  int Wait(int aTimeoutMs = 120000);
  void Signal(int aSignal);
  std::string Output() const;

private:
  zvtest::TempDir FOutputFolder;
  std::string FOutputFile;
  int FPid = -1;
  bool FReaped = false;
};

// Runs the program to its end: exit status and output.
struct TProgramResult {
  int Status;
  std::string Output;
};
TProgramResult RunProgram(const std::vector<std::string>& aArgs, const std::string& aSite, const std::string& aWorkFolder);
