#include "net/clTlsSocket.h"

#include <cstdio>
#include <utility>

namespace {

constexpr int64_t cRawReadLimit = 256 * 1024;

// The current local date and time as a day count since 1899-12-30: a target name nobody matches.
std::string DateTimeText() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  double days = (static_cast<double>(now) + local.tm_gmtoff) / 86400.0 + 25569.0;
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", days);
  return text;
}

void Replace(TMemoryStream& aStream, const std::string& aData) {
  aStream.Clear();
  aStream.WriteBuffer(aData.data(), aData.size());
  aStream.SetPosition(0);
}

}  // namespace

TclTlsNetworkStream::TclTlsNetworkStream() : FTargetName(DateTimeText()) {}

TclTlsNetworkStream::~TclTlsNetworkStream() = default;

void TclTlsNetworkStream::ApplySettings() {
  std::lock_guard<std::recursive_mutex> guard(FSSPIAccess);
  if (!FSSPI) return;
  FSSPI->SetSettings(FSettings);
  if (auto* client = dynamic_cast<TclTlsClientSspi*>(FSSPI.get())) client->SetTargetName(FTargetName);
}

void TclTlsNetworkStream::SetTargetName(const std::string& aValue) {
  FTargetName = aValue;
  ApplySettings();
}

void TclTlsNetworkStream::SetSettings(const TclTlsSettings& aValue) {
  FSettings = aValue;
  ApplySettings();
}

void TclTlsNetworkStream::InitClientSession() {
  {
    std::lock_guard<std::recursive_mutex> guard(FSSPIAccess);
    FSSPI = std::make_unique<TclTlsClientSspi>(FTargetName);
  }
  ApplySettings();
  FSSPIBuffer.Clear();
  FReadData.Clear();
  FWriteData.Clear();
  FWriteSize = 0;
  FSSPIResult = rcOK;
  FPacketSize = 0;
  FPeerVerified = false;
  FPeerChecked = false;
  FNeedAuthenticate = true;
  SetNextAction(saWrite);
}

int32_t TclTlsNetworkStream::GetReadBatchSize() { return TclNetworkStream::GetReadBatchSize() + FPacketSize; }

int32_t TclTlsNetworkStream::GetWriteBatchSize() { return TclNetworkStream::GetWriteBatchSize() + FPacketSize; }

bool TclTlsNetworkStream::IsProceedLimit() {
  int64_t limit = Connection()->BytesToProceed();
  return TclNetworkStream::IsProceedLimit() || (limit >= 0 && FEncryptedBytesProceed >= limit);
}

void TclTlsNetworkStream::InitProgress() {
  TclNetworkStream::InitProgress();
  FEncryptedBytesProceed = 0;
}

void TclTlsNetworkStream::Authenticate(TStream& aDestination, int64_t& aDecrypted) {
  std::lock_guard<std::recursive_mutex> guard(FSSPIAccess);
  FPacketSize = 0;
  TclCertificateList certificates;
  TclSspiReturnCode result;
  try {
    result = FSSPI->GenContext(FSSPIBuffer, certificates, false);
    if (result == rcCredentialNeeded) {
      std::unique_ptr<TclCertificate> own;
      TclCertificateList extra;
      bool handled = false;
      if (OnGetCertificate) OnGetCertificate(this, own, extra, handled);
      if (own) certificates.Add(std::move(own));
      certificates.AddFrom(extra);
      result = FSSPI->GenContext(FSSPIBuffer, certificates, true);
      if (result == rcCredentialNeeded)
        throw EclSSPIError(SspiErrorText(clSspiLocalCertificateError), clSspiLocalCertificateError);
    }
  } catch (const EclSSPIError&) {
    // The alert that tells the server why goes out before the failure is reported.
    QueuePendingOutput();
    try {
      SendWriteData();
    } catch (const EclSocketError&) {
    }
    throw;
  }
  QueuePendingOutput();
  if (result == rcAuthContinueNeeded) {
    AppendWriteData(FSSPIBuffer.Data());
    FSSPIBuffer.Clear();
    result = rcAuthDataNeeded;
  }
  if (FWriteData.Size() > FWriteData.Position() && !SendWriteData()) SetNextAction(saWrite);
  if (result == rcOK || result == rcEncodeNeeded) {
    const TclStreamSizes& sizes = FSSPI->StreamSizes();
    FPacketSize = sizes.Header + sizes.Trailer;
    VerifyPeer();
  }
  if (result == rcEncodeNeeded) {
    int64_t decrypted = 0;
    result = FSSPI->Decrypt(FSSPIBuffer, aDestination, decrypted);
    aDecrypted += decrypted;
    QueuePendingOutput();
    if (result == rcContinueAndMoreDataNeeded) result = rcMoreDataNeeded;
    if (result != rcMoreDataNeeded && result != rcClosingNeeded) result = rcOK;
  }
  FSSPIResult = result;
}

