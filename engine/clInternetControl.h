#pragma once
// The control that runs a list of internet items: the settings every item's threaders copy, how
// many items run at once (MaxStartedItems, with a first-in-first-out start queue), the count of
// busy items, and one set of events for all its items. Everything here runs on the thread that
// owns the control; worker news reach it only through its items' synchronized events, so the
// counts and the queue take no lock.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "common/clLink.h"
#include "common/clStringsUtils.h"
#include "engine/clInternetConnection.h"
#include "engine/clInternetItem.h"
#include "engine/clResourceInfo.h"
#include "engine/clResourceState.h"
#include "http/clHttpUtils.h"
#include "http/clUriUtils.h"

class TclCustomInternetControl {
public:
  TclCustomInternetControl() = default;
  virtual ~TclCustomInternetControl() = default;
  TclCustomInternetControl(const TclCustomInternetControl&) = delete;
  TclCustomInternetControl& operator=(const TclCustomInternetControl&) = delete;

  // Some item runs.
  bool IsBusy() const { return FBusyCount > 0; }

  // Settings; the guarded setters ignore values out of range.
  int32_t TryCount() const { return FTryCount; }
  void SetTryCount(int32_t aValue) { SetAbove(FTryCount, aValue, 0); }
  int32_t BatchSize() const { return FBatchSize; }
  void SetBatchSize(int32_t aValue) { SetAbove(FBatchSize, aValue, 0); }
  int32_t TimeOut() const { return FTimeOut; }
  void SetTimeOut(int32_t aValue) { SetAbove(FTimeOut, aValue, 0); }
  int32_t ReconnectAfter() const { return FReconnectAfter; }
  void SetReconnectAfter(int32_t aValue) { SetAbove(FReconnectAfter, aValue, 0); }
  // Bounds of the resource size of items that go on to their data phase; 0: none.
  int64_t MinResourceSize() const { return FMinResourceSize; }
  void SetMinResourceSize(int64_t aValue) { SetAbove(FMinResourceSize, aValue, -1); }
  int64_t MaxResourceSize() const { return FMaxResourceSize; }
  void SetMaxResourceSize(int64_t aValue) { SetAbove(FMaxResourceSize, aValue, -1); }
  // Hosts reached without the proxy.
  TStrings& ProxyBypass() { return FProxyBypass; }
  const TStrings& ProxyBypass() const { return FProxyBypass; }
  const std::string& InternetAgent() const { return FInternetAgent; }
  void SetInternetAgent(const std::string& aValue) { FInternetAgent = aValue; }
  // Replaces control characters in an item's preview; codes below 32 are ignored.
  char DefaultChar() const { return FDefaultChar; }
  void SetDefaultChar(char aValue) {
    if (static_cast<unsigned char>(aValue) >= 32) FDefaultChar = aValue;
  }
  // One connection shared by every threader of every item (not owned; unlinked when it is
  // destroyed); then each item uses one range.
  TclInternetConnection* Connection() const { return FConnection.Get(); }
  void SetConnection(TclInternetConnection* aValue) { FConnection.Set(aValue); }
  // The data requests' replies fill the resource info; no separate information request.
  bool DoNotGetResourceInfo() const { return FDoNotGetResourceInfo; }
  void SetDoNotGetResourceInfo(bool aValue) { FDoNotGetResourceInfo = aValue; }
  TclHttpProxySettings& HttpProxySettings() { return FHttpProxySettings; }
  const TclHttpProxySettings& HttpProxySettings() const { return FHttpProxySettings; }

  // Raised when the busy count leaves or reaches 0.
  std::function<void(TclCustomInternetControl* Sender)> OnIsBusyChanged;

protected:
  friend class TclInternetItem;
  // An item begins and ends a run.
  void BeginBusy();
  void EndBusy();

private:
  template <typename T>
  static void SetAbove(T& aField, T aValue, std::type_identity_t<T> aFloor) {
    if (aValue > aFloor) aField = aValue;
  }

  int32_t FBusyCount = 0;
  int32_t FTryCount = 5;
  int32_t FBatchSize = 8192;
  int32_t FTimeOut = 5000;
  int64_t FMinResourceSize = 0;
  int64_t FMaxResourceSize = 0;
  TStrings FProxyBypass;
  std::string FInternetAgent = cDefaultInternetAgent;
  char FDefaultChar = char(128);
  int32_t FReconnectAfter = 5000;
  TclLink<TclInternetConnection> FConnection;
  bool FDoNotGetResourceInfo = false;
  TclHttpProxySettings FHttpProxySettings;
};

