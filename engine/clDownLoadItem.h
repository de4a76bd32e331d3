#pragma once
// The items of a TclMultiDownLoader: each fetches its URL into LocalFile, or into a DataStream its
// user gives it, or into a memory stream of its own. A run asks for the resource's information
// first, then splits it into up to ThreadCount byte ranges fetched at once into the file, which
// is opened at its full size with the space reserved on disk. A stopped or failed item keeps its
// ranges, and its next start continues each of them where it stopped, as long as the file is
// still there with the resource's size. A gzip reply is decoded once, by the client, and has no
// ranges.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engine/clInternetItem.h"

class TclDownLoadList;
class TclMultiDownLoader;

class TclDownLoadItem : public TclInternetItem {
public:
  explicit TclDownLoadItem(TclDownLoadList* aList);
  ~TclDownLoadItem() override;

  void Assign(const TclInternetItem& aSource) override;
  // With the control's LocalFolder set, LocalFile becomes the URL's file name in that folder
  // (empty for a URL with a query or a fragment).
  void SetURL(const std::string& aValue) override;

  // The first PreviewCharCount bytes of the last data phase as text.
  const TStrings& Preview() const { return FPreview; }
  bool AllowCompression() const { return FAllowCompression; }
  void SetAllowCompression(bool aValue) { FAllowCompression = aValue; }
  TclMultiDownLoader& DownLoader() const;

protected:
  TclCustomThreader* CreateThreader(const std::string& aURL, TStream* aDataStream, bool aIsGetResourceInfo) override;
  void ConfigureThreader(TclCustomThreader& aThreader) override;
  void BeginRun(bool aInformationOnly) override;
  void ResourceInfoReceived(const TclResourceInfo* aInfo) override;
  // The statuses of the information request's end are not the item's: it goes on running.
  void SetLastStatus(TclProcessStatus aStatus) override;
  void RunCompleted() override;
  void Commit() override;
  TStream* TransferStream() const override { return FDataPhase ? FTransferStream : nullptr; }

private:
  // The stream, sized, and one started threader per range; a failure ends the run.
  void StartDataPhase();
  TStream* OpenDataStream(int64_t aSize);
  // Neither failed nor stopped, agreed by the control, and of a size within its bounds.
  bool MayGoOn();
  void MakePreview();
  // The client decodes a gzip reply: its length is then unknown until it has arrived.
  bool ClientDecodes() const;
  // Bytes to transfer as the server stores them; 0: unknown, one request for the whole body.
  int64_t TransferSize() const;
  bool RandomAccess() const;
  int32_t RangeCount() const;
  // A file name from the reply's Content-Disposition, without any folder part.
  std::string DispositionFileName() const;
  void SetFileTimes(const std::string& aFileName) const;

  TStrings FPreview;
  bool FDownloadMode = false;
  bool FDataPhase = false;
  std::mutex FDataAccessor;
  bool FAllowCompression = true;
  std::unique_ptr<TStream> FOwnStream;
  TStream* FTransferStream = nullptr;
};
