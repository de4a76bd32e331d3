#pragma once
// What the download engine tests share: bytes to serve, the events of a download control in the
// order they came, and serving the test thread's messages while a run goes on.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/clMultiDownLoader.h"
#include "tests/support/HttpFixture.h"

namespace zvtest {

// aSize bytes that differ at every offset a range could start from.
std::string PatternBytes(size_t aSize, uint32_t aSeed = 1);

// aSize pattern bytes in the file "source" of a scratch folder, and a fixture server for them:
// auto& [dir, data, server] = served.
struct TServedFile {
  explicit TServedFile(size_t aSize);
  TempDir Dir;
  std::string Data;
  HttpFixture Server;
};

// A file served in pieces of aSplit bytes, aDelayMs apart: a transfer that stays busy.
fx::ServeOptions Slowly(int aSplit, int aDelayMs);

const char* StatusName(TclProcessStatus aStatus);

// Serves the thread's messages until aDone holds; false after aTimeoutMs.
bool ServeUntil(const std::function<bool()>& aDone, int aTimeoutMs = 30000);

// The events of a control as lines: "status 3 psProcess", "error 3 404", "info 3", "url 3",
// "text 3", "completed 3 psSuccess", "busy 1"/"busy 0", with the item's ID; data blocks are
// counted per item instead. A line is added before any handler given to Then runs.
class TDownLoadEvents {
public:
  explicit TDownLoadEvents(TclMultiDownLoader& aControl);

  const std::vector<std::string>& Lines() const { return FLines; }
  // The lines that mention item aID, in order (busy lines excluded).
  std::vector<std::string> ItemLines(int32_t aID) const;
  int Completed() const { return FCompleted; }
  int64_t DataBytes(int32_t aID) const;
  std::vector<std::string> Errors() const;

  // Runs after the line of every completion.
  std::function<void(TclDownLoadItem* aItem)> OnCompleted;
  std::function<void(TclDownLoadItem* aItem, TclProcessStatus aStatus)> OnStatus;

private:
  void Add(const std::string& aLine) { FLines.push_back(aLine); }

  std::vector<std::string> FLines;
  std::map<int32_t, int64_t> FData;
  int FCompleted = 0;
};

}  // namespace zvtest
