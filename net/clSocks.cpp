#include "net/clSocks.h"

#include <arpa/inet.h>

#include <algorithm>

namespace {

const char* Socks4ReplyText(unsigned char aCode) {
  switch (aCode) {
    case 90: return "Request granted";
    case 91: return "SOCKS error: request rejected or failed";
    case 92: return "SOCKS error: request rejected becasue SOCKS server cannot connect to identd on the client";
    case 93: return "SOCKS error: request rejected because the client program and identd report different user-ids";
    default: return "Unknown SOCKS error occured";
  }
}

const char* Socks5ReplyText(unsigned char aCode) {
  switch (aCode) {
    case 0: return "Succeeded";
    case 1: return "General SOCKS server failure";
    case 2: return "SOCKS error: connection not allowed by ruleset";
    case 3: return "SOCKS error: Network unreachable";
    case 4: return "SOCKS error: Host unreachable";
    case 5: return "SOCKS error: Connection refused";
    case 6: return "SOCKS error: TTL expired";
    case 7: return "SOCKS error: Command not supported";
    case 8: return "SOCKS error: Address type not supported";
    default: return "Unknown SOCKS error occured";
  }
}

[[noreturn]] void Refuse(const std::string& aText, int32_t aCode) { throw EclSocksFirewallError(aText, aCode); }

// Requests are limited to what the protocols can carry: 255-byte names and 1024-byte requests.
void CheckLength(size_t aLength, size_t aLimit) {
  if (aLength > aLimit)
    Refuse("SOCKS error: the user name, password or host name is too long for the request", clSocksRequestTooLong);
}

std::string LengthPrefixed(const std::string& aText) {
  CheckLength(aText.size(), 255);
  return static_cast<char>(aText.size()) + aText;
}

std::string PortBytes(int32_t aPort) {
  return {static_cast<char>((aPort >> 8) & 0xFF), static_cast<char>(aPort & 0xFF)};
}

// Resets the connection's transfer limit when a negotiation read ends, also by an exception.
class TclReplyLimit {
public:
  TclReplyLimit(TclConnection& aConnection, int64_t aLimit) : FConnection(aConnection) {
    aConnection.SetBytesToProceed(aLimit);
  }
  ~TclReplyLimit() { FConnection.SetBytesToProceed(-1); }

private:
  TclConnection& FConnection;
};

}  // namespace

// TclSocksNetworkStream

TclSocksNetworkStream::TclSocksNetworkStream(std::unique_ptr<TclNetworkStream> aBaseStream,
                                             const std::string& aTargetServer, int32_t aTargetPort,
                                             const std::string& aUserName, const std::string& aPassword)
    : FTargetPort(aTargetPort),
      FTargetServer(aTargetServer),
      FUserName(aUserName),
      FPassword(aPassword),
      FBaseStream(std::move(aBaseStream)) {
  StartNegotiation();
}

std::unique_ptr<TclSocksNetworkStream> TclSocksNetworkStream::Create(const TclFirewallSettings& aSettings,
                                                                     std::unique_ptr<TclNetworkStream> aBaseStream,
                                                                     const std::string& aTargetServer,
                                                                     int32_t aTargetPort) {
  switch (aSettings.FirewallType()) {
    case ftSocks4:
      return std::make_unique<TclSocks4NetworkStream>(std::move(aBaseStream), aTargetServer, aTargetPort,
                                                      aSettings.UserName(), aSettings.Password());
    case ftSocks5:
      return std::make_unique<TclSocks5NetworkStream>(std::move(aBaseStream), aTargetServer, aTargetPort,
                                                      aSettings.UserName(), aSettings.Password());
  }
  throw EclTcpClientError("Unsupported firewall type", clUnsupportedFirewallType);
}

void TclSocksNetworkStream::StartNegotiation() {
  FState = csHello;
  FReadBuffer.Clear();
  FRequest.Clear();
  ClearNextAction();
  SetNextAction(saWrite);
}

