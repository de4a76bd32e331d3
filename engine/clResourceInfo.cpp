#include "engine/clResourceInfo.h"

TclResourceInfo::TclResourceInfo() { FFields.Date = TclDateTime::Now(); }

void TclResourceInfo::Assign(const TclResourceInfo* aSource) {
  if (!aSource) {
    FFields = TFields();
    return;
  }
  FFields = aSource->FFields;
  FFields.AllowsRandomAccess = aSource->AllowsRandomAccess();
}

TclResourceInfo& TclResourceInfoHolder::Ensure() {
  if (TclResourceInfo* info = Get()) return *info;
  FOwn = std::make_unique<TclResourceInfo>();
  FOwn->SetName(FName);
  return *FOwn;
}

void TclResourceInfoHolder::SetGiven(TclResourceInfo* aInfo) {
  FGiven.Set(aInfo);
  FOwn.reset();
}
