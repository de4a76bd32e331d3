#include "tests/engine/DownLoadEvents.h"

#include <chrono>
#include <random>
#include <sstream>

#include "net/clSocketWait.h"
#include "tests/support/TestSupport.h"

namespace zvtest {

std::string PatternBytes(size_t aSize, uint32_t aSeed) {
  std::mt19937 random(aSeed);
  std::string bytes(aSize, '\0');
  for (char& c : bytes) c = char(random());
  return bytes;
}

TServedFile::TServedFile(size_t aSize) : Data(PatternBytes(aSize)) { WriteFile(Dir.File("source"), Data); }

fx::ServeOptions Slowly(int aSplit, int aDelayMs) {
  fx::ServeOptions options;
  options.Split = aSplit;
  options.DelayMs = aDelayMs;
  return options;
}

const char* StatusName(TclProcessStatus aStatus) {
  static const char* const names[] = {"psUnknown", "psSuccess", "psFailed", "psErrors", "psProcess", "psTerminated"};
  return names[aStatus];
}

bool ServeUntil(const std::function<bool()>& aDone, int aTimeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
  while (!aDone()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    ServedPause(10, nullptr);
  }
  return true;
}

TDownLoadEvents::TDownLoadEvents(TclMultiDownLoader& aControl) {
  auto id = [](TclInternetItem* aItem) { return std::to_string(aItem->ID()); };
  aControl.OnStatusChanged = [this, id](TclMultiInternetControl*, TclInternetItem* aItem, TclProcessStatus aStatus) {
    Add("status " + id(aItem) + " " + StatusName(aStatus));
    if (OnStatus) OnStatus(static_cast<TclDownLoadItem*>(aItem), aStatus);
  };
  aControl.OnError = [this, id](TclMultiInternetControl*, TclInternetItem* aItem, const std::string&, int32_t aCode) {
    Add("error " + id(aItem) + " " + std::to_string(aCode));
  };
  aControl.OnGetResourceInfo = [this, id](TclMultiInternetControl*, TclInternetItem* aItem, TclResourceInfo*) {
    Add("info " + id(aItem));
  };
  aControl.OnUrlParsing = [this, id](TclMultiInternetControl*, TclInternetItem* aItem, TclUrlParser&) {
    Add("url " + id(aItem));
  };
  aControl.OnDataItemProceed = [this](TclMultiInternetControl*, TclInternetItem* aItem, TclResourceInfo*,
                                      TclResourceStateItem*, const char*, int32_t aSize) { FData[aItem->ID()] += aSize; };
  aControl.OnDataTextProceed = [this, id](TclMultiDownLoader*, TclDownLoadItem* aItem, const TStrings&) {
    Add("text " + id(aItem));
  };
  aControl.OnIsBusyChanged = [this, &aControl](TclCustomInternetControl*) {
    Add(std::string("busy ") + (aControl.IsBusy() ? "1" : "0"));
  };
  aControl.OnProcessCompleted = [this, id](TclMultiInternetControl*, TclInternetItem* aItem) {
    Add("completed " + id(aItem) + " " + StatusName(aItem->ResourceState().LastStatus()));
    ++FCompleted;
    if (OnCompleted) OnCompleted(static_cast<TclDownLoadItem*>(aItem));
  };
}

std::vector<std::string> TDownLoadEvents::ItemLines(int32_t aID) const {
  std::vector<std::string> result;
  const std::string id = std::to_string(aID);
  for (const std::string& line : FLines) {
    std::istringstream words(line);
    std::string kind, which;
    words >> kind >> which;
    if (kind != "busy" && which == id) result.push_back(line);
  }
  return result;
}

int64_t TDownLoadEvents::DataBytes(int32_t aID) const {
  auto found = FData.find(aID);
  return found == FData.end() ? 0 : found->second;
}

std::vector<std::string> TDownLoadEvents::Errors() const {
  std::vector<std::string> result;
  for (const std::string& line : FLines)
    if (line.compare(0, 6, "error ") == 0) result.push_back(line);
  return result;
}

}  // namespace zvtest
