#include "engine/clInternetItem.h"

#include <algorithm>
#include <limits>

#include "engine/clInternetError.h"
#include "engine/clMultiDownLoader.h"

namespace {

// Ranges of one item run at once: the platform must allow that many connections per server.
constexpr DWORD cMinConnectionsPerServer = 10;

void RaiseConnectionLimit() {
  for (DWORD option : {INTERNET_OPTION_MAX_CONNS_PER_SERVER, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER}) {
    DWORD value = 0, size = sizeof value;
    if (InternetQueryOptionA(nullptr, option, &value, &size) && value < cMinConnectionsPerServer)
      InternetSetOptionA(nullptr, option, &cMinConnectionsPerServer, sizeof cMinConnectionsPerServer);
  }
}

}  // namespace

// Ends a synchronous wait for the item; outlives the item, so that a wait whose item was freed
// meanwhile sees that.
struct TclInternetItem::TclIdleSignal {
  TclWaitEvent Idle;
  bool Gone = false;
};

TclInternetItem::TclInternetItem(TclInternetItemList* aList, TclMultiInternetControl* aControl)
    : FList(aList), FControl(aControl), FID(aList->NextID()), FIdle(std::make_shared<TclIdleSignal>()) {}

TclInternetItem::~TclInternetItem() {
  Shutdown();
  FControl->ItemDeleted(this);
  FList->Remove(this);
  FIdle->Gone = true;
  FIdle->Idle.Signal();
}

void TclInternetItem::Shutdown() {
  FDestroying = true;
  if (!IsBusy()) return;
  Stop();
  WaitUntilIdle();
}

int32_t TclInternetItem::Index() const { return FList->IndexOf(this); }

void TclInternetItem::Start(bool aIsAsynch) {
  if (IsBusy()) throw EclInternetError("Operation is in progress", clOperationInProgressError);
  if (FControl->IsQueued(this)) return;
  if (FControl->MayStart(this, aIsAsynch, false)) BeginRun(false);
  if (!aIsAsynch) WaitUntilIdle();
}

void TclInternetItem::Stop() {
  // A threader that has already done its work ends as a success; the flag keeps its end from
  // starting the next phase.
  if (IsBusy()) FStopRequested = true;
  FControl->RemoveFromQueue(this);
  for (const auto& holder : FThreaders) holder->Threader->Stop();
}

TclResourceInfo* TclInternetItem::GetResourceInfo(bool aIsAsynch) {
  if (FResourceInfo || IsBusy()) {
    if (!IsBusy()) FControl->DoGetResourceInfo(this, FResourceInfo.get());
    return FResourceInfo.get();
  }
  if (FControl->IsQueued(this)) return nullptr;
  if (FControl->MayStart(this, aIsAsynch, true)) BeginRun(true);
  if (aIsAsynch) return nullptr;
  std::shared_ptr<TclIdleSignal> idle = FIdle;
  WaitUntilIdle();
  return idle->Gone ? nullptr : FResourceInfo.get();
}

void TclInternetItem::WaitUntilIdle() {
  std::shared_ptr<TclIdleSignal> idle = FIdle;
  for (;;) {
    idle->Idle.Reset();
    if (idle->Gone || !IsBusy()) return;
    ServedPause(std::numeric_limits<int64_t>::max(), &idle->Idle);
  }
}

TclInternetConnection* TclInternetItem::SharedConnection() {
  if (TclInternetConnection* connection = FControl->Connection()) {
    FOwnConnection.reset();
    return connection;
  }
  if (!FKeepConnection) return nullptr;
  if (!FOwnConnection) FOwnConnection = std::make_unique<TclInternetConnection>();
  return FOwnConnection.get();
}

void TclInternetItem::CloseConnection() {
  if (TclInternetConnection* connection = FControl->Connection())
    connection->Close();
  else if (FOwnConnection)
    FOwnConnection->Close();
}

