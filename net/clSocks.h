#pragma once
// Network streams that negotiate a SOCKS 4 or SOCKS 5 proxy connection to the target and then
// hand all further traffic to the stream they wrap (plain or TLS).
#include <cstdint>
#include <memory>
#include <string>

#include "net/clFirewallUtils.h"
#include "net/clSocket.h"

class EclSocksFirewallError : public EclSocketError {
public:
  using EclSocketError::EclSocketError;
};

constexpr int32_t clUnsupportedFirewallType = -101;
constexpr int32_t clSocksRequestTooLong = -102;

enum TclSocksConnectionState { csHello, csAuthenticate, csCommand, csOpenSession, csData };

class TclSocksNetworkStream : public TclNetworkStream {
public:
  TclSocksNetworkStream(std::unique_ptr<TclNetworkStream> aBaseStream, const std::string& aTargetServer,
                        int32_t aTargetPort, const std::string& aUserName, const std::string& aPassword);

  // The SOCKS stream of the settings' kind around aBaseStream; other kinds raise -101.
  static std::unique_ptr<TclSocksNetworkStream> Create(const TclFirewallSettings& aSettings,
                                                       std::unique_ptr<TclNetworkStream> aBaseStream,
                                                       const std::string& aTargetServer, int32_t aTargetPort);

  TclNetworkStream* BaseStream() const { return FBaseStream.get(); }
  TclSocksConnectionState State() const { return FState; }
  const std::string& TargetServer() const { return FTargetServer; }
  int32_t TargetPort() const { return FTargetPort; }

  // Adds received reply bytes and judges the reply once enough are there: true when it was
  // accepted; a refusal raises EclSocksFirewallError.
  bool ReceiveReply(const char* aData, size_t aLength);

  void SetConnection(TclConnection* aConnection) override;
  bool Connect(TclIPAddress& aAddr, int32_t aPort) override;
  void ConnectEnd() override;
  void Close(bool aNotifyPeer) override;
  void StreamReady() override;
  bool Read(TStream* aData) override;
  bool Write(TStream* aData) override;
  int32_t GetBatchSize() override;
  int32_t GetReadBatchSize() override;
  int32_t GetWriteBatchSize() override;
  bool IsProceedLimit() override;
  void InitProgress() override;
  void InitClientSession() override;

protected:
  // The request for the current state (never empty).
  virtual std::string BuildRequest() = 0;
  // Judges a reply of ExpectedReplySize bytes (fewer when that is all there is): false asks for
  // the rest; a refusal raises EclSocksFirewallError.
  virtual bool ProcessReply(const std::string& aReply) = 0;
  virtual int32_t ExpectedReplySize() = 0;
  virtual void StartNegotiation();

  void SetState(TclSocksConnectionState aValue) { FState = aValue; }
  const std::string& UserName() const { return FUserName; }
  const std::string& Password() const { return FPassword; }
  const std::string& ReadBuffer() const { return FReadBuffer.Data(); }
  // The target's IPv4 address bytes, when the target server is written as one.
  bool TargetIpV4(std::string& aBytes) const;

private:
  // Takes over the wrapped stream's next action and flags after it worked.
  void TakeOverBaseState();

  int32_t FTargetPort;
  std::string FTargetServer;
  TMemoryStream FReadBuffer;
  TMemoryStream FRequest;
  std::string FUserName;
  std::string FPassword;
  TclSocksConnectionState FState = csHello;
  std::unique_ptr<TclNetworkStream> FBaseStream;
};

class TclSocks4NetworkStream : public TclSocksNetworkStream {
public:
  using TclSocksNetworkStream::TclSocksNetworkStream;

protected:
  std::string BuildRequest() override;
  bool ProcessReply(const std::string& aReply) override;
  int32_t ExpectedReplySize() override { return 8; }
};

class TclSocks5NetworkStream : public TclSocksNetworkStream {
public:
  using TclSocksNetworkStream::TclSocksNetworkStream;

protected:
  std::string BuildRequest() override;
  bool ProcessReply(const std::string& aReply) override;
  int32_t ExpectedReplySize() override;
  void StartNegotiation() override;

private:
  int32_t FBytesToRead = 0;
};