void TclTlsNetworkStream::VerifyPeer() {
  if (FPeerChecked) return;
  FPeerChecked = true;
  FPeerVerified = FSSPI->Certified();
  int32_t code = FSSPI->StatusCode();
  std::string text = code ? SspiErrorText(code) : "";
  if (OnVerifyPeer) OnVerifyPeer(this, FSSPI->PeerCertificate(), text, code, FPeerVerified);
  if (!FPeerVerified) throw EclSocketError(text.empty() ? SspiErrorText(clSspiServerCredentialsError) : text,
                                           code ? code : clSspiServerCredentialsError);
}

void TclTlsNetworkStream::QueuePendingOutput() {
  if (FSSPI) AppendWriteData(FSSPI->TakePendingOutput());
}

void TclTlsNetworkStream::AppendWriteData(const std::string& aBytes) {
  int64_t position = FWriteData.Position();
  FWriteData.Seek(0, soEnd);
  FWriteData.WriteBuffer(aBytes.data(), aBytes.size());
  FWriteData.SetPosition(position);
}

bool TclTlsNetworkStream::SendWriteData() {
  if (FWriteData.Position() >= FWriteData.Size()) return true;
  if (!WriteSocket(FWriteData) || FWriteData.Position() < FWriteData.Size()) return false;
  FWriteData.Clear();
  return true;
}

bool TclTlsNetworkStream::Write(TStream* aData) {
  ClearNextAction();
  if (FNeedAuthenticate) {
    FNeedAuthenticate = false;
    int64_t decrypted = 0;
    Authenticate(FReadData, decrypted);
    SetHasReadData(FReadData.Size() > 0);
    if (FSSPIResult != rcOK) SetNextAction(saRead);
    return true;
  }
  if (!aData) {
    if (!SendWriteData()) {
      SetNextAction(saWrite);
      return false;
    }
    // A handshake token that had to wait for the socket: the peer's answer comes next.
    if (FSSPIResult == rcAuthDataNeeded || FSSPIResult == rcAuthMoreDataNeeded) SetNextAction(saRead);
    return true;
  }
  std::lock_guard<std::recursive_mutex> guard(FSSPIAccess);
  if (!FSSPI) RaiseSocketError(clConnectionNotActiveError);
  while (aData->Position() < aData->Size()) {
    if (FWriteData.Position() >= FWriteData.Size()) {
      int64_t chunk = std::min<int64_t>(aData->Size() - aData->Position(), GetBatchSize());
      if (chunk <= 0) return true;
      std::string plain(chunk, '\0');
      aData->ReadBuffer(plain.data(), chunk);
      aData->Seek(-chunk, soCurrent);  // advanced once the records have left
      std::string records;
      FSSPI->Encrypt(plain.data(), chunk, records);
      Replace(FWriteData, records);
      FWriteSize = chunk;
    }
    if (!SendWriteData()) return false;
    if (FWriteSize > 0) {
      aData->Seek(FWriteSize, soCurrent);
      UpdateProgress(FWriteSize);
      FWriteSize = 0;
    }
    if (Connection()->IsAborted()) return true;
  }
  return true;
}