void TclInternetItem::DeleteRemoteFile() {
  TclDeleteThreader threader(RequestURL());
  ConfigureThreader(threader);
  threader.SetFreeOnTerminate(false);
  threader.OnUrlParsing = [this](TclCustomThreader*, TclUrlParser& aParser) { ThreaderUrlParsing(aParser); };
  threader.OnGetCertificate = [this](TclCustomThreader*, TclClientCertificate& aCertificate,
                                     std::vector<TclClientCertificate>& aExtraCerts, bool& aHandled) {
    FControl->DoGetCertificate(this, aCertificate, aExtraCerts, aHandled);
  };
  threader.Perform();
  threader.Wait();
  if (threader.Status() != psSuccess) throw EclInternetError(threader.LastError(), threader.LastErrorCode());
}

void TclInternetItem::Assign(const TclInternetItem& aSource) {
  FDataStream = aSource.FDataStream;
  FThreadCount = aSource.FThreadCount;
  FKeepConnection = aSource.FKeepConnection;
  FURL = aSource.FURL;
  FUserName = aSource.FUserName;
  FLocalFile = aSource.FLocalFile;
  FPassword = aSource.FPassword;
  FPriority = aSource.FPriority;
  FCertificateFlags = aSource.FCertificateFlags;
  FUseHttpRequest = aSource.FUseHttpRequest;
  FData = aSource.FData;
  FHttpRequest.Set(aSource.HttpRequest());
  Changed();
}

void TclInternetItem::SetURL(const std::string& aValue) {
  if (FURL == aValue) return;
  FURL = aValue;
  TclUrlParser parser;
  parser.Parse(FURL);
  if (!parser.Host().empty()) {
    FUserName = parser.UserName();
    FPassword = parser.Password();
  }
  Changed();
}

void TclInternetItem::SetUserName(const std::string& aValue) { SetLocating(FUserName, aValue); }

void TclInternetItem::SetPassword(const std::string& aValue) { SetLocating(FPassword, aValue); }

void TclInternetItem::SetPort(int32_t aValue) { SetLocating(FPort, aValue); }

void TclInternetItem::SetLocalFile(const std::string& aValue) { SetLocating(FLocalFile, aValue); }

void TclInternetItem::SetHttpRequest(TclHttpRequest* aValue) {
  if (FHttpRequest.Set(aValue)) Changed();
}

void TclInternetItem::SetThreadCount(int32_t aValue) {
  if (aValue >= 1 && aValue <= 10) FThreadCount = aValue;
}

void TclInternetItem::Changed() {
  if (!IsBusy()) {
    FResourceInfo.reset();
    ClearResourceState();
    CloseConnection();
  }
  FControl->DoChanged(this);
}

void TclInternetItem::ClearResourceState() {
  for (const auto& holder : FThreaders) holder->Range = nullptr;
  FResourceState.Clear();
}

void TclInternetItem::AddError(const std::string& aText, int32_t aCode) {
  FErrors.push_back({aText, aCode});
  FControl->DoError(this, aText, aCode);
}

std::string TclInternetItem::RequestURL() const {
  TclHttpRequest* request = HttpRequest();
  if (!FUseHttpRequest || !request) return FURL;
  return FURL + "?" + TclStringsUtils::Trim(TclStringsUtils::GetText(request->RequestSource()));
}

void TclInternetItem::BeginRun(bool aInformationOnly) {
  FStopRequested = false;
  RaiseConnectionLimit();
  FLastStatus = psUnknown;
  FResourceInfo.reset();
  FHttpResponseHeader.clear();
  FErrors.clear();
  FResourceState.InitStatistic();
  FControl->BeginBusy();
  try {
    AddThreader(FResourceState.Count() > 0 ? &FResourceState.Items(0) : nullptr, nullptr, true)->Perform();
  } catch (const std::exception& e) {
    AddError(e.what(), 0);
    FResourceState.UpdateStatus(nullptr, psFailed);
    SetLastStatus(FResourceState.LastStatus());
    if (!IsBusy()) Finish();
  }
}

