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
  ~TclDownLoadThreader() override { EndBeforeDestruction(); }

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
  // The buffer for the next block, once the event of the block it held last has been handled.
  char* NextBuffer();
  // A block was read into the buffer NextBuffer gave.
  void AddToRun(int32_t aSize);
  // Writes the blocks read and not written yet, then raises their events.
  void FlushRun();
  // The events of a written run of aBlocks blocks (aBytes in all) that starts at aFirst.
  void RaiseDataItemProceed(const char* aFirst, int32_t aBlocks, int64_t aBytes);
  // Waits until the creating thread has handled every data event; raises a handler's exception.
  void WaitForDataEvents();

  bool FIsGetResourceInfo;
  int64_t FDownloaded = 0;
  // Where the data of the first attempt began; a whole body starts there again on every try.
  int64_t FStartPos = -1;
  // The ring of block buffers, and the run of blocks in it that is read but not written yet:
  // consecutive buffers, all full but the last.
  std::vector<char> FRing;
  size_t FNextBuffer = 0;
  size_t FRunFirst = 0;
  int32_t FRunBlocks = 0;
  int64_t FRunBytes = 0;
  std::mutex FEventLock;
  std::condition_variable FEventHandled;
  int32_t FEventsInFlight = 0;
  std::exception_ptr FEventError;
};
