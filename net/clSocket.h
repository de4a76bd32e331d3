#pragma once
// TCP connections and the network streams that move their data. A connection owns the socket and
// one network stream; the stream does the socket I/O (plain here; TLS and SOCKS streams replace or
// wrap it) and tells the connection through its next action whether it needs another read or
// write. Every blocking step is a loop of socket waits with a time-out, abortable from another
// thread, serving the calling thread's messages meanwhile.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/clStreams.h"
#include "net/clIpAddress.h"
#include "net/clSocketErrors.h"
#include "net/clSocketWait.h"

class TclConnection;

enum TclNetworkStreamAction { saNone, saRead, saWrite };

class TclNetworkStream {
public:
  TclNetworkStream() = default;
  virtual ~TclNetworkStream() = default;
  TclNetworkStream(const TclNetworkStream&) = delete;
  TclNetworkStream& operator=(const TclNetworkStream&) = delete;

  TclConnection* Connection() const { return FConnection; }
  TclNetworkStreamAction NextAction() const { return FNextAction; }
  bool HasReadData() const { return FHasReadData; }
  void SetHasReadData(bool aValue) { FHasReadData = aValue; }
  const std::string& IP() const { return FIP; }
  int32_t Port() const { return FPort; }
  const std::string& PeerIP() const { return FPeerIP; }
  int32_t PeerPort() const { return FPeerPort; }
  int64_t BytesProceed() const { return FBytesProceed; }
  // The peer has closed: a read returned 0 bytes.
  bool NeedClose() const { return FNeedClose; }

  // The connection's batch size, cut to what remains of its BytesToProceed limit.
  virtual int32_t GetBatchSize();
  virtual void SetConnection(TclConnection* aConnection);
  // Takes over the peer and local addresses and the read-data flag of the stream it replaces.
  virtual void Assign(const TclNetworkStream& aSource);
  // Starts connecting the connection's socket; true when the connect completed at once.
  virtual bool Connect(TclIPAddress& aAddr, int32_t aPort);
  // Reads the local address and port after connecting.
  virtual void ConnectEnd();
  virtual void Bind(TclIPAddress& aAddr, int32_t aPort);
  virtual void Close(bool aNotifyPeer);
  virtual void StreamReady();
  // Appends what the socket holds to aData; false when the socket would block.
  virtual bool Read(TStream* aData);
  // Writes aData from its position to its end; false when the socket would block first.
  virtual bool Write(TStream* aData);
  // One receive/send call (with the bandwidth pause): bytes moved, 0 when the peer closed (receive
  // only), -1 when the socket would block. Other errors raise.
  virtual int64_t ReadBuf(void* aBuffer, int64_t aLength);
  virtual int64_t WriteBuf(const void* aBuffer, int64_t aLength);
  virtual int32_t GetReadBatchSize();
  virtual int32_t GetWriteBatchSize();
  virtual bool IsProceedLimit();
  virtual void InitProgress();
  virtual void UpdateProgress(int64_t aBytesProceed);
  virtual void InitClientSession();

  void SetPeerInfo(const std::string& aIP, int32_t aPort);
  // Sets the next action only while none is pending.
  void SetNextAction(TclNetworkStreamAction aAction);
  void ClearNextAction() { FNextAction = saNone; }

protected:
  // The plain socket transfers; the bytes are counted with UpdateRawProgress. A read stops
  // after aMaxBytes (when not negative) even while more keeps arriving.
  bool ReadSocket(TStream& aData, int64_t aMaxBytes = -1);
  bool WriteSocket(TStream& aData);
  virtual void UpdateRawProgress(int64_t aBytes) { UpdateProgress(aBytes); }
  void SetNeedClose(bool aValue) { FNeedClose = aValue; }
  void SetLocalInfo(const std::string& aIP, int32_t aPort);

private:
  void BandwidthPause(int64_t aRequested);

  TclConnection* FConnection = nullptr;
  TclNetworkStreamAction FNextAction = saNone;
  std::string FIP;
  int32_t FPort = 0;
  std::string FPeerIP;
  int32_t FPeerPort = 0;
  bool FHasReadData = false;
  int64_t FBytesProceed = 0;
  bool FNeedClose = false;
  std::string FBuffer;
};

class TclConnection {
public:
  TclConnection() = default;
  virtual ~TclConnection() = default;
  TclConnection(const TclConnection&) = delete;
  TclConnection& operator=(const TclConnection&) = delete;

  TclNetworkStream* NetworkStream() const { return FNetworkStream.get(); }
  // Replaces the stream (none frees it); a new stream takes over the old one's addresses first.
  void SetNetworkStream(std::unique_ptr<TclNetworkStream> aStream);
  bool IsAborted() const { return FIsAborted; }
  bool Active() const { return FActive; }
  TclSocket& Socket() { return FSocket; }
  const TclSocket& Socket() const { return FSocket; }
  int32_t BatchSize() const { return FBatchSize; }
  void SetBatchSize(int32_t aValue) { FBatchSize = aValue; }
  int32_t BitsPerSec() const { return FBitsPerSec; }
  void SetBitsPerSec(int32_t aValue);
  int64_t BytesProceed() const { return FTotalBytesProceed; }
  int64_t TotalBytes() const { return FTotalBytes; }
  // Transfer limit of the stream since InitProgress; -1 = unlimited.
  int64_t BytesToProceed() const { return FBytesToProceed; }
  void SetBytesToProceed(int64_t aValue) { FBytesToProceed = aValue; }
  const std::string& IP() const { return FIP; }
  int32_t Port() const { return FPort; }
  const std::string& PeerIP() const { return FPeerIP; }
  int32_t PeerPort() const { return FPeerPort; }

