#include "app/GatFlv.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/AppFiles.h"
#include "app/DownloadNames.h"
#include "app/MainForm.h"
#include "flvbind/FLVLib.h"
#include "platform/clChildProcess.h"
#include "platform/clFileWatch.h"

namespace {

constexpr int kPollMs = 100;

std::string SegmentPath(const std::string& aFolder, const std::string& aBase, int aCount, int aIndex) {
  return aFolder + SegmentFileName(aBase, aCount, aIndex);
}

// The bytes of the audio and video tags of an FLV file, read as the binder reads its sources;
// -1 when it is no regular file or has no FLV header.
int64_t AudioVideoBytes(const std::string& aPath) {
  if (!FileExists(aPath)) return -1;  // a pipe or device would block or never end
  FileReadAble* reader = CreateFileReadAble(aPath.c_str());
  if (!reader) return -1;
  FlvHeaderRecord header{};
  int64_t bytes = Flv_ReadHeader(reader, &header) ? 0 : -1;
  FlvTagRecord tag{};
  while (bytes >= 0 && Flv_ReadTag(reader, 0, &tag)) {
    if (tag.type == FLV_TAG_AUDIO || tag.type == FLV_TAG_VIDEO) bytes += tag.rawSize;
    Flv_FreeTag(&tag);
  }
  DeleteFileReadAble(reader);
  return bytes;
}

int64_t FileLength(const std::string& aPath) {
  struct stat info;
  return stat(aPath.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? int64_t(info.st_size) : -1;
}

}  // namespace

GatFlv::GatFlv(TForm1& aForm, std::string sFtmpath, std::string sFileName, int _FCount, TOnTerminate aOnTerminate)
    : Ftmpath(std::move(sFtmpath)),
      FFileName(std::move(sFileName)),
      FCount(_FCount),
      FMergedPath(Ftmpath + FFileName + ".flv"),
      FWorkPath(FMergedPath + ".$$$"),
      FForm(aForm),
      FBinderPath(aForm.BinderPath()),
      FOnTerminate(std::move(aOnTerminate)) {
  FThread = std::thread([this] {
    try {
      Execute();
    } catch (...) {
      FError = std::current_exception();
    }
    FTarget.Post([this] { Terminated(); });
  });
}

GatFlv::~GatFlv() {
  FTarget.Cancel();
  if (FThread.joinable()) FThread.join();
}

std::vector<std::string> GatFlv::BinderArguments(const std::string& aFolder, const std::string& aBase, int aCount) {
  std::vector<std::string> args{aFolder + aBase + ".flv"};
  for (int i = 1; i <= aCount; ++i) args.push_back(SegmentPath(aFolder, aBase, aCount, i));
  return args;
}

void GatFlv::Execute() {
  // A work file left by a merge that was cut off would pass for this merge's.
  unlink(FWorkPath.c_str());
  // Whatever holds the merged file's name before the merge is not the merge's to remove.
  struct stat before;
  const bool outputExisted = lstat(FMergedPath.c_str(), &before) == 0;
  TclFileWatch workFile(Ftmpath, FWorkPath.substr(Ftmpath.size()));
  auto binder = FForm.StartBinder(FBinderPath, BinderArguments(Ftmpath, FFileName, FCount));
  // The binder's end (or a kill at close) wakes the wait at once; the work file's news too.
  while (binder && !FForm.Closing && FForm.IsBinderRunning()) {
    pollfd handles[] = {{binder->Handle(), POLLIN, 0}, {workFile.Handle(), POLLIN, 0}};
    poll(handles, 2, kPollMs);
    workFile.Update();
  }
  workFile.Update();
  if (FForm.Closing && binder) {
    DiscardCutMerge(*binder, workFile, outputExisted);
    return;
  }
  if (!binder || !MergeCompleted(*binder, workFile)) return;
  for (int i = 1; i <= FCount; ++i) {
    std::string segment = Segment(i);
    if (FileExists(segment)) unlink(segment.c_str());
  }
}

void GatFlv::DiscardCutMerge(TclChildProcess& aBinder, TclFileWatch& aWorkFile, bool aOutputExisted) {
  // A join cut off by the close would pass for the video; the segments stay for the next merge.
  aBinder.Terminate();
  aWorkFile.Update();
  if (MergeCompleted(aBinder, aWorkFile)) return;
  unlink(FWorkPath.c_str());
  if (!aOutputExisted) unlink(FMergedPath.c_str());
}

bool GatFlv::MergeCompleted(TclChildProcess& aBinder, const TclFileWatch& aWorkFile) const {
  // The binder rewrites the joined file through its work file as its last step and exits 0 only
  // after a join it could write.
  if (aBinder.ExitStatus() != 0 || !aWorkFile.Appeared() || !aWorkFile.Vanished()) return false;
  int64_t expected = 0;
  for (int i = 1; i <= FCount; ++i) {
    int64_t bytes = AudioVideoBytes(Segment(i));
    if (bytes < 0) return false;
    expected += bytes;
  }
  return FileLength(FMergedPath) >= expected;
}

std::string GatFlv::Segment(int aIndex) const { return SegmentPath(Ftmpath, FFileName, FCount, aIndex); }

void GatFlv::Terminated() {
  std::exception_ptr error = FError;
  if (FOnTerminate) FOnTerminate(this);
  delete this;
  if (error) std::rethrow_exception(error);
}
