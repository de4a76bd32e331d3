#include "engine/clInternetAction.h"

#include "engine/clInternetConnection.h"
#include "engine/clInternetError.h"

TclInternetAction::TclInternetAction(TclInternetConnection* aOwner, HINTERNET aInternet)
    : FOwner(aOwner), FInternet(aInternet) {
  if (FOwner) FOwner->AddAction(this);
}

TclInternetAction::~TclInternetAction() {
  if (FOwner) FOwner->RemoveAction(this);
}

bool TclInternetAction::FireAction(int32_t aTimeOut, bool aIsSilent) {
  FHasError = false;
  FErrorCode = 0;
  FErrorText.clear();
  if (!FOwner) throw EclAssertionError("An internet action needs a connection");
  FOwner->FireAction(this, aTimeOut);
  if (!FHasError) return true;
  if (aIsSilent) return false;
  throw EclInternetError(FErrorText, FErrorCode);
}

HINTERNET TclInternetAction::Internet() const {
  std::lock_guard<std::mutex> guard(FAccessor);
  return FInternet;
}

void TclInternetAction::RecordLastError() {
  const int32_t code = int32_t(GetLastError());
  RecordError(code, EclInternetError::GetLastErrorText(code));
}

void TclInternetAction::RecordError(int32_t aCode, const std::string& aText) {
  FHasError = true;
  FErrorCode = aCode;
  FErrorText = aText;
}

HINTERNET TclInternetAction::Resource() const {
  std::lock_guard<std::mutex> guard(FAccessor);
  return FResource;
}

void TclInternetAction::SetResource(HINTERNET aHandle) {
  std::lock_guard<std::mutex> guard(FAccessor);
  FResource = aHandle;
}

void TclInternetAction::CloseResource() {
  HINTERNET handle;
  {
    std::lock_guard<std::mutex> guard(FAccessor);
    handle = FResource;
    FResource = nullptr;
  }
  if (handle) InternetCloseHandle(handle);
}

void TclInternetAction::Run() {
  try {
    Execute();
  } catch (const std::exception& e) {
    // A call that raised has failed: it must not look like a success to the caller.
    RecordError(0, e.what());
  } catch (...) {
    RecordError(0, "Unknown error, code = 0");
  }
}

void TclInternetAction::HandleClosed(HINTERNET aHandle) {
  std::lock_guard<std::mutex> guard(FAccessor);
  if (FInternet == aHandle) FInternet = nullptr;
  if (FResource == aHandle) FResource = nullptr;
}

void TclInternetAction::Cancel() {
  std::lock_guard<std::mutex> guard(FAccessor);
  if (!FInternet) return;
  FOwner->ForgetHandle(FInternet, this);
  InternetCloseHandle(FInternet);
  FInternet = nullptr;
}

TclInternetResourceAction::~TclInternetResourceAction() { CloseResource(); }

void TclInternetResourceAction::SetResult(HINTERNET aHandle) {
  if (!aHandle) RecordLastError();
  SetResource(aHandle);
}
