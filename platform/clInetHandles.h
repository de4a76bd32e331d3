#pragma once
// The handles of the internet client: a tree of root handles, server connections and requests,
// each counted by reference so that a handle closed on one thread stays valid memory for a call
// still running on it on another. Callers hold handle numbers, never addresses: a closed handle's
// number is not found again, so later calls on it fail cleanly.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/clInetHeaders.h"
#include "platform/clInetTransfer.h"
#include "platform/clWinInet.h"

class TclInetHandle {
public:
  enum class TKind { Root, Server, Request };
  TclInetHandle(TKind aKind, std::shared_ptr<TclInetHandle> aParent);
  virtual ~TclInetHandle() = default;
  TclInetHandle(const TclInetHandle&) = delete;
  TclInetHandle& operator=(const TclInetHandle&) = delete;

  TKind Kind() const { return FKind; }
  HINTERNET Number() const { return FNumber; }
  TclInternetOptions Options() const;
  template <typename TEdit>
  void EditOptions(TEdit aEdit) {
    std::lock_guard lock(FLock);
    aEdit(FOptions);
  }
  // Closes this handle and every handle under it: they leave the handle table and every call
  // pending on them returns. Any thread; the memory stays until the last reference goes.
  void Close();

protected:
  // Ends the calls pending on this handle itself.
  virtual void Abort() {}

private:
  friend HINTERNET RegisterHandle(const std::shared_ptr<TclInetHandle>& aHandle);
  const TKind FKind;
  const std::shared_ptr<TclInetHandle> FParent;
  HINTERNET FNumber = nullptr;
  mutable std::mutex FLock;
  TclInternetOptions FOptions;
  bool FClosed = false;
  std::vector<std::weak_ptr<TclInetHandle>> FChildren;
};

// Enters a new handle into the table, under its parent; nothing when the parent has been closed.
HINTERNET RegisterHandle(const std::shared_ptr<TclInetHandle>& aHandle);
// The open handle with that number, or nothing.
std::shared_ptr<TclInetHandle> FindHandle(HINTERNET aNumber);
// Removes the handle from the table and answers it, or nothing when it is not open.
std::shared_ptr<TclInetHandle> TakeHandle(HINTERNET aNumber);

// A root handle: the agent, the proxy settings and the idle sessions (with their kept-alive
// connections) that the next requests under it take up again.
class TclInetRoot : public TclInetHandle {
public:
  TclInetRoot(std::string aAgent, DWORD aAccessType, std::string aProxy, std::string aBypass);
  const std::string Agent;
  const DWORD AccessType;
  const std::string Proxy;
  const std::string Bypass;
  // An idle session, preferring one that last talked to aOrigin; a new one when there is none.
  std::shared_ptr<TclCurlSession> TakeSession(const std::string& aOrigin);
  void GiveSession(std::shared_ptr<TclCurlSession> aSession);

private:
  std::mutex FPoolLock;
  std::vector<std::shared_ptr<TclCurlSession>> FIdle;
};

class TclInetServer : public TclInetHandle {
public:
  TclInetServer(std::shared_ptr<TclInetRoot> aRoot, std::string aHost, INTERNET_PORT aPort);
  const std::shared_ptr<TclInetRoot> Root;
  const std::string Host;
  const INTERNET_PORT Port;  // 0: the scheme's default
};

class TclInetRequest : public TclInetHandle {
public:
  TclInetRequest(std::shared_ptr<TclInetServer> aServer, std::string aVerb, std::string aObject, bool aHttp10,
                 DWORD aFlags);
  ~TclInetRequest() override;
  const std::shared_ptr<TclInetServer> Server;
  // Calls on one request run one at a time; closing does not wait for this.
  std::mutex CallLock;
  TclRequestHeaderLines Headers;
  std::unique_ptr<TclCurlTransfer> Transfer;
  // The exchange the request's settings and options describe now.
  TclExchange Exchange() const;

protected:
  void Abort() override { Transfer->Abort(); }

private:
  const std::string FVerb;
  const std::string FUrl;
  const bool FHttp10;
  const DWORD FFlags;
};