bool TclTlsNetworkStream::Read(TStream* aData) {
  ClearNextAction();
  bool result = true;
  int64_t decrypted = 0;
  if (FReadData.Size() > 0 && aData) {
    aData->WriteBuffer(FReadData.Data().data(), FReadData.Size());
    decrypted = FReadData.Size();
    FReadData.Clear();
  } else {
    TStream& destination = aData ? *aData : FReadData;
    // One buffer kept across reads, and bounded: records are decrypted as they come rather than
    // after the whole of a fast transfer has been buffered.
    FRawData.Clear();
    result = ReadSocket(FRawData, cRawReadLimit);
    if (FRawData.Size() > 0) {
      std::lock_guard<std::recursive_mutex> guard(FSSPIAccess);
      if (!FSSPI) RaiseSocketError(clConnectionNotActiveError);
      FRawData.SetPosition(0);
      RecordInput(FRawData, destination, decrypted);
    }
  }
  SetHasReadData(FReadData.Size() > 0);
  // An answer the context owes the peer (key update, renegotiation) goes out first. The rest of
  // an incomplete record is waited for only when this read delivered nothing: a reader gets what
  // has arrived, and a handshake ends without waiting for the data that follows it.
  bool deliveredSome = decrypted > 0;
  if (FWriteData.Position() < FWriteData.Size())
    SetNextAction(saWrite);
  else if (FSSPIResult > rcError && FSSPIResult != rcClosingNeeded &&
           !(FSSPIResult == rcMoreDataNeeded && deliveredSome))
    SetNextAction(saRead);
  if (aData && decrypted > 0) UpdateProgress(decrypted);
  return result;
}

void TclTlsNetworkStream::RecordInput(TMemoryStream& aRaw, TStream& aDestination, int64_t& aDecrypted) {
  switch (FSSPIResult) {
    case rcOK:
    case rcAuthDataNeeded:
      std::swap(FSSPIBuffer, aRaw);
      if (FSSPIResult == rcAuthDataNeeded) return Authenticate(aDestination, aDecrypted);
      break;
    case rcAuthMoreDataNeeded:
    case rcMoreDataNeeded: {
      int64_t position = FSSPIBuffer.Position();
      FSSPIBuffer.Seek(0, soEnd);
      FSSPIBuffer.WriteBuffer(aRaw.Data().data(), aRaw.Size());
      FSSPIBuffer.SetPosition(position);
      if (FSSPIResult == rcAuthMoreDataNeeded) return Authenticate(aDestination, aDecrypted);
      break;
    }
    case rcClosingNeeded:
      return;  // the peer has ended the session: nothing more is read
    default:
      break;
  }
  int64_t decrypted = 0;
  TclSspiReturnCode result = FSSPI->Decrypt(FSSPIBuffer, aDestination, decrypted);
  aDecrypted += decrypted;
  QueuePendingOutput();
  if (result == rcContinueAndMoreDataNeeded) result = rcMoreDataNeeded;
  if (result == rcOK) FSSPIBuffer.Clear();
  if (result == rcClosingNeeded) SetNeedClose(true);
  FSSPIResult = result;
}

void TclTlsNetworkStream::Close(bool aNotifyPeer) {
  ClearNextAction();
  FSSPIResult = rcOK;
  TclSspiReturnCode result = rcOK;
  {
    std::lock_guard<std::recursive_mutex> guard(FSSPIAccess);
    FSSPIBuffer.Clear();
    try {
      if (FSSPI) result = FSSPI->EndSession(FSSPIBuffer);
    } catch (const EclSSPIError&) {
    }
  }
  if (aNotifyPeer && result == rcCompleteNeeded) {
    Replace(FWriteData, FSSPIBuffer.Data());
    FWriteSize = 0;
    try {
      if (!SendWriteData()) SetNextAction(saWrite);
    } catch (const EclSocketError&) {
    }
  }
  FNeedAuthenticate = false;
  FSSPIResult = rcOK;
}
