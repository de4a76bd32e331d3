#pragma once
// What became of the parts and comment lists a run chose. It follows the items the window adds
// for them through the download controls' events (beside the window's own handlers) and the merge
// queue, tells the progress view what happens, and says at the end what was saved and what was
// not, and why.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "cli/ProgressView.h"
#include "cli/RateMeter.h"

struct TUnsaved {
  std::string What;
  std::string Reason;
};

class TTaskTracker {
public:
  TTaskTracker(TForm1& aForm, TProgressView& aView);
  ~TTaskTracker();
  TTaskTracker(const TTaskTracker&) = delete;
  TTaskTracker& operator=(const TTaskTracker&) = delete;

  // Right after the window added the downloads of the listing's rows aRows (in row order): the
  // video items from position aFirstItem of the video list on, or the comment items.
  void VideosAdded(const std::vector<int>& aRows, int aFirstItem);
  void CommentsAdded(const std::vector<int>& aRows, int aFirstItem);

  // Every chosen download and every merge has ended: nothing more happens by itself.
  bool Ended() const;
  // The progress now, to the view; merges that started or ended since the last look are told.
  void ShowProgress();
  // Settles what has not ended (aInterrupted: the user stopped the run). Call before the window's
  // close clears its lists.
  void Settle(bool aInterrupted);

  int PartsSaved() const;
  int CommentsSaved() const;
  std::vector<TUnsaved> Unsaved() const;

private:
  enum class TState { tsWaiting, tsRunning, tsSaved, tsFailed };
  struct TSegment {
    size_t Part = 0;
    std::string Name;
    std::string File;  // the working file, then the final one
    TState State = TState::tsWaiting;
    std::string Reason;
    std::string LastError;
    int64_t Done = 0;
    int64_t Total = 0;
    double Speed = 0;
  };
  struct TPart {
    std::string Label;
    std::vector<int32_t> Segments;
    std::string Base, Folder;  // where the segments of a part to be merged are joined
    bool MergeWanted = false;
    bool Merging = false;
    bool MergeReported = false;
    bool Saved = false;
    std::string Reason;
  };
  struct TComment {
    std::string Label;
    std::string File;
    TState State = TState::tsWaiting;
    std::string Reason;
  };

  std::string PartLabel(int aRow) const;
  bool AllSegmentsSaved(const TPart& aPart) const;
  void WatchEvents();
  void VideoStatusChanged(TclInternetItem* aItem, TclProcessStatus aStatus);
  void VideoProceeded(TclInternetItem* aItem);
  void VideoCompleted();
  void CommentCompleted();
  void WatchMerges();
  bool MergeQueued(const TPart& aPart) const;
  void SettlePart(TPart& aPart, bool aInterrupted);
  bool Active(TclMultiDownLoader& aControl, int32_t aId) const;
  static TclInternetItem* ItemById(TclMultiDownLoader& aControl, int32_t aId);

  TForm1& FForm;
  TProgressView& FView;
  TRateMeter FRate;
  std::vector<TPart> FParts;
  std::map<int32_t, TSegment> FSegments;  // by item id
  std::map<int32_t, TComment> FComments;  // by item id
  // The item whose completion runs now, as it was before the window's handler.
  int32_t FCompletingId = -1;
  TclProcessStatus FCompletingStatus = psUnknown;
  std::string FCompletingFile;
  std::vector<std::shared_ptr<void>> FChains;
};
