#pragma once
// One platform internet call wrapped as an object, so that its connection can make it with a
// time-out and abandon it, also on a stop from another thread. Concrete calls are in clHttpActions.
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/clWinInet.h"

class TclInternetConnection;

class TclInternetAction {
public:
  // Registers the action with aOwner. aInternet is the handle the call works under: closing it
  // is how a hanging call is cancelled. Actions are made with new: the connection frees those
  // still registered when it closes; one freed earlier unregisters itself.
  TclInternetAction(TclInternetConnection* aOwner, HINTERNET aInternet);
  virtual ~TclInternetAction();
  TclInternetAction(const TclInternetAction&) = delete;
  TclInternetAction& operator=(const TclInternetAction&) = delete;

  // Makes the call through the owner, abandoned after aTimeOut ms (-1: no limit). A failed
  // call raises EclInternetError with the platform's error, or answers false when aIsSilent; a
  // call that runs out of time is cancelled and raises EclTimeoutInternetError. A stop request
  // (the owner's Terminate) cancels the call without a time-out error.
  bool FireAction(int32_t aTimeOut, bool aIsSilent = false);

  TclInternetConnection* Owner() const { return FOwner; }
  HINTERNET Internet() const;
  int32_t ErrorCode() const { return FErrorCode; }
  const std::string& ErrorText() const { return FErrorText; }

protected:
  // The platform call. A failure is recorded, never raised.
  virtual void Execute() = 0;
  // The calling thread's last platform error becomes the action's error.
  void RecordLastError();

  // The handle the call produced, for actions that produce one.
  HINTERNET Resource() const;
  void SetResource(HINTERNET aHandle);
  void CloseResource();

private:
  friend class TclInternetConnection;
  // Execute, with any exception kept as the action's error.
  void Run();
  void RecordError(int32_t aCode, const std::string& aText);
  // aHandle is being closed elsewhere: forget it (without closing it) wherever it is held.
  void HandleClosed(HINTERNET aHandle);
  // Closes the handle the call works under, aborting the call and every call under that handle.
  void Cancel();

  TclInternetConnection* FOwner;
  HINTERNET FInternet;
  HINTERNET FResource = nullptr;
  mutable std::mutex FAccessor;
  bool FHasError = false;
  int32_t FErrorCode = 0;
  std::string FErrorText;
};

// An action whose call produces a handle (root, server connection, request). The handle is
// closed with the action.
class TclInternetResourceAction : public TclInternetAction {
public:
  using TclInternetAction::TclInternetAction;
  ~TclInternetResourceAction() override;

  HINTERNET hResource() const { return Resource(); }
  using TclInternetAction::CloseResource;

protected:
  // Keeps the call's result; a null handle records the platform error.
  void SetResult(HINTERNET aHandle);
};
