#pragma once
// A TCP client component: owns one connection, which it opens to Server:Port (directly or through
// a SOCKS proxy), reuses while it is active and closes.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "net/clFirewallUtils.h"
#include "net/clSocket.h"

class TclTcpClient {
public:
  TclTcpClient();
  // Derived classes close in their own destructor when they must take part in closing.
  virtual ~TclTcpClient();
  TclTcpClient(const TclTcpClient&) = delete;
  TclTcpClient& operator=(const TclTcpClient&) = delete;

  // Connects unless already active (an open connection is reused, without any event).
  void Open();
  // Aborts and closes the connection telling the peer, then raises OnClose if it was active.
  void Close();
  bool Active() const { return FConnection->Active(); }
  TclTcpClientConnection* Connection() const { return FConnection.get(); }

  const std::string& Server() const { return FServer; }
  void SetServer(const std::string& aValue);
  // GetDefaultPort until set.
  int32_t Port() const { return FPort ? *FPort : GetDefaultPort(); }
  void SetPort(int32_t aValue);
  const std::string& LocalBinding() const { return FConnection->LocalBinding(); }
  void SetLocalBinding(const std::string& aValue);
  int32_t BatchSize() const { return FConnection->BatchSize(); }
  void SetBatchSize(int32_t aValue);
  int32_t TimeOut() const { return FConnection->TimeOut(); }
  void SetTimeOut(int32_t aValue);
  int32_t BitsPerSec() const { return FConnection->BitsPerSec(); }
  void SetBitsPerSec(int32_t aValue);
  // Keep-alive timer interval in milliseconds; 0 = off.
  int32_t KeepAlive() const { return FKeepAlive; }
  void SetKeepAlive(int32_t aValue);
  const TclFirewallSettings& FirewallSettings() const { return FFirewallSettings; }
  void SetFirewallSettings(const TclFirewallSettings& aValue);

  std::function<void(TclTcpClient* Sender)> OnChanged;
  std::function<void(TclTcpClient* Sender)> OnOpen;
  std::function<void(TclTcpClient* Sender)> OnClose;

protected:
  virtual std::unique_ptr<TclNetworkStream> CreateNetworkStream();
  virtual int32_t GetDefaultPort() const = 0;
  virtual void OpenConnection(const std::string& aServer, int32_t aPort);
  virtual void InternalOpen();
  virtual void InternalClose(bool aNotifyPeer);
  virtual void FreeObjects() {}
  virtual void KeepAliveTick() {}

  virtual void DoChanged();
  virtual void DoOpen();
  virtual void DoClose();

  // Stores a property value when it differs and notifies the change.
  template <typename T>
  void StoreProperty(T& aField, const T& aValue) {
    if (aField == aValue) return;
    aField = aValue;
    DoChanged();
  }

  // Set while a failed open or start is being cleaned up.
  bool InProgress() const { return FInProgress; }
  // Closes without notifying after a failure, keeping the first error.
  void CleanUpAfterFailure();

private:
  void StartKeepAlive();
  void StopKeepAlive();

  std::unique_ptr<TclTcpClientConnection> FConnection;
  std::string FServer;
  std::optional<int32_t> FPort;
  int32_t FKeepAlive = 0;
  TclFirewallSettings FFirewallSettings;
  bool FInProgress = false;
  struct TclKeepAliveTimer;
  std::unique_ptr<TclKeepAliveTimer> FTimer;
};