  std::function<void(TclConnection* Sender, int64_t ABytesProceed, int64_t ATotalBytes)> OnProgress;
  std::function<void(TclConnection* Sender)> OnReady;

  void InitProgress(int64_t aBytesProceed, int64_t aTotalBytes);
  // Ends the connection; when notifying, the stream first sends what closing needs (TLS).
  virtual void Close(bool aNotifyPeer);
  virtual void ReadData(TStream* aData) = 0;
  virtual void WriteData(TStream* aData) = 0;
  virtual void DispatchNextAction();
  // Any thread: makes the running and every further wait return until a new socket is created.
  virtual void Abort();
  // The wait event an abort signals, or none.
  virtual TclWaitEvent* AbortEvent() { return nullptr; }

protected:
  friend class TclNetworkStream;
  virtual void DoProgress(int64_t aBytesProceed, int64_t aTotalBytes);
  virtual void DoReady();
  // A new connection attempt begins: an earlier abort no longer counts.
  void ClearAbort();
  void CreateSocket(int32_t aAddressFamily);
  void SetActive(bool aValue) { FActive = aValue; }
  TclNetworkStream& Stream();

private:
  void EndConnection();

  TclSocket FSocket;
  int32_t FBatchSize = 8192;
  int32_t FBitsPerSec = 0;
  std::atomic<bool> FIsAborted{false};
  std::unique_ptr<TclNetworkStream> FNetworkStream;
  bool FActive = false;
  int64_t FTotalBytesProceed = 0;
  int64_t FTotalBytes = 0;
  int64_t FBytesToProceed = -1;
  std::string FIP;
  int32_t FPort = 0;
  std::string FPeerIP;
  int32_t FPeerPort = 0;
};

class TclSyncConnection : public TclConnection {
public:
  int32_t TimeOut() const { return FTimeOut; }
  void SetTimeOut(int32_t aValue) { FTimeOut = aValue; }
  const std::string& LocalBinding() const { return FLocalBinding; }
  void SetLocalBinding(const std::string& aValue) { FLocalBinding = aValue; }

  // Writes the text converted to aCharSet (empty: the translator's default); all of it must go.
  void WriteString(const std::string& aString, const std::string& aCharSet = "");
  // One ReadData after InitProgress(0, 0), converted from aCharSet; empty when nothing arrived.
  std::string ReadString(const std::string& aCharSet = "");
  // The same for bytes.
  void WriteBytes(const std::string& aBytes);
  std::string ReadBytes();

  void Abort() override;
  TclWaitEvent* AbortEvent() override { return &FAbortEvent; }

protected:
  void StartTimeOutPeriod() { FTimeOutTicks = GetTickCount64(); }
  // A socket wait on this connection's socket, abort event and time-out period.
  short WaitForSocket(short aEvents);

private:
  int32_t FTimeOut = 5000;
  TclWaitEvent FAbortEvent;
  int64_t FTimeOutTicks = 0;
  std::string FLocalBinding;
};

class TclTcpConnection : public TclSyncConnection {
public:
  // When set, one ReadData reads until the peer closes.
  bool IsReadUntilClose() const { return FIsReadUntilClose; }
  void SetIsReadUntilClose(bool aValue) { FIsReadUntilClose = aValue; }

  // Appends what the peer sends to aData (none: the stream's own buffer); returns after the first
  // batch unless IsReadUntilClose. Raises 10038 on an inactive connection, -1 after TimeOut of silence.
  void ReadData(TStream* aData) override;
  // Writes aData from its position to its end.
  void WriteData(TStream* aData) override;
  void DispatchNextAction() override;

private:
  void ReadPass(TStream* aData);
  void WritePass(TStream* aData);

  bool FIsReadUntilClose = false;
};

class TclTcpClientConnection : public TclTcpConnection {
public:
  ~TclTcpClientConnection() override;
  // Connects to an address given as text; an abort leaves the connection closed without error.
  void Open(const std::string& aIP, int32_t aPort);
  // The same in steps, for a connect that begins with host name lookups: BeginOpen starts the
  // attempt (an earlier abort no longer counts), ResolveHost looks a name up so that an abort of
  // this connection ends the lookup at once, raising 10004, and OpenAddress connects within the
  // attempt, ending at once when it has been aborted.
  void BeginOpen();
  std::string ResolveHost(const std::string& aHostName);
  void OpenAddress(const std::string& aIP, int32_t aPort);
  // Runs the stream's client start-up (a TLS handshake) on the established connection.
  void OpenSession();

private:
  // An abort leaves a connect or session start unfinished: it closes without error.
  bool EndAborted();
};
