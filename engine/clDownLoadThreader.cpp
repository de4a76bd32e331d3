#include "engine/clDownLoadThreader.h"

#include <algorithm>
#include <utility>

#include "engine/clInternetError.h"
#include "engine/clRangeReply.h"
#include "engine/clReplyInfo.h"

namespace {

// Block buffers per threader, and the most blocks written at once.
constexpr int32_t cRingBlocks = 16;
constexpr int32_t cRunBlocks = 8;

}  // namespace

TclDownLoadThreader::TclDownLoadThreader(const std::string& aURL, TStream* aDataStream, bool aIsGetResourceInfo)
    : TclCustomThreader(aURL, aDataStream), FIsGetResourceInfo(aIsGetResourceInfo) {}

void TclDownLoadThreader::HttpTransfer(TclSession& aSession) {
  TStrings header = RequestHeader();
  header.erase(std::remove_if(header.begin(), header.end(),
                              [](const std::string& aLine) {
                                return TclStringsUtils::LowerCase(aLine).find("content-") != std::string::npos;
                              }),
               header.end());
  SetRequestHeader(header);

  HttpGetResourceInfo(aSession);
  if (FIsGetResourceInfo || BytesToProceed() == 0 || Terminated()) return;

  const bool ranged = BytesToProceed() >= 0;
  if (FStartPos < 0) FStartPos = ResourcePos();
  if (!ranged) {
    FDownloaded = 0;
    SetResourcePos(FStartPos);
  }
  const int64_t remaining = ranged ? BytesToProceed() - FDownloaded : -1;
  if (ranged && remaining <= 0) return;

  TclRequestPtr request = OpenRequest(aSession, "GET");
  if (Terminated()) return;
  const HINTERNET hRequest = request->hResource();
  // Ranges count the bytes as stored, so a ranged request never asks for a compressed body.
  AddRequestHeaders(hRequest, AllowCompression() && !ranged);
  if (ranged) {
    const std::string range = "Range: bytes=" + std::to_string(ResourcePos()) + "-" +
                              std::to_string(ResourcePos() + remaining - 1);
    HttpAddRequestHeadersA(hRequest, range.c_str(), DWORD(-1), HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  }
  const bool statusKnown = SendRequest(aSession, hRequest);
  if (Terminated()) return;
  if (DoNotGetResourceInfo()) {
    // Without the request handle: asking it whether the body can be positioned would move its read
    // position past the body this request is about to read.
    if (statusKnown) EvaluateReplyHeaders(nullptr, ResponseHeader(), ResourceInfoHolder());
    if (OnGetResourceInfo) Synchronize([&] { OnGetResourceInfo(this, ResourceInfo()); });
  }
  const TclResourceInfo* info = ResourceInfo();
  ReadBody(aSession, hRequest,
           ranged ? LeadingReplyBytes(info ? info->StatusCode() : 0, ResponseHeader(), ResourcePos(), info ? info->Size() : 0)
                  : 0);
}

void TclDownLoadThreader::ReadBody(TclSession& aSession, HINTERNET hRequest, int64_t aSkip) {
  const bool ranged = BytesToProceed() >= 0;
  if (DataStream() && !ranged) {
    std::unique_lock<std::mutex> lock;
    if (DataAccessor()) lock = std::unique_lock<std::mutex>(*DataAccessor());
    DataStream()->SetPosition(0);
  }
  FRing.assign(size_t(cRingBlocks) * size_t(BatchSize()), 0);
  FNextBuffer = 0;
  TclInternetReadFileAction read(&Connection(), aSession.Internet(), hRequest, nullptr);
  try {
    while (!Terminated()) {
      int64_t wanted = BatchSize();
      if (aSkip > 0)
        wanted = std::min(wanted, aSkip);
      else if (ranged)
        wanted = std::min(wanted, BytesToProceed() - FDownloaded - FRunBytes);
      if (wanted <= 0) break;
      read.SetBuffer(NextBuffer());
      read.SetNumberOfBytesToRead(DWORD(wanted));
      read.FireAction(TimeOut());
      const int32_t count = int32_t(read.lpdwNumberOfBytesRead());
      if (count == 0) break;
      if (aSkip > 0)
        aSkip -= count;
      else
        AddToRun(count);
    }
  } catch (...) {
    // What did arrive is kept, so that the next try asks only for the rest.
    FlushRun();
    throw;
  }
  FlushRun();
  WaitForDataEvents();
  if (!Terminated()) CheckComplete(aSkip);
}

void TclDownLoadThreader::CheckComplete(int64_t aSkipLeft) const {
  const TclResourceInfo* info = ResourceInfo();
  bool complete;
  if (BytesToProceed() >= 0)
    complete = aSkipLeft <= 0 && FDownloaded >= BytesToProceed();
  else
    // A decoded body has a length of its own.
    complete = !info || info->Size() <= 0 || (info->Compressed() && AllowCompression()) || FDownloaded >= info->Size();
  if (!complete)
    throw EclInternetError(EclInternetError::GetLastErrorText(ERROR_INTERNET_CONNECTION_ABORTED),
                           ERROR_INTERNET_CONNECTION_ABORTED);
}

char* TclDownLoadThreader::NextBuffer() {
  // A run never wraps around the end of the ring.
  if (FNextBuffer == 0) FlushRun();
  const size_t index = FNextBuffer;
  FNextBuffer = (FNextBuffer + 1) % cRingBlocks;
  // Blocks go out in the order they were read: with fewer blocks outstanding than buffers, the
  // oldest buffer is free.
  std::unique_lock<std::mutex> lock(FEventLock);
  FEventHandled.wait(lock, [this] { return FRunBlocks + FEventsInFlight < cRingBlocks; });
  if (FEventError) std::rethrow_exception(std::exchange(FEventError, nullptr));
  return FRing.data() + index * size_t(BatchSize());
}

void TclDownLoadThreader::AddToRun(int32_t aSize) {
  if (FRunBlocks == 0) FRunFirst = (FNextBuffer + cRingBlocks - 1) % cRingBlocks;
  ++FRunBlocks;
  FRunBytes += aSize;
  if (aSize < BatchSize() || FRunBlocks == cRunBlocks) FlushRun();
}

void TclDownLoadThreader::FlushRun() {
  if (FRunBlocks == 0) return;
  const char* first = FRing.data() + FRunFirst * size_t(BatchSize());
  if (TStream* stream = DataStream()) {
    std::unique_lock<std::mutex> lock;
    if (DataAccessor()) lock = std::unique_lock<std::mutex>(*DataAccessor());
    if (BytesToProceed() >= 0) stream->SetPosition(ResourcePos());
    stream->WriteBuffer(first, FRunBytes);
  }
  const int32_t blocks = FRunBlocks;
  const int64_t bytes = FRunBytes;
  FRunBlocks = 0;
  FRunBytes = 0;
  FDownloaded += bytes;
  SetResourcePos(ResourcePos() + bytes);
  RaiseDataItemProceed(first, blocks, bytes);
}

void TclDownLoadThreader::RaiseDataItemProceed(const char* aFirst, int32_t aBlocks, int64_t aBytes) {
  if (!OnDataItemProceed) return;
  {
    std::lock_guard<std::mutex> guard(FEventLock);
    FEventsInFlight += aBlocks;
  }
  // One message for the run: its blocks' events one after the other.
  const int64_t start = ResourcePos() - aBytes;
  TclResourceInfo* info = ResourceInfo();
  const bool posted = PostToCreator([this, info, aFirst, aBlocks, aBytes, start] {
    std::exception_ptr error;
    try {
      for (int64_t done = 0; done < aBytes;) {
        const int32_t size = int32_t(std::min<int64_t>(aBytes - done, BatchSize()));
        done += size;
        OnDataItemProceed(this, info, start + done, aFirst + (done - size), size);
      }
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard<std::mutex> guard(FEventLock);
    if (error && !FEventError) FEventError = error;
    FEventsInFlight -= aBlocks;
    FEventHandled.notify_one();
  });
  if (posted) return;
  std::lock_guard<std::mutex> guard(FEventLock);
  FEventsInFlight -= aBlocks;
  throw EclInternetError("The thread of the synchronized call no longer serves calls", clSyncThreadEndedError);
}

void TclDownLoadThreader::WaitForDataEvents() {
  std::unique_lock<std::mutex> lock(FEventLock);
  FEventHandled.wait(lock, [this] { return FEventsInFlight == 0; });
  if (FEventError) std::rethrow_exception(std::exchange(FEventError, nullptr));
}
