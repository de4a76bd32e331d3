#include "engine/clDownLoadThreader.h"

#include <algorithm>
#include <utility>

#include "engine/clInternetError.h"
#include "engine/clRangeReply.h"
#include "engine/clReplyInfo.h"

namespace {

// Data events on their way to the creating thread, per threader.
constexpr int32_t cMaxDataEventsInFlight = 16;

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
  FBuffer.assign(size_t(BatchSize()) + 1, 0);
  TclInternetReadFileAction read(&Connection(), aSession.Internet(), hRequest, FBuffer.data());
  while (!Terminated()) {
    int64_t wanted = BatchSize();
    if (aSkip > 0)
      wanted = std::min(wanted, aSkip);
    else if (ranged)
      wanted = std::min(wanted, BytesToProceed() - FDownloaded);
    if (wanted <= 0) break;
    read.SetNumberOfBytesToRead(DWORD(wanted));
    read.FireAction(TimeOut());
    const int32_t count = int32_t(read.lpdwNumberOfBytesRead());
    if (count == 0) break;
    if (aSkip > 0) {
      aSkip -= count;
      continue;
    }
    FBuffer[size_t(count)] = 0;
    WriteBlock(FBuffer.data(), count);
  }
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

void TclDownLoadThreader::WriteBlock(const char* aData, int32_t aSize) {
  if (TStream* stream = DataStream()) {
    std::unique_lock<std::mutex> lock;
    if (DataAccessor()) lock = std::unique_lock<std::mutex>(*DataAccessor());
    if (BytesToProceed() >= 0) stream->SetPosition(ResourcePos());
    stream->WriteBuffer(aData, aSize);
  }
  FDownloaded += aSize;
  SetResourcePos(ResourcePos() + aSize);
  RaiseDataItemProceed(aData, aSize);
}

void TclDownLoadThreader::RaiseDataItemProceed(const char* aData, int32_t aSize) {
  if (!OnDataItemProceed) return;
  {
    std::unique_lock<std::mutex> lock(FEventLock);
    FEventHandled.wait(lock, [this] { return FEventsInFlight < cMaxDataEventsInFlight; });
    if (FEventError) std::rethrow_exception(std::exchange(FEventError, nullptr));
    ++FEventsInFlight;
  }
  const int64_t position = ResourcePos();
  const bool posted = PostToCreator([this, position, block = std::string(aData, size_t(aSize))] {
    std::exception_ptr error;
    try {
      OnDataItemProceed(this, ResourceInfo(), position, block.c_str(), int32_t(block.size()));
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard<std::mutex> guard(FEventLock);
    if (error && !FEventError) FEventError = error;
    --FEventsInFlight;
    FEventHandled.notify_one();
  });
  if (posted) return;
  std::lock_guard<std::mutex> guard(FEventLock);
  --FEventsInFlight;
  throw EclInternetError("The thread of the synchronized call no longer serves calls", clSyncThreadEndedError);
}

void TclDownLoadThreader::WaitForDataEvents() {
  std::unique_lock<std::mutex> lock(FEventLock);
  FEventHandled.wait(lock, [this] { return FEventsInFlight == 0; });
  if (FEventError) std::rethrow_exception(std::exchange(FEventError, nullptr));
}
