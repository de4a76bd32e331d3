#pragma once
// The byte ranges of one download item, one per worker, with the item's transfer statistics and
// aggregate status. The list outlives a stopped transfer, so a restarted item continues every
// range where it stopped. Only the item's thread touches it (worker news arrive as synchronized
// events), so it takes no lock.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

enum TclProcessStatus : uint8_t { psUnknown, psSuccess, psFailed, psErrors, psProcess, psTerminated };

class TclResourceStateList;

class TclResourceStateItem {
public:
  explicit TclResourceStateItem(TclResourceStateList* aOwner) : FOwner(aOwner) {}
  TclResourceStateItem(const TclResourceStateItem&) = delete;
  TclResourceStateItem& operator=(const TclResourceStateItem&) = delete;

  // Copies the four fields.
  void Assign(const TclResourceStateItem& aSource);
  TclResourceStateList* ResourceState() const { return FOwner; }

  // Offset of the range's first byte. Negative values are ignored here and below.
  int64_t ResourcePos() const { return FResourcePos; }
  void SetResourcePos(int64_t aValue);
  // Length of the range; 0 stands for the whole resource of unknown size.
  int64_t BytesToProceed() const { return FBytesToProceed; }
  void SetBytesToProceed(int64_t aValue);
  TclProcessStatus Status() const { return FStatus; }
  void SetStatus(TclProcessStatus aValue);
  // Bytes of the range received and written so far.
  int64_t BytesProceed() const { return FBytesProceed; }
  void SetBytesProceed(int64_t aValue);

private:
  friend class TclResourceStateList;
  void CopyFields(const TclResourceStateItem& aSource);
  void SetCount(int64_t& aField, int64_t aValue);

  TclResourceStateList* FOwner;
  int64_t FResourcePos = 0;
  int64_t FBytesToProceed = 0;
  TclProcessStatus FStatus = psUnknown;
  int64_t FBytesProceed = 0;
};

class TclResourceStateList {
public:
  TclResourceStateList();
  TclResourceStateList(const TclResourceStateList&) = delete;
  TclResourceStateList& operator=(const TclResourceStateList&) = delete;

  // Cuts a resource into aThreadCount consecutive ranges (the last takes the remainder; never
  // more ranges than bytes), or aThreadCount ranges of length 0 when the size is unknown. A list that already holds ranges
  // keeps them and their progress: that is how a restart resumes. Statistics restart either way.
  void Init(int64_t aThreadCount, int64_t aResourceSize);
  // Statuses back to psUnknown and the statistics restarted from now, counting only bytes that
  // arrive from here on.
  void InitStatistic();
  // Progress of one range (aBytesProceed counted from the range's start), then the statistics.
  void UpdateProceed(TclResourceStateItem* aItem, int64_t aBytesProceed);
  // A range's status, or the list-level status when aItem is null.
  void UpdateStatus(TclResourceStateItem* aItem, TclProcessStatus aStatus);
  // Statistics restarted, the source's size and a copy of its ranges.
  void Assign(const TclResourceStateList& aSource);

  TclResourceStateItem& Add();
  void Clear();
  int32_t Count() const { return int32_t(FItems.size()); }
  TclResourceStateItem& Items(int32_t aIndex) const { return *FItems.at(aIndex); }
  void SetItem(int32_t aIndex, const TclResourceStateItem& aValue) { Items(aIndex).Assign(aValue); }

  int64_t ResourceSize() const { return FResourceSize; }
  void SetResourceSize(int64_t aValue) { FResourceSize = aValue; }
  int64_t BytesProceed() const;
  // Any running range makes the whole item running; a stopped range outranks a failed one, a
  // failed one a range with errors. Otherwise the list-level status, when set, decides.
  TclProcessStatus LastStatus() const;
  // Bytes per second and seconds since the statistics started.
  double Speed() const { return FSpeed; }
  double ElapsedTime() const { return FElapsedTime; }
  // Seconds left at the current speed; 0 while the size or the speed is unknown.
  double RemainingTime() const;

  std::function<void(TclResourceStateList* Sender)> OnChanged;

private:
  friend class TclResourceStateItem;
  // An item added, removed or changed: an emptied list starts its statistics over.
  void Changed();

  std::vector<std::unique_ptr<TclResourceStateItem>> FItems;
  int64_t FResourceSize = 0;
  TclProcessStatus FLastStatus = psUnknown;
  int64_t FSpeedCount = 0;
  int64_t FStartCount = 0;
  double FSpeed = 0;
  double FElapsedTime = 0;
  int64_t FStartBytes = 0;
};