bool TclSocksNetworkStream::TargetIpV4(std::string& aBytes) const {
  in_addr address;
  if (inet_pton(AF_INET, FTargetServer.c_str(), &address) != 1) return false;
  aBytes.assign(reinterpret_cast<const char*>(&address), 4);
  return true;
}

void TclSocksNetworkStream::TakeOverBaseState() {
  ClearNextAction();
  SetNextAction(FBaseStream->NextAction());
  if (FBaseStream->HasReadData()) SetHasReadData(true);
  if (FBaseStream->NeedClose()) SetNeedClose(true);
}

void TclSocksNetworkStream::SetConnection(TclConnection* aConnection) {
  TclNetworkStream::SetConnection(aConnection);
  FBaseStream->SetConnection(aConnection);
}

bool TclSocksNetworkStream::Connect(TclIPAddress& aAddr, int32_t aPort) {
  StartNegotiation();
  return TclNetworkStream::Connect(aAddr, aPort);
}

void TclSocksNetworkStream::ConnectEnd() {
  TclNetworkStream::ConnectEnd();
  FBaseStream->ConnectEnd();
}

void TclSocksNetworkStream::Close(bool aNotifyPeer) {
  TclNetworkStream::Close(aNotifyPeer);
  if (FState != csData) return;
  FBaseStream->Close(aNotifyPeer);
  TakeOverBaseState();
}

void TclSocksNetworkStream::StreamReady() {
  if (FState == csOpenSession) {
    FState = csData;
    InitClientSession();
  } else if (FState == csData) {
    FBaseStream->StreamReady();
  }
}

void TclSocksNetworkStream::InitClientSession() {
  if (FState != csData) return StartNegotiation();
  ClearNextAction();
  FBaseStream->InitClientSession();
  TakeOverBaseState();
}

int32_t TclSocksNetworkStream::GetBatchSize() {
  return FState == csData ? FBaseStream->GetBatchSize() : TclNetworkStream::GetBatchSize();
}

int32_t TclSocksNetworkStream::GetReadBatchSize() {
  return FState == csData ? FBaseStream->GetReadBatchSize() : TclNetworkStream::GetReadBatchSize();
}

int32_t TclSocksNetworkStream::GetWriteBatchSize() {
  return FState == csData ? FBaseStream->GetWriteBatchSize() : TclNetworkStream::GetWriteBatchSize();
}

bool TclSocksNetworkStream::IsProceedLimit() {
  return FState == csData ? FBaseStream->IsProceedLimit() : TclNetworkStream::IsProceedLimit();
}

void TclSocksNetworkStream::InitProgress() {
  if (FState == csData)
    FBaseStream->InitProgress();
  else
    TclNetworkStream::InitProgress();
}

bool TclSocksNetworkStream::Write(TStream* aData) {
  if (FState == csData) {
    bool result = FBaseStream->Write(aData);
    TakeOverBaseState();
    return result;
  }
  ClearNextAction();
  if (FRequest.Size() == 0) {
    std::string request = BuildRequest();
    if (request.empty()) RaiseAssertion("clSocks");
    FRequest.WriteBuffer(request.data(), request.size());
    FRequest.SetPosition(0);
    TclNetworkStream::InitProgress();
  }
  if (!WriteSocket(FRequest) || FRequest.Position() < FRequest.Size()) return false;
  FRequest.Clear();
  SetNextAction(saRead);
  return true;
}

bool TclSocksNetworkStream::Read(TStream* aData) {
  if (FState == csData) {
    bool result = FBaseStream->Read(aData);
    SetHasReadData(false);
    TakeOverBaseState();
    return result;
  }
  ClearNextAction();
  TMemoryStream received;
  bool result;
  {
    TclNetworkStream::InitProgress();
    TclReplyLimit limit(*Connection(), std::max<int64_t>(1, ExpectedReplySize() - FReadBuffer.Size()));
    result = ReadSocket(received);
  }
  if (received.Size() > 0)
    ReceiveReply(received.Data().data(), received.Size());
  else if (!NeedClose())
    SetNextAction(saRead);
  SetHasReadData(result && FState != csData);
  return result;
}

