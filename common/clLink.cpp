#include "common/clLink.h"

#include <mutex>

namespace {

// One lock for every chain: links change rarely, and a single lock leaves no order to get wrong
// between a target going away and a holder dropping its link at the same time. Constant-initialized,
// so it outlives every static holder.
constinit std::mutex gLinkLock;

}  // namespace

TclLinkTarget::~TclLinkTarget() {
  std::lock_guard lock(gLinkLock);
  while (FFirstLink) FFirstLink->Detach();
}

bool TclLinkBase::Link(TclLinkTarget* aTarget) {
  std::lock_guard lock(gLinkLock);
  if (FTarget.load(std::memory_order_relaxed) == aTarget) return false;
  Detach();
  if (aTarget) Attach(aTarget);
  return true;
}

void TclLinkBase::Attach(TclLinkTarget* aTarget) {
  FNext = aTarget->FFirstLink;
  if (FNext) FNext->FPrev = this;
  aTarget->FFirstLink = this;
  FTarget.store(aTarget, std::memory_order_release);
}

void TclLinkBase::Detach() {
  TclLinkTarget* target = FTarget.load(std::memory_order_relaxed);
  if (!target) return;
  (FPrev ? FPrev->FNext : target->FFirstLink) = FNext;
  if (FNext) FNext->FPrev = FPrev;
  FPrev = FNext = nullptr;
  FTarget.store(nullptr, std::memory_order_release);
}
