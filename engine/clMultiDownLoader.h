#pragma once
// The download control: a list of download items, the file naming around LocalFolder, the
// preview of each finished data phase and the question what to do with a file that exists.
#include <cstdint>
#include <functional>
#include <string>

#include "engine/clDownLoadItem.h"
#include "engine/clInternetControl.h"

class TclMultiDownLoader;

enum TclFileExistsAction { faReplace, faRename, faSkip, faStop };

class TclDownLoadList : public TclInternetItemList {
public:
  explicit TclDownLoadList(TclMultiDownLoader* aDownLoader) : FDownLoader(aDownLoader) {}

  // A new item at the end; its LocalFile starts as the control's LocalFolder with a separator.
  TclDownLoadItem* Add();
  TclDownLoadItem* Items(int32_t aIndex) const { return static_cast<TclDownLoadItem*>(Item(aIndex)); }
  TclMultiDownLoader* DownLoader() const { return FDownLoader; }

private:
  TclMultiDownLoader* FDownLoader;
};

class TclMultiDownLoader : public TclMultiInternetControl {
public:
  TclMultiDownLoader();
  // The queue is dropped, then the items are freed (busy ones stopped and waited for).
  ~TclMultiDownLoader() override;

  TclDownLoadList& DownLoadList() { return FDownLoadList; }
  int32_t ItemCount() const override { return FDownLoadList.Count(); }
  TclInternetItem* Item(int32_t aIndex) const override { return FDownLoadList.Item(aIndex); }

  // Files get the date of their resource after a successful run.
  bool CorrectResourceTime() const { return FCorrectResourceTime; }
  void SetCorrectResourceTime(bool aValue) { FCorrectResourceTime = aValue; }
  // Bytes of the preview; 0: all of the data. Negative values are ignored.
  int32_t PreviewCharCount() const { return FPreviewCharCount; }
  void SetPreviewCharCount(int32_t aValue) {
    if (aValue >= 0) FPreviewCharCount = aValue;
  }
  // Every item's LocalFile moves into the folder (keeping its file name).
  const std::string& LocalFolder() const { return FLocalFolder; }
  void SetLocalFolder(const std::string& aValue);

  // The preview of a finished data phase.
  std::function<void(TclMultiDownLoader* Sender, TclDownLoadItem* Item, const TStrings& Text)> OnDataTextProceed;
  // LocalFile exists when an item is about to write it; Action arrives as faReplace.
  std::function<void(TclMultiDownLoader* Sender, const std::string& AFileName, std::string& ANewName,
                     TclFileExistsAction& Action)>
      OnFileExists;

protected:
  friend class TclDownLoadItem;
  bool CanProcess(TclInternetItem* aItem) override;
  void DoDataTextProceed(TclDownLoadItem* aItem, const TStrings& aText);

private:
  TclDownLoadList FDownLoadList;
  bool FCorrectResourceTime = true;
  int32_t FPreviewCharCount = 256;
  std::string FLocalFolder;
};
