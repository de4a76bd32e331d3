#pragma once
// The threader that downloads: an information request alone, or a GET of the whole body or of one
// byte range, read block by block into the data stream at the range's offsets.
//
// A ranged reply is checked against the range asked for before anything is written: bytes the
// server sends ahead of the requested offset (a server that ignores Range, or starts its range
// early) are read and dropped, and a reply that cannot deliver the requested bytes fails the
// attempt. A body that ends before the bytes asked for have arrived fails the attempt too; the
// next try continues where it stopped.
#include <condition_variable>
#include <exception>
#include <mutex>

#include "engine/clCustomThreader.h"

class TclDownLoadThreader : public TclCustomThreader {
public:
  // aIsGetResourceInfo: the information request only.
  TclDownLoadThreader(const std::string& aURL, TStream* aDataStream, bool aIsGetResourceInfo);

  bool IsGetResourceInfo() const { return FIsGetResourceInfo; }
  // Body bytes this threader wrote.
  int64_t Downloaded() const { return FDownloaded; }

protected:
  void HttpTransfer(TclSession& aSession) override;

private:
  void ReadBody(TclSession& aSession, HINTERNET hRequest, int64_t aSkip);
  // The reply's body ended: an error when it held fewer bytes than asked for (aSkipLeft: bytes
  // before the range that never came).
  void CheckComplete(int64_t aSkipLeft) const;
  void WriteBlock(const char* aData, int32_t aSize);
  void RaiseDataItemProceed(const char* aData, int32_t aSize);
  // Waits until the creating thread has handled every data event; raises a handler's exception.
  void WaitForDataEvents();

  bool FIsGetResourceInfo;
  std::vector<char> FBuffer;
  int64_t FDownloaded = 0;
  // Where the data of the first attempt began; a whole body starts there again on every try.
  int64_t FStartPos = -1;
  std::mutex FEventLock;
  std::condition_variable FEventHandled;
  int32_t FEventsInFlight = 0;
  std::exception_ptr FEventError;
};