bool TclSocksNetworkStream::ReceiveReply(const char* aData, size_t aLength) {
  FReadBuffer.Seek(0, soEnd);
  FReadBuffer.WriteBuffer(aData, aLength);
  const std::string& buffer = FReadBuffer.Data();
  std::string reply = buffer.substr(0, std::min<size_t>(buffer.size(), ExpectedReplySize()));
  if (!ProcessReply(reply)) return false;
  // Bytes beyond the reply belong to whatever comes next; none are expected before the next request.
  FReadBuffer.Clear();
  return true;
}

// TclSocks4NetworkStream

std::string TclSocks4NetworkStream::BuildRequest() {
  std::string request{4, 1};
  request += PortBytes(TargetPort());
  std::string address;
  bool isAddress = TargetIpV4(address);
  request += isAddress ? address : std::string{0, 0, 0, 1};
  request += UserName() + '\0';
  if (!isAddress) request += TargetServer() + '\0';
  CheckLength(request.size(), 1024);
  return request;
}

bool TclSocks4NetworkStream::ProcessReply(const std::string& aReply) {
  if (aReply.size() < 8) {
    SetNextAction(saRead);
    return false;
  }
  unsigned char code = aReply[1];
  if (aReply[0] != 0 || code != 90) Refuse(Socks4ReplyText(code), code);
  SetState(csOpenSession);
  StreamReady();
  return true;
}

// TclSocks5NetworkStream

void TclSocks5NetworkStream::StartNegotiation() {
  TclSocksNetworkStream::StartNegotiation();
  FBytesToRead = 0;
}

std::string TclSocks5NetworkStream::BuildRequest() {
  switch (State()) {
    case csHello:
      return {5, 1, static_cast<char>(UserName().empty() ? 0 : 2)};
    case csAuthenticate:
      return '\x01' + LengthPrefixed(UserName()) + LengthPrefixed(Password());
    case csCommand: {
      std::string request{5, 1, 0};
      std::string address;
      if (TargetIpV4(address))
        request += '\x01' + address;
      else
        request += '\x03' + LengthPrefixed(TargetServer());
      return request + PortBytes(TargetPort());
    }
    default:
      return "";
  }
}

int32_t TclSocks5NetworkStream::ExpectedReplySize() {
  FBytesToRead = 2;
  if (State() == csCommand) {
    // The bound address after the fourth byte sets the length: IPv4, a name, or IPv6.
    const std::string& reply = ReadBuffer();
    FBytesToRead = 10;
    if (reply.size() >= 4 && reply[3] == 4) FBytesToRead = 22;
    if (reply.size() >= 4 && reply[3] == 3) FBytesToRead = reply.size() >= 5 ? 7 + static_cast<unsigned char>(reply[4]) : 5;
  }
  return FBytesToRead;
}

bool TclSocks5NetworkStream::ProcessReply(const std::string& aReply) {
  if (aReply.size() < 2) {
    SetNextAction(saRead);
    return false;
  }
  unsigned char code = aReply[1];
  switch (State()) {
    case csHello:
      if (aReply[0] == 5 && code == 0)
        SetState(csCommand);
      else if (aReply[0] == 5 && code == 2)
        SetState(csAuthenticate);
      else
        Refuse("SOCKS error: No acceptable authentication methods", code);
      SetNextAction(saWrite);
      return true;
    case csAuthenticate:
      if (aReply[0] != 1 || code != 0) Refuse("SOCKS error: authentication failed", code);
      SetState(csCommand);
      SetNextAction(saWrite);
      return true;
    case csCommand:
      if (aReply[0] != 5 || code != 0) Refuse(Socks5ReplyText(code), code);
      if (aReply.size() >= 4 && aReply[3] != 1 && aReply[3] != 3 && aReply[3] != 4) Refuse(Socks5ReplyText(8), 8);
      if (aReply.size() < static_cast<size_t>(ExpectedReplySize())) {
        SetNextAction(saRead);
        return false;
      }
      SetState(csOpenSession);
      StreamReady();
      return true;
    default:
      return false;
  }
}
