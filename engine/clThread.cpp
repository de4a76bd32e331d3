#include "engine/clThread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <limits>
#include <utility>

#include "common/clMessagePump.h"

namespace {

// Niceness steps of the priorities around the process's own; raising needs a privilege, and
// without it the thread keeps the normal priority.
void ApplyPriority(TclProcessPriority aPriority) {
  if (aPriority == ppNormal) return;
  const int base = getpriority(PRIO_PROCESS, 0);
  setpriority(PRIO_PROCESS, gettid(), base + (aPriority == ppLower ? 5 : -5));
}

}  // namespace

TclThread::TclThread() : FCreatorPump(TclMessagePump::CurrentShared()) {}

TclThread::~TclThread() { EndBeforeDestruction(); }

void TclThread::EndBeforeDestruction() {
  if (!FThread.joinable() || FFreeOnTerminate) return;
  try {
    WaitFor();
  } catch (...) {
    // Nobody is left to take the thread's exception.
  }
}

void TclThread::Start() { FThread = std::thread(&TclThread::Run, this); }

void TclThread::Run() {
  ApplyPriority(FPriority);
  try {
    Execute();
  } catch (...) {
    FFatalException = std::current_exception();
  }
  // Copies: a thread freed on termination is gone once Finish has run.
  const bool freeSelf = FFreeOnTerminate;
  const std::shared_ptr<TclMessagePump> pump = FCreatorPump;
  if (pump->Send([this] { Finish(); })) {
    if (!freeSelf) FEnded.Signal();
    return;
  }
  // The creating thread has ended: nobody runs OnTerminate any more.
  if (!freeSelf) {
    FEnded.Signal();
    return;
  }
  FThread.detach();
  delete this;
}

void TclThread::Finish() {
  try {
    if (OnTerminate) OnTerminate(this);
  } catch (...) {
    if (!FFatalException) FFatalException = std::current_exception();
  }
  if (!FFreeOnTerminate) return;
  // Nobody waits for a thread freed on termination: its exception goes to the creating thread's
  // handler of posted messages.
  if (FFatalException) FCreatorPump->Post([error = FFatalException] { std::rethrow_exception(error); });
  FThread.detach();
  delete this;
}

bool TclThread::PostToCreator(std::function<void()> aCall) { return FCreatorPump->Post(std::move(aCall)); }

void TclThread::WaitFor() {
  if (FThread.joinable()) {
    if (FCreatorPump->IsOwnerThread()) ServedPause(std::numeric_limits<int64_t>::max(), &FEnded);
    FThread.join();
  }
  if (FFatalException) std::rethrow_exception(std::exchange(FFatalException, nullptr));
}