class TclMultiInternetControl : public TclCustomInternetControl {
public:
  // With an item, that item's Start; without, Start of every item in order (a busy item raises
  // and ends the loop; the items before it have started).
  void Start(TclInternetItem* aItem = nullptr, bool aIsAsynch = true);
  // With an item, its Stop; without, Stop of every item in order.
  virtual void Stop(TclInternetItem* aItem = nullptr);
  // With an item, its GetResourceInfo; without, that of every item, answering null.
  TclResourceInfo* GetResourceInfo(TclInternetItem* aItem = nullptr, bool aIsAsynch = true);

  // Items running at once; 0: no limit. Negative values are ignored.
  int32_t MaxStartedItems() const { return FMaxStartedItems; }
  void SetMaxStartedItems(int32_t aValue) {
    if (aValue >= 0) FMaxStartedItems = aValue;
  }
  // Items started and not finished yet.
  int32_t StartedCount() const { return FStartedCount; }
  // The item waits in the start queue.
  bool IsQueued(const TclInternetItem* aItem) const;

  virtual int32_t ItemCount() const = 0;
  virtual TclInternetItem* Item(int32_t aIndex) const = 0;

  // Events, on the control's thread.
  std::function<void(TclMultiInternetControl* Sender, TclInternetItem* Item, TclResourceInfo* ResourceInfo,
                     TclResourceStateItem* AStateItem, const char* CurrentData, int32_t CurrentDataSize)>
      OnDataItemProceed;
  std::function<void(TclMultiInternetControl* Sender, TclInternetItem* Item, const std::string& Error,
                     int32_t ErrorCode)>
      OnError;
  std::function<void(TclMultiInternetControl* Sender, TclInternetItem* Item, TclResourceInfo* ResourceInfo)>
      OnGetResourceInfo;
  std::function<void(TclMultiInternetControl* Sender, TclInternetItem* Item)> OnChanged;
  std::function<void(TclMultiInternetControl* Sender, TclInternetItem* Item, TclProcessStatus Status)>
      OnStatusChanged;
  std::function<void(TclMultiInternetControl* Sender, TclInternetItem* Item, TclUrlParser& AURLComponents)>
      OnUrlParsing;
  std::function<void(TclMultiInternetControl* Sender, TclInternetItem* Item, TclClientCertificate& ACertificate,
                     std::vector<TclClientCertificate>& AExtraCerts, bool& Handled)>
      OnGetCertificate;
  // The item's run is over and its ResourceState.LastStatus final; the handler may free it.
  std::function<void(TclMultiInternetControl* Sender, TclInternetItem* Item)> OnProcessCompleted;
  std::function<void(TclMultiInternetControl* Sender, TclInternetItem* Item)> OnItemCreated;
  std::function<void(TclMultiInternetControl* Sender, TclInternetItem* Item)> OnItemDeleted;

protected:
  friend class TclInternetItem;
  friend class TclDownLoadItem;
  friend class TclDownLoadList;

  // Whether an item may begin its run now; an asynchronous start beyond MaxStartedItems is
  // queued instead. Every start that may begin is counted.
  bool MayStart(TclInternetItem* aItem, bool aIsAsynch, bool aInformationOnly);
  // An item's run is over: the first queued item begins its run.
  void ItemFinished(TclInternetItem* aItem);
  void RemoveFromQueue(TclInternetItem* aItem);
  // Whether a finished information request may go on to the data phase.
  virtual bool CanProcess(TclInternetItem* aItem) { return true; }
  void ItemCreated(TclInternetItem* aItem);
  void ItemDeleted(TclInternetItem* aItem);

  void DoDataItemProceed(TclInternetItem* aItem, TclResourceInfo* aResourceInfo, TclResourceStateItem* aStateItem,
                         const char* aData, int32_t aSize);
  void DoError(TclInternetItem* aItem, const std::string& aError, int32_t aErrorCode);
  void DoGetResourceInfo(TclInternetItem* aItem, TclResourceInfo* aResourceInfo);
  void DoChanged(TclInternetItem* aItem);
  void DoStatusChanged(TclInternetItem* aItem, TclProcessStatus aStatus);
  void DoUrlParsing(TclInternetItem* aItem, TclUrlParser& aParser);
  void DoGetCertificate(TclInternetItem* aItem, TclClientCertificate& aCertificate,
                        std::vector<TclClientCertificate>& aExtraCerts, bool& aHandled);
  void DoProcessCompleted(TclInternetItem* aItem);
  // The queue is dropped first, so that freeing the items starts none of them.
  void ClearQueue() { FQueue.clear(); }

private:
  struct TclInternetItemInfo {
    TclInternetItem* Item;
    bool InformationOnly;
  };

  std::deque<TclInternetItemInfo> FQueue;
  int32_t FMaxStartedItems = 5;
  int32_t FStartedCount = 0;
};
