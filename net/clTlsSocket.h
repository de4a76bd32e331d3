#pragma once
// A network stream that runs the TLS handshake and record protection over the plain socket I/O.
// Each step tells the connection through the next action whether another read or write is
// needed, so the whole handshake runs inside the connection's connect or session start.
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "net/clSocket.h"
#include "net/clSspiTls.h"

class TclTlsNetworkStream : public TclNetworkStream {
public:
  TclTlsNetworkStream();
  ~TclTlsNetworkStream() override;

  TclTlsSspi* SSPI() const { return FSSPI.get(); }
  // The server name checked against its certificate and sent as SNI.
  const std::string& TargetName() const { return FTargetName; }
  void SetTargetName(const std::string& aValue);
  // Certificate flags, protocol versions and the rest; a running session takes them over too.
  const TclTlsSettings& Settings() const { return FSettings; }
  void SetSettings(const TclTlsSettings& aValue);
  bool PeerVerified() const { return FPeerVerified; }

  // The server asks for a client certificate: set ACertificate (with its private key) and add
  // any chain certificates to AExtraCerts.
  std::function<void(TclTlsNetworkStream* Sender, std::unique_ptr<TclCertificate>& ACertificate,
                     TclCertificateList& AExtraCerts, bool& Handled)>
      OnGetCertificate;
  // Accept (AVerified true) or refuse the server certificate; arrives preset to the check's outcome.
  std::function<void(TclTlsNetworkStream* Sender, TclCertificate* ACertificate, const std::string& AStatusText,
                     int32_t AStatusCode, bool& AVerified)>
      OnVerifyPeer;

  bool Read(TStream* aData) override;
  bool Write(TStream* aData) override;
  void Close(bool aNotifyPeer) override;
  int32_t GetReadBatchSize() override;
  int32_t GetWriteBatchSize() override;
  bool IsProceedLimit() override;
  void InitProgress() override;
  void InitClientSession() override;

protected:
  void UpdateRawProgress(int64_t aBytes) override { FEncryptedBytesProceed += aBytes; }

private:
  // One handshake step; decrypted bytes that came with the last handshake message go to aDestination.
  void Authenticate(TStream& aDestination, int64_t& aDecrypted);
  void RecordInput(TMemoryStream& aRaw, TStream& aDestination, int64_t& aDecrypted);
  void VerifyPeer();
  void QueuePendingOutput();
  void AppendWriteData(const std::string& aBytes);
  // Sends what FWriteData holds; false when some of it is still waiting for the socket.
  bool SendWriteData();
  void ApplySettings();

  TMemoryStream FRawData;  // bytes just received
  TMemoryStream FReadData;
  TMemoryStream FWriteData;
  TMemoryStream FSSPIBuffer;
  std::unique_ptr<TclTlsSspi> FSSPI;
  TclSspiReturnCode FSSPIResult = rcOK;
  int32_t FPacketSize = 0;
  bool FNeedAuthenticate = false;
  int64_t FWriteSize = 0;
  TclTlsSettings FSettings;
  std::string FTargetName;
  bool FPeerVerified = false;
  bool FPeerChecked = false;
  std::recursive_mutex FSSPIAccess;
  int64_t FEncryptedBytesProceed = 0;
};
