#pragma once
// The join behind FlvBind.exe, done through FLVLib's exported operations only: every source's audio
// and video tags are copied in order onto one clock (each source continues at the previous one's
// end), then the result gets a fresh "onMetaData" tag.
#include <cstdio>

enum TBindExitCode {
  bcUsage = -1,
  bcDone = 0,
  bcCannotCreateOutput = 1,
  bcCannotOpenSource = 2,
  bcBadSource = 3,
  bcWriteFailed = 4,
  bcOutputIsSource = 5,
};

class TFlvBinder {
public:
  // Messages go to aMessages (the standard error stream in the program).
  explicit TFlvBinder(FILE* aMessages) : FMessages(aMessages) {}
  void PrintBanner();
  // Joins aSources (at least one) into aOutput; returns the program's exit code.
  int Bind(const char* aOutput, char* const* aSources, int aCount);

private:
  FILE* FMessages;
};
