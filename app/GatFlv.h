#pragma once
// The merge of one part: a worker thread that runs the binder over the part's segment files,
// waits for it, and deletes the segments only after a merge that completed. Its end handler runs
// on the UI thread that created it, after which the object frees itself.
#include <exception>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/clMessagePump.h"

class TForm1;
class TclChildProcess;
class TclFileWatch;

class GatFlv {
public:
  using TOnTerminate = std::function<void(GatFlv* Sender)>;

  // Starts merging the aCount segments "<base> <aCount>-<i>.flv" of sFileName in the folder
  // sFtmpath (ending with the separator) into "<base>.flv". The worker reads only its own fields,
  // aForm's Closing and aForm's binder processes.
  GatFlv(TForm1& aForm, std::string sFtmpath, std::string sFileName, int _FCount, TOnTerminate aOnTerminate);
  // Waits for the worker; its end handler no longer runs.
  ~GatFlv();
  GatFlv(const GatFlv&) = delete;
  GatFlv& operator=(const GatFlv&) = delete;

  const std::string Ftmpath;
  const std::string FFileName;
  const int FCount;
  // "<base>.flv" in the folder, and the work file the binder rewrites it through.
  const std::string FMergedPath;
  const std::string FWorkPath;

  // The binder's arguments: the merged file, then the segments in the order they are joined.
  static std::vector<std::string> BinderArguments(const std::string& aFolder, const std::string& aBase, int aCount);

private:
  void Execute();
  // At close: stops the binder and removes the partial merged file it made (and its work file)
  // unless the merge completed all the same.
  void DiscardCutMerge(TclChildProcess& aBinder, TclFileWatch& aWorkFile, bool aOutputExisted);
  // Whether the binder we started made the whole merged file.
  bool MergeCompleted(TclChildProcess& aBinder, const TclFileWatch& aWorkFile) const;
  // The path of segment aIndex (from 1).
  std::string Segment(int aIndex) const;
  // On the UI thread: the end handler, then the object goes.
  void Terminated();

  TForm1& FForm;
  const std::string FBinderPath;
  TOnTerminate FOnTerminate;
  std::exception_ptr FError;
  TclMessageTarget FTarget;
  std::thread FThread;
};
