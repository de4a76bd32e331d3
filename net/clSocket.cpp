#include "net/clSocket.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "common/clTranslator.h"

namespace {

const char* const cUnit = "clSocket";

// The pending error of a socket (SO_ERROR).
int PendingSocketError(int aSocket) {
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(aSocket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

void RaisePendingSocketError(int aSocket) {
  int error = PendingSocketError(aSocket);
  RaiseSystemSocketError(error ? error : ECONNRESET);
}

// Clears a connection's read-until-close for a connect or session start and restores it after.
class TclReadUntilCloseOff {
public:
  explicit TclReadUntilCloseOff(TclTcpConnection& aConnection)
      : FConnection(aConnection), FSaved(aConnection.IsReadUntilClose()) {
    aConnection.SetIsReadUntilClose(false);
  }
  ~TclReadUntilCloseOff() { FConnection.SetIsReadUntilClose(FSaved); }

private:
  TclTcpConnection& FConnection;
  bool FSaved;
};

}  // namespace

// TclNetworkStream

int32_t TclNetworkStream::GetBatchSize() {
  int32_t batch = FConnection->BatchSize();
  if (batch < 1) RaiseSocketError(clInvalidBatchSizeError);
  int64_t limit = FConnection->BytesToProceed();
  if (limit >= 0 && limit - FBytesProceed < batch) return static_cast<int32_t>(std::max<int64_t>(0, limit - FBytesProceed));
  return batch;
}

void TclNetworkStream::SetConnection(TclConnection* aConnection) { FConnection = aConnection; }

void TclNetworkStream::Assign(const TclNetworkStream& aSource) {
  FIP = aSource.FIP;
  FPort = aSource.FPort;
  FPeerIP = aSource.FPeerIP;
  FPeerPort = aSource.FPeerPort;
  FHasReadData = aSource.FHasReadData;
}

bool TclNetworkStream::Connect(TclIPAddress& aAddr, int32_t aPort) {
  FNeedClose = false;
  ClearNextAction();
  InitClientSession();
  aAddr.SetPort(aPort);
  int rc = ::connect(FConnection->Socket().Socket(), aAddr.GetAddress(), aAddr.GetAddressLength());
  int error = rc == 0 ? 0 : errno;
  if (rc != 0 && SocketErrorCode(error) != clWouldBlock) RaiseSystemSocketError(error);
  SetPeerInfo(aAddr.ToString(), aPort);
  return rc == 0;
}

void TclNetworkStream::ConnectEnd() {
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  if (getsockname(FConnection->Socket().Socket(), reinterpret_cast<sockaddr*>(&local), &length) != 0)
    RaiseSystemSocketError(errno);
  int32_t port = 0;
  if (local.ss_family == AF_INET) port = ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
  if (local.ss_family == AF_INET6) port = ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port);
  SetLocalInfo(TclIPAddress::AddressToString(reinterpret_cast<sockaddr*>(&local)), port);
}

void TclNetworkStream::Bind(TclIPAddress& aAddr, int32_t aPort) {
  aAddr.SetPort(aPort);
  if (::bind(FConnection->Socket().Socket(), aAddr.GetAddress(), aAddr.GetAddressLength()) != 0)
    RaiseSystemSocketError(errno);
}

void TclNetworkStream::Close(bool aNotifyPeer) { ClearNextAction(); }

void TclNetworkStream::StreamReady() { FConnection->DoReady(); }

bool TclNetworkStream::Read(TStream* aData) {
  ClearNextAction();
  if (!aData) return true;
  return ReadSocket(*aData);
}

bool TclNetworkStream::ReadSocket(TStream& aData, int64_t aMaxBytes) {
  for (int64_t total = 0; aMaxBytes < 0 || total < aMaxBytes;) {
    int32_t n = GetReadBatchSize();
    if (n <= 0) return true;
    if (FBuffer.size() < static_cast<size_t>(n)) FBuffer.resize(n);
    int64_t got = ReadBuf(FBuffer.data(), n);
    if (got < 0) return false;
    if (got == 0) {
      FNeedClose = true;
      return true;
    }
    aData.WriteBuffer(FBuffer.data(), got);
    UpdateRawProgress(got);
    total += got;
    if (FConnection->IsAborted() || IsProceedLimit()) return true;
  }
  return true;
}

bool TclNetworkStream::Write(TStream* aData) {
  ClearNextAction();
  if (!aData) return true;
  return WriteSocket(*aData);
}

bool TclNetworkStream::WriteSocket(TStream& aData) {
  int64_t left = aData.Size() - aData.Position();
  if (left <= 0) return true;
  int32_t n = GetWriteBatchSize();
  std::string buffer(std::max<int32_t>(n, 0), '\0');
  while (left > 0) {
    int64_t chunk = std::min<int64_t>(n, left);
    if (chunk <= 0) return true;
    aData.ReadBuffer(buffer.data(), chunk);
    int64_t sent = WriteBuf(buffer.data(), chunk);
    if (sent < 0) {
      aData.Seek(-chunk, soCurrent);
      return false;
    }
    if (sent < chunk) aData.Seek(sent - chunk, soCurrent);
    UpdateRawProgress(sent);
    left -= sent;
    if (FConnection->IsAborted() || IsProceedLimit()) return true;
  }
  return true;
}

int64_t TclNetworkStream::ReadBuf(void* aBuffer, int64_t aLength) {
  ssize_t got = ::recv(FConnection->Socket().Socket(), aBuffer, aLength, 0);
  int error = errno;
  BandwidthPause(aLength);
  if (got >= 0) return got;
  if (SocketErrorCode(error) == clWouldBlock) return -1;
  RaiseSystemSocketError(error);
}

int64_t TclNetworkStream::WriteBuf(const void* aBuffer, int64_t aLength) {
  ssize_t sent = ::send(FConnection->Socket().Socket(), aBuffer, aLength, MSG_NOSIGNAL);
  int error = errno;
  BandwidthPause(aLength);
  if (sent >= 0) return sent;
  if (SocketErrorCode(error) == clWouldBlock) return -1;
  RaiseSystemSocketError(error);
}

void TclNetworkStream::BandwidthPause(int64_t aRequested) {
  int32_t bitsPerSec = FConnection->BitsPerSec();
  if (bitsPerSec > 0) ServedPause(aRequested * 8000 / bitsPerSec, FConnection->AbortEvent());
}

int32_t TclNetworkStream::GetReadBatchSize() { return GetBatchSize(); }

int32_t TclNetworkStream::GetWriteBatchSize() { return GetBatchSize(); }

bool TclNetworkStream::IsProceedLimit() {
  int64_t limit = FConnection->BytesToProceed();
  return limit >= 0 && FBytesProceed >= limit;
}

void TclNetworkStream::InitProgress() { FBytesProceed = 0; }

void TclNetworkStream::UpdateProgress(int64_t aBytesProceed) {
  FBytesProceed += aBytesProceed;
  FConnection->FTotalBytesProceed += aBytesProceed;
  FConnection->DoProgress(FConnection->FTotalBytesProceed, FConnection->FTotalBytes);
}

void TclNetworkStream::InitClientSession() {}

void TclNetworkStream::SetPeerInfo(const std::string& aIP, int32_t aPort) {
  FPeerIP = aIP;
  FPeerPort = aPort;
  if (FConnection) {
    FConnection->FPeerIP = aIP;
    FConnection->FPeerPort = aPort;
  }
}

void TclNetworkStream::SetLocalInfo(const std::string& aIP, int32_t aPort) {
  FIP = aIP;
  FPort = aPort;
  if (FConnection) {
    FConnection->FIP = aIP;
    FConnection->FPort = aPort;
  }
}

void TclNetworkStream::SetNextAction(TclNetworkStreamAction aAction) {
  if (FNextAction == saNone) FNextAction = aAction;
}

// TclConnection

void TclConnection::SetNetworkStream(std::unique_ptr<TclNetworkStream> aStream) {
  if (aStream && FNetworkStream) aStream->Assign(*FNetworkStream);
  FNetworkStream = std::move(aStream);
  if (FNetworkStream) FNetworkStream->SetConnection(this);
}

void TclConnection::SetBitsPerSec(int32_t aValue) {
  if (aValue >= 0) FBitsPerSec = aValue;
}

void TclConnection::InitProgress(int64_t aBytesProceed, int64_t aTotalBytes) {
  FTotalBytesProceed = aBytesProceed;
  if (FNetworkStream) FNetworkStream->InitProgress();
  FTotalBytes = aTotalBytes;
}

void TclConnection::Close(bool aNotifyPeer) {
  if (FActive && FNetworkStream) {
    try {
      FNetworkStream->Close(aNotifyPeer);
      if (aNotifyPeer) DispatchNextAction();
    } catch (...) {
      EndConnection();
      throw;
    }
    // A closing message still on its way keeps the connection open, unless the close was aborted.
    if (aNotifyPeer && FNetworkStream->NextAction() != saNone && !FIsAborted) return;
  }
  EndConnection();
}

void TclConnection::EndConnection() {
  FActive = false;
  FSocket.Close();
}

void TclConnection::DispatchNextAction() {}

void TclConnection::Abort() { FIsAborted = true; }

void TclConnection::DoProgress(int64_t aBytesProceed, int64_t aTotalBytes) {
  if (OnProgress) OnProgress(this, aBytesProceed, aTotalBytes);
}

void TclConnection::DoReady() {
  if (OnReady) OnReady(this);
}

void TclConnection::ClearAbort() {
  FIsAborted = false;
  if (TclWaitEvent* abort = AbortEvent()) abort->Reset();
}

void TclConnection::CreateSocket(int32_t aAddressFamily) {
  if (FSocket.IsOpen()) RaiseAssertion(cUnit);
  FSocket.Create(aAddressFamily);
}

TclNetworkStream& TclConnection::Stream() {
  if (!FNetworkStream) RaiseSocketError(clNetworkStreamRequiredError);
  return *FNetworkStream;
}

// TclSyncConnection

void TclSyncConnection::WriteString(const std::string& aString, const std::string& aCharSet) {
  WriteBytes(TclTranslator::GetBytes(aString, aCharSet));
}

std::string TclSyncConnection::ReadString(const std::string& aCharSet) {
  return TclTranslator::GetString(ReadBytes(), aCharSet);
}

void TclSyncConnection::WriteBytes(const std::string& aBytes) {
  TMemoryStream data(aBytes);
  WriteData(&data);
  // An abort ends the write with what has been sent so far.
  if (data.Position() != data.Size() && !IsAborted()) RaiseAssertion(cUnit);
}

std::string TclSyncConnection::ReadBytes() {
  InitProgress(0, 0);
  TMemoryStream data;
  ReadData(&data);
  return data.Data();
}

void TclSyncConnection::Abort() {
  TclConnection::Abort();
  FAbortEvent.Signal();
}

short TclSyncConnection::WaitForSocket(short aEvents) {
  // A stop stays set until the next socket: no wait begins after it.
  if (IsAborted()) return 0;
  short ready = SocketWait(Socket().Socket(), aEvents, &FAbortEvent, FTimeOutTicks, FTimeOut);
  // A signal without the flag is left from an abort that a new socket has since cleared; the flag,
  // checked before every wait, is what counts.
  if (!ready && !IsAborted()) FAbortEvent.Reset();
  return ready;
}

// TclTcpConnection

void TclTcpConnection::ReadData(TStream* aData) {
  for (;;) {
    ReadPass(aData);
    TclNetworkStream* stream = NetworkStream();
    while (Active() && !IsAborted() && stream->NextAction() == saWrite) WritePass(nullptr);
    if (!Active() || IsAborted() || stream->NextAction() != saRead) return;
  }
}

void TclTcpConnection::ReadPass(TStream* aData) {
  StartTimeOutPeriod();
  TclNetworkStream& stream = Stream();
  if (stream.HasReadData()) {
    stream.SetHasReadData(false);
    stream.Read(aData);
    if (stream.NeedClose()) {
      Close(false);
      return;
    }
    if (!Active()) {
      stream.ClearNextAction();
      return;
    }
    if (!FIsReadUntilClose) return;
  }
  for (;;) {
    if (!Active()) RaiseSystemSocketError(ENOTSOCK);
    short ready = WaitForSocket(POLLIN | POLLRDHUP);
    if (ready & POLLERR) {
      // A refused or reset connection reports its error; a readable end-of-stream does not.
      if (int error = PendingSocketError(Socket().Socket())) RaiseSystemSocketError(error);
    }
    if (ready) {
      stream.Read(aData);
      if (stream.NeedClose()) break;
      if (!FIsReadUntilClose) return;
      StartTimeOutPeriod();
    }
    if (IsAborted() || stream.IsProceedLimit()) return;
  }
  Close(false);
}

void TclTcpConnection::WriteData(TStream* aData) {
  // A closed socket is "not a socket", whatever stream would have written to it.
  if (!Socket().IsOpen()) RaiseSystemSocketError(ENOTSOCK);
  WritePass(aData);
  for (;;) {
    TclNetworkStream* stream = NetworkStream();
    if (!stream || !Active() || IsAborted()) return;
    if (stream->NextAction() == saRead)
      ReadData(nullptr);
    else if (stream->NextAction() == saWrite)
      WritePass(nullptr);
    else
      return;
  }
}

void TclTcpConnection::WritePass(TStream* aData) {
  StartTimeOutPeriod();
  TclNetworkStream& stream = Stream();
  if (stream.Write(aData)) return;
  for (;;) {
    // Readable data is noted once; watching for it again would wake the wait at once.
    short ready = WaitForSocket(POLLOUT | (stream.HasReadData() ? 0 : POLLIN));
    if (ready & POLLERR) RaisePendingSocketError(Socket().Socket());
    if (ready & POLLIN) stream.SetHasReadData(true);
    if (ready & POLLOUT) {
      StartTimeOutPeriod();
      if (stream.Write(aData)) return;
    } else if (ready & POLLHUP) {
      break;
    }
    if (IsAborted() || stream.IsProceedLimit()) return;
  }
  Close(false);
}

void TclTcpConnection::DispatchNextAction() {
  TclNetworkStream* stream = NetworkStream();
  if (!stream) return;
  if (stream->NextAction() == saRead)
    ReadData(nullptr);
  else if (stream->NextAction() == saWrite)
    WriteData(nullptr);
}

// TclTcpClientConnection

TclTcpClientConnection::~TclTcpClientConnection() {
  try {
    Close(false);
  } catch (const EclSocketError&) {
  }
}

void TclTcpClientConnection::Open(const std::string& aIP, int32_t aPort) {
  BeginOpen();
  OpenAddress(aIP, aPort);
}

void TclTcpClientConnection::BeginOpen() { ClearAbort(); }

std::string TclTcpClientConnection::ResolveHost(const std::string& aHostName) {
  return TclHostResolver6(*AbortEvent(), [this] { return IsAborted(); }).Resolve(aHostName);
}

void TclTcpClientConnection::OpenAddress(const std::string& aIP, int32_t aPort) {
  std::unique_ptr<TclIPAddress> address = TclIPAddress::CreateIpAddress(aIP);
  TclReadUntilCloseOff readUntilCloseOff(*this);
  if (EndAborted()) return;

  TclNetworkStream& stream = Stream();
  CreateSocket(address->GetAddressFamily());
  if (!LocalBinding().empty() && LocalBinding().find_first_not_of(' ') != std::string::npos) {
    std::string binding = LocalBinding();
    binding.erase(0, binding.find_first_not_of(' '));
    binding.erase(binding.find_last_not_of(' ') + 1);
    std::unique_ptr<TclIPAddress> local =
        binding.empty() ? TclIPAddress::CreateAny(address->GetAddressFamily()) : TclIPAddress::CreateIpAddress(binding);
    stream.Bind(*local, 0);
  }
  if (!stream.Connect(*address, aPort)) {
    StartTimeOutPeriod();
    do {
      short ready = WaitForSocket(POLLOUT);
      if (!ready) continue;
      int error = PendingSocketError(Socket().Socket());
      if (error) RaiseSystemSocketError(error);
      if (ready & POLLOUT) break;
    } while (!IsAborted());
  }
  if (EndAborted()) return;
  SetActive(true);
  DispatchNextAction();
  if (EndAborted()) return;
  if (!Active()) RaiseSocketError(clConnectionNotActiveError);
  stream.ConnectEnd();
  stream.StreamReady();
}

void TclTcpClientConnection::OpenSession() {
  if (!Active()) RaiseSocketError(clConnectionNotActiveError);
  TclReadUntilCloseOff readUntilCloseOff(*this);
  TclNetworkStream& stream = Stream();
  stream.InitClientSession();
  if (EndAborted()) return;
  DispatchNextAction();
  if (EndAborted()) return;
  stream.StreamReady();
}

bool TclTcpClientConnection::EndAborted() {
  if (!IsAborted()) return false;
  Close(false);
  return true;
}
