#include "engine/clResourceInfo.h"

TclResourceInfo::TclResourceInfo() : FDate(TclDateTime::Now()) {}

void TclResourceInfo::Assign(const TclResourceInfo* aSource) {
  if (!aSource) {
    *this = TclResourceInfo();
    FDate = 0;
    return;
  }
  *this = *aSource;
  FAllowsRandomAccess = aSource->AllowsRandomAccess();
}

TclResourceInfo& TclResourceInfoHolder::Ensure() {
  if (TclResourceInfo* info = Get()) return *info;
  FOwn = std::make_unique<TclResourceInfo>();
  FOwn->SetName(FName);
  return *FOwn;
}

void TclResourceInfoHolder::SetGiven(TclResourceInfo* aInfo) {
  FGiven = aInfo;
  FOwn.reset();
}
