#include "engine/clResourceState.h"

#include <algorithm>
#include <chrono>

namespace {

// The monotonic clock in nanoseconds: its frequency is fixed, so it needs no reading.
constexpr double cCounterFrequency = 1e9;

int64_t ReadCounter() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void TclResourceStateItem::Assign(const TclResourceStateItem& aSource) {
  CopyFields(aSource);
  FOwner->Changed();
}

void TclResourceStateItem::CopyFields(const TclResourceStateItem& aSource) {
  FResourcePos = aSource.FResourcePos;
  FBytesToProceed = aSource.FBytesToProceed;
  FStatus = aSource.FStatus;
  FBytesProceed = aSource.FBytesProceed;
}

void TclResourceStateItem::SetCount(int64_t& aField, int64_t aValue) {
  if (aValue < 0 || aValue == aField) return;
  aField = aValue;
  FOwner->Changed();
}

void TclResourceStateItem::SetResourcePos(int64_t aValue) { SetCount(FResourcePos, aValue); }
void TclResourceStateItem::SetBytesToProceed(int64_t aValue) { SetCount(FBytesToProceed, aValue); }
void TclResourceStateItem::SetBytesProceed(int64_t aValue) { SetCount(FBytesProceed, aValue); }

void TclResourceStateItem::SetStatus(TclProcessStatus aValue) {
  if (aValue == FStatus) return;
  FStatus = aValue;
  FOwner->Changed();
}

TclResourceStateList::TclResourceStateList() { InitStatistic(); }

void TclResourceStateList::Init(int64_t aThreadCount, int64_t aResourceSize) {
  InitStatistic();
  if (!FItems.empty()) return;
  FResourceSize = aResourceSize;
  // A range of length 0 stands for the whole resource, so a known size gets no empty ranges.
  if (FResourceSize > 0) aThreadCount = std::min(aThreadCount, FResourceSize);
  const int64_t part = FResourceSize > 0 && aThreadCount > 0 ? FResourceSize / aThreadCount : 0;
  for (int64_t i = 0; i < aThreadCount; ++i) {
    auto& range = *FItems.emplace_back(std::make_unique<TclResourceStateItem>(this));
    if (FResourceSize <= 0) continue;
    range.FResourcePos = i * part;
    range.FBytesToProceed = i < aThreadCount - 1 ? part : FResourceSize - range.FResourcePos;
  }
  Changed();
}

void TclResourceStateList::InitStatistic() {
  for (auto& item : FItems) item->FStatus = psUnknown;
  FLastStatus = psUnknown;
  FSpeedCount = 0;
  FSpeed = 0;
  FElapsedTime = 0;
  FStartBytes = BytesProceed();
  FStartCount = ReadCounter();
}

void TclResourceStateList::UpdateProceed(TclResourceStateItem* aItem, int64_t aBytesProceed) {
  if (aItem && aBytesProceed >= 0) aItem->FBytesProceed = aBytesProceed;
  FSpeed = 0;
  FElapsedTime = 0;
  const int64_t now = ReadCounter();
  // A block within the clock's first tick gives no speed rather than an infinite one.
  if (now > FStartCount) {
    FSpeedCount = now;
    FElapsedTime = double(FSpeedCount - FStartCount) / cCounterFrequency;
    FSpeed = double(BytesProceed() - FStartBytes) / FElapsedTime;
  }
  if (OnChanged) OnChanged(this);
}

void TclResourceStateList::UpdateStatus(TclResourceStateItem* aItem, TclProcessStatus aStatus) {
  if (aItem)
    aItem->FStatus = aStatus;
  else
    FLastStatus = aStatus;
  if (OnChanged) OnChanged(this);
}

void TclResourceStateList::Assign(const TclResourceStateList& aSource) {
  InitStatistic();
  FResourceSize = aSource.FResourceSize;
  FItems.clear();
  for (auto& item : aSource.FItems)
    FItems.emplace_back(std::make_unique<TclResourceStateItem>(this))->CopyFields(*item);
  // The copied progress is not speed.
  FStartBytes = BytesProceed();
  Changed();
}

TclResourceStateItem& TclResourceStateList::Add() {
  FItems.push_back(std::make_unique<TclResourceStateItem>(this));
  Changed();
  return *FItems.back();
}

void TclResourceStateList::Clear() {
  FItems.clear();
  Changed();
}

int64_t TclResourceStateList::BytesProceed() const {
  int64_t sum = 0;
  for (auto& item : FItems) sum += item->FBytesProceed;
  return sum;
}

TclProcessStatus TclResourceStateList::LastStatus() const {
  TclProcessStatus candidate = psUnknown;
  for (TclProcessStatus status : {psProcess, psTerminated, psFailed, psErrors, psSuccess}) {
    bool found = false;
    for (auto& item : FItems) found = found || item->FStatus == status;
    if (found) {
      candidate = status;
      break;
    }
  }
  if (candidate != psSuccess && candidate != psUnknown) return candidate;
  return FLastStatus != psUnknown ? FLastStatus : candidate;
}

double TclResourceStateList::RemainingTime() const {
  if (FResourceSize <= 0 || FSpeed <= 0) return 0;
  return double(FResourceSize - BytesProceed()) / FSpeed;
}

void TclResourceStateList::Changed() {
  if (FItems.empty()) InitStatistic();
  if (OnChanged) OnChanged(this);
}
