#include "engine/clInternetControl.h"

#include <algorithm>

void TclCustomInternetControl::BeginBusy() {
  if (FBusyCount++ == 0 && OnIsBusyChanged) OnIsBusyChanged(this);
}

void TclCustomInternetControl::EndBusy() {
  if (FBusyCount == 0) return;
  if (--FBusyCount == 0 && OnIsBusyChanged) OnIsBusyChanged(this);
}

void TclMultiInternetControl::Start(TclInternetItem* aItem, bool aIsAsynch) {
  if (aItem) {
    aItem->Start(aIsAsynch);
    return;
  }
  for (int32_t i = 0; i < ItemCount(); ++i) Item(i)->Start(aIsAsynch);
}

void TclMultiInternetControl::Stop(TclInternetItem* aItem) {
  if (aItem) {
    aItem->Stop();
    return;
  }
  for (int32_t i = 0; i < ItemCount(); ++i) Item(i)->Stop();
}

TclResourceInfo* TclMultiInternetControl::GetResourceInfo(TclInternetItem* aItem, bool aIsAsynch) {
  if (aItem) return aItem->GetResourceInfo(aIsAsynch);
  for (int32_t i = 0; i < ItemCount(); ++i) Item(i)->GetResourceInfo(aIsAsynch);
  return nullptr;
}

bool TclMultiInternetControl::IsQueued(const TclInternetItem* aItem) const {
  return std::any_of(FQueue.begin(), FQueue.end(), [aItem](const TclInternetItemInfo& aInfo) { return aInfo.Item == aItem; });
}

bool TclMultiInternetControl::MayStart(TclInternetItem* aItem, bool aIsAsynch, bool aInformationOnly) {
  if (aIsAsynch && FMaxStartedItems > 0 && FStartedCount >= FMaxStartedItems) {
    FQueue.push_back({aItem, aInformationOnly});
    return false;
  }
  ++FStartedCount;
  return true;
}

void TclMultiInternetControl::ItemFinished(TclInternetItem* aItem) {
  if (FStartedCount > 0) --FStartedCount;
  if (FQueue.empty()) return;
  const TclInternetItemInfo next = FQueue.front();
  FQueue.pop_front();
  ++FStartedCount;
  next.Item->BeginRun(next.InformationOnly);
}

void TclMultiInternetControl::RemoveFromQueue(TclInternetItem* aItem) {
  auto found = std::find_if(FQueue.begin(), FQueue.end(), [aItem](const TclInternetItemInfo& aInfo) { return aInfo.Item == aItem; });
  if (found != FQueue.end()) FQueue.erase(found);
}

void TclMultiInternetControl::ItemCreated(TclInternetItem* aItem) {
  if (OnItemCreated) OnItemCreated(this, aItem);
}

void TclMultiInternetControl::ItemDeleted(TclInternetItem* aItem) {
  RemoveFromQueue(aItem);
  if (OnItemDeleted) OnItemDeleted(this, aItem);
}

void TclMultiInternetControl::DoDataItemProceed(TclInternetItem* aItem, TclResourceInfo* aResourceInfo,
                                                TclResourceStateItem* aStateItem, const char* aData, int32_t aSize) {
  if (OnDataItemProceed) OnDataItemProceed(this, aItem, aResourceInfo, aStateItem, aData, aSize);
}

void TclMultiInternetControl::DoError(TclInternetItem* aItem, const std::string& aError, int32_t aErrorCode) {
  if (OnError) OnError(this, aItem, aError, aErrorCode);
}

void TclMultiInternetControl::DoGetResourceInfo(TclInternetItem* aItem, TclResourceInfo* aResourceInfo) {
  if (OnGetResourceInfo) OnGetResourceInfo(this, aItem, aResourceInfo);
}

void TclMultiInternetControl::DoChanged(TclInternetItem* aItem) {
  if (OnChanged) OnChanged(this, aItem);
}

void TclMultiInternetControl::DoStatusChanged(TclInternetItem* aItem, TclProcessStatus aStatus) {
  if (OnStatusChanged) OnStatusChanged(this, aItem, aStatus);
}

void TclMultiInternetControl::DoUrlParsing(TclInternetItem* aItem, TclUrlParser& aParser) {
  if (OnUrlParsing) OnUrlParsing(this, aItem, aParser);
}

void TclMultiInternetControl::DoGetCertificate(TclInternetItem* aItem, TclClientCertificate& aCertificate,
                                               std::vector<TclClientCertificate>& aExtraCerts, bool& aHandled) {
  if (OnGetCertificate) OnGetCertificate(this, aItem, aCertificate, aExtraCerts, aHandled);
}

void TclMultiInternetControl::DoProcessCompleted(TclInternetItem* aItem) {
  if (OnProcessCompleted) OnProcessCompleted(this, aItem);
}