TclCustomThreader* TclInternetItem::AddThreader(TclResourceStateItem* aRange, TStream* aDataStream,
                                                bool aIsGetResourceInfo) {
  auto holder = std::make_unique<TclThreaderHolder>();
  std::unique_ptr<TclCustomThreader> threader(CreateThreader(RequestURL(), aDataStream, aIsGetResourceInfo));
  ConfigureThreader(*threader);
  if (aRange) {
    threader->SetResourcePos(aRange->ResourcePos() + aRange->BytesProceed());
    if (aRange->BytesToProceed() > 0) threader->SetBytesToProceed(aRange->BytesToProceed() - aRange->BytesProceed());
  }
  if (!aIsGetResourceInfo) {
    holder->Info = std::make_unique<TclResourceInfo>();
    holder->Info->Assign(FResourceInfo.get());
    threader->SetResourceInfo(holder->Info.get());
    threader->SetURLParser(FParsedURL);
  }
  holder->Range = aRange;
  holder->Threader = threader.release();
  WireThreader(*holder);
  FThreaders.push_back(std::move(holder));
  return FThreaders.back()->Threader;
}

void TclInternetItem::ConfigureThreader(TclCustomThreader& aThreader) {
  if (TclHttpRequest* request = HttpRequest()) aThreader.SetRequestHeader(request->HeaderSource());
  aThreader.SetPriority(FPriority);
  aThreader.SetBatchSize(FControl->BatchSize());
  aThreader.SetTryCount(FControl->TryCount());
  aThreader.SetTimeOut(FControl->TimeOut());
  aThreader.SetReconnectAfter(FControl->ReconnectAfter());
  aThreader.SetHttpProxySettings(FControl->HttpProxySettings());
  aThreader.SetInternetAgent(FControl->InternetAgent());
  aThreader.SetDoNotGetResourceInfo(FControl->DoNotGetResourceInfo());
  std::string bypass = TclStringsUtils::Trim(TclStringsUtils::GetText(FControl->ProxyBypass()));
  std::replace_if(bypass.begin(), bypass.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  aThreader.SetProxyBypass(bypass);
  aThreader.SetCertificateFlags(FCertificateFlags);
  aThreader.SetKeepConnection(FKeepConnection);
  aThreader.SetFreeOnTerminate(true);
  if (TclInternetConnection* shared = SharedConnection()) aThreader.SetConnection(shared);
}

void TclInternetItem::WireThreader(TclThreaderHolder& aHolder) {
  TclThreaderHolder* holder = &aHolder;
  TclCustomThreader& threader = *aHolder.Threader;
  threader.OnStatusChanged = [this, holder](TclCustomThreader*, TclProcessStatus aStatus) {
    ThreaderStatusChanged(*holder, aStatus);
  };
  threader.OnError = [this](TclCustomThreader*, const std::string& aError, int32_t aCode) { AddError(aError, aCode); };
  threader.OnGetResourceInfo = [this](TclCustomThreader*, TclResourceInfo* aInfo) { ResourceInfoReceived(aInfo); };
  threader.OnUrlParsing = [this](TclCustomThreader*, TclUrlParser& aParser) { ThreaderUrlParsing(aParser); };
  threader.OnDataItemProceed = [this, holder](TclCustomThreader*, TclResourceInfo*, int64_t aPosition,
                                              const char* aData, int32_t aSize) {
    ThreaderDataProceed(*holder, aPosition, aData, aSize);
  };
  threader.OnGetCertificate = [this](TclCustomThreader*, TclClientCertificate& aCertificate,
                                     std::vector<TclClientCertificate>& aExtraCerts, bool& aHandled) {
    FControl->DoGetCertificate(this, aCertificate, aExtraCerts, aHandled);
  };
  threader.OnTerminate = [this, holder](TclThread*) { ThreaderEnded(holder); };
}

void TclInternetItem::ThreaderStatusChanged(TclThreaderHolder& aHolder, TclProcessStatus aStatus) {
  FResourceState.UpdateStatus(aHolder.Range, aStatus);
  SetLastStatus(FResourceState.LastStatus());
}

void TclInternetItem::SetLastStatus(TclProcessStatus aStatus) {
  if (aStatus == FLastStatus) return;
  FLastStatus = aStatus;
  FControl->DoStatusChanged(this, aStatus);
}

void TclInternetItem::ResourceInfoReceived(const TclResourceInfo* aInfo) {
  if (!FResourceInfo) FResourceInfo = std::make_unique<TclResourceInfo>();
  FResourceInfo->Assign(aInfo);
  FControl->DoGetResourceInfo(this, FResourceInfo.get());
}

void TclInternetItem::ThreaderUrlParsing(TclUrlParser& aParser) {
  if (!FUserName.empty()) aParser.SetUserName(FUserName);
  if (!FPassword.empty()) aParser.SetPassword(FPassword);
  if (FPort != 0) aParser.SetPort(FPort);
  FControl->DoUrlParsing(this, aParser);
}

void TclInternetItem::ThreaderDataProceed(TclThreaderHolder& aHolder, int64_t aPosition, const char* aData,
                                          int32_t aSize) {
  if (aHolder.Range) FResourceState.UpdateProceed(aHolder.Range, aPosition - aHolder.Range->ResourcePos());
  FControl->DoDataItemProceed(this, FResourceInfo.get(), aHolder.Range, aData, aSize);
}

void TclInternetItem::ThreaderEnded(TclThreaderHolder* aHolder) {
  TclCustomThreader& threader = *aHolder->Threader;
  FLastResponseHeader = threader.ResponseHeader();
  FParsedURL.Assign(threader.URLParser());
  if (threader.Status() != psFailed && FResourceState.LastStatus() != psTerminated && !FStopRequested)
    RestartFailedRange(aHolder->Range);
  FThreaders.erase(std::find_if(FThreaders.begin(), FThreaders.end(),
                                [aHolder](const auto& aEntry) { return aEntry.get() == aHolder; }));
  if (FThreaders.empty()) RunCompleted();
}

void TclInternetItem::RestartFailedRange(const TclResourceStateItem* aExcept) {
  TStream* stream = TransferStream();
  if (!stream) return;
  for (int32_t i = 0; i < FResourceState.Count(); ++i) {
    TclResourceStateItem& range = FResourceState.Items(i);
    if (&range == aExcept || range.Status() != psFailed) continue;
    AddThreader(&range, stream, false)->Perform();
    return;
  }
}

void TclInternetItem::Finish() {
  FHttpResponseHeader = FLastResponseHeader;
  TclFirstError error;
  FCommitting = true;
  error.Run([this] { Commit(); });
  FCommitting = false;
  error.Run([this] { FControl->ItemFinished(this); });
  error.Run([this] { FControl->EndBusy(); });
  FIdle->Idle.Signal();
  if (!FDestroying) error.Run([this] { FControl->DoProcessCompleted(this); });
  error.Raise();
}

TclInternetItemList::~TclInternetItemList() { Clear(); }

int32_t TclInternetItemList::IndexOf(const TclInternetItem* aItem) const {
  auto found = std::find(FItems.begin(), FItems.end(), aItem);
  return found == FItems.end() ? -1 : int32_t(found - FItems.begin());
}

void TclInternetItemList::Delete(int32_t aIndex) { delete Item(aIndex); }

void TclInternetItemList::Clear() {
  while (!FItems.empty()) delete FItems.back();
}

void TclInternetItemList::ClearAndResetID() {
  Clear();
  FNextID = 0;
}

void TclInternetItemList::Remove(TclInternetItem* aItem) {
  FItems.erase(std::remove(FItems.begin(), FItems.end(), aItem), FItems.end());
}
