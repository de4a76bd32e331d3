#pragma once
// The TLS security context: handshake steps, record encryption and decryption, closing and the
// server certificate check, driven through memory buffers (OpenSSL with memory BIOs) so that the
// stream decides when bytes go to and come from the socket.
#include <cstdint>
#include <memory>
#include <string>

#include "common/clErrors.h"
#include "common/clFlagSet.h"
#include "common/clStreams.h"
#include "net/clCertificate.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct bio_st BIO;

class EclSSPIError : public EclError {
public:
  using EclError::EclError;
};

// Security statuses and the layer's own codes (hexadecimal statuses as 32-bit signed codes).
constexpr int32_t SspiStatus(uint32_t aStatus) { return static_cast<int32_t>(aStatus); }
constexpr int32_t clSspiAcquireCredentialsError = -4;
constexpr int32_t clSspiQueryPackageError = -6;
constexpr int32_t clSspiLocalCertificateError = -9;
constexpr int32_t clSspiServerCredentialsError = -11;
constexpr int32_t clSspiNotSupportedError = -12;
constexpr int32_t clSspiInvalidToken = SspiStatus(0x80090308);
constexpr int32_t clSspiDecryptFailure = SspiStatus(0x80090330);
constexpr int32_t clSspiAlgorithmMismatch = SspiStatus(0x80090331);
constexpr int32_t clCertExpired = SspiStatus(0x800B0101);
constexpr int32_t clCertRoleMismatch = SspiStatus(0x800B0103);
constexpr int32_t clCertPathLengthConstraint = SspiStatus(0x800B0104);
constexpr int32_t clCertCriticalExtension = SspiStatus(0x800B0105);
constexpr int32_t clCertUntrustedRoot = SspiStatus(0x800B0109);
constexpr int32_t clCertChaining = SspiStatus(0x800B010A);
constexpr int32_t clCertGenericTrustFailure = SspiStatus(0x800B010B);
constexpr int32_t clCertRevoked = SspiStatus(0x800B010C);
constexpr int32_t clCertCommonNameInvalid = SspiStatus(0x800B010F);
constexpr int32_t clCertWrongUsage = SspiStatus(0x800B0110);
constexpr int32_t clCertBadSignature = SspiStatus(0x80096004);

// The text of a status or code; unknown ones "The unknown error was occured: %x".
std::string SspiErrorText(int32_t aCode);

enum TclSspiReturnCode {
  rcOK,
  rcError,
  rcReAuthNeeded,
  rcAuthContinueNeeded,
  rcAuthDataNeeded,
  rcAuthMoreDataNeeded,
  rcCompleteNeeded,
  rcContinueNeeded,
  rcClosingNeeded,
  rcMoreDataNeeded,
  rcEncodeNeeded,
  rcContinueAndMoreDataNeeded,
  rcCredentialNeeded
};

enum TclTlsFlag { tfUseSSL2, tfUseSSL3, tfUseTLS, tfUseTLS11, tfUseTLS12, tfUseTLS13 };
using TclTlsFlags = TclFlagSet<TclTlsFlag>;
constexpr TclTlsFlags clDefaultTlsFlags{tfUseTLS, tfUseTLS11, tfUseTLS12};

enum TclCertificateVerifyFlag {
  cfIgnoreCommonNameInvalid,
  cfIgnoreDateInvalid,
  cfIgnoreUnknownAuthority,
  cfIgnoreRevocation,
  cfIgnoreWrongUsage
};
using TclCertificateVerifyFlags = TclFlagSet<TclCertificateVerifyFlag>;

// What a TLS session is set up with.
struct TclTlsSettings {
  TclCertificateVerifyFlags CertificateFlags;  // certificate faults to accept
  TclTlsFlags TLSFlags = clDefaultTlsFlags;     // protocol versions offered
  bool SendRootCertificate = false;             // send the root with a client certificate chain
  bool UseStrongCryptoAlgorithms = false;       // refuse weak keys and algorithms
  std::string CSP;                              // security package name override
  bool operator==(const TclTlsSettings&) const = default;
};

struct TclStreamSizes {
  int32_t Header = 0;
  int32_t Trailer = 0;
  int32_t MaximumMessage = 0;
  int32_t Buffers = 0;
  int32_t BlockSize = 0;
};

class TclTlsSspi {
public:
  TclTlsSspi();
  virtual ~TclTlsSspi();
  TclTlsSspi(const TclTlsSspi&) = delete;
  TclTlsSspi& operator=(const TclTlsSspi&) = delete;

  const TclTlsSettings& Settings() const { return FSettings; }
  void SetSettings(const TclTlsSettings& aValue) { FSettings = aValue; }

  TclCertificate* PeerCertificate() const { return FPeerCertificate.get(); }
  bool Certified() const { return FCertified; }
  // The status of the last step, or the certificate check's policy error.
  int32_t StatusCode() const { return FStatusCode; }
  // Record header and trailer room and the largest plaintext of one record.
  const TclStreamSizes& StreamSizes() const { return FStreamSizes; }

  // Puts the closing token into aBuffer (result 6) and ends the context.
  virtual TclSspiReturnCode EndSession(TMemoryStream& aBuffer) = 0;
  // One handshake step over the unread bytes of aBuffer; a token to send replaces them (result 3).
  virtual TclSspiReturnCode GenContext(TMemoryStream& aBuffer, TclCertificateList& aCertificates,
                                       bool aAllowEmptyCred) = 0;

  // Encrypts aLength bytes, appending the records to aOutput.
  void Encrypt(const char* aData, int64_t aLength, std::string& aOutput);
  // Decrypts the whole records among the unread bytes of aBuffer into aDestination; an incomplete
  // record stays in aBuffer. aDecrypted gets the plaintext count.
  TclSspiReturnCode Decrypt(TMemoryStream& aBuffer, TStream& aDestination, int64_t& aDecrypted);
  // Bytes the context produced outside a handshake token (a final handshake message, an alert,
  // an answer to a key update or renegotiation request), which must be sent.
  std::string TakePendingOutput();

protected:
  void CreateContext();
  void ReleaseContext();
  void DrainOutput(std::string& aTo);
  // Raises EclSSPIError for a failed OpenSSL step, keeping the alert it produced for sending.
  [[noreturn]] void RaiseStepError(int aSslError);

  SSL_CTX* FContext = nullptr;
  SSL* FSsl = nullptr;
  BIO* FInput = nullptr;   // bytes from the peer
  BIO* FOutput = nullptr;  // bytes for the peer
  TclStreamSizes FStreamSizes;
  int32_t FStatusCode = 0;
  std::unique_ptr<TclCertificate> FPeerCertificate;
  bool FCertified = false;
  std::string FPendingOutput;

private:
  TclTlsSettings FSettings;
};

class TclTlsClientSspi : public TclTlsSspi {
public:
  explicit TclTlsClientSspi(const std::string& aTargetName) : FTargetName(aTargetName) {}
  const std::string& TargetName() const { return FTargetName; }
  void SetTargetName(const std::string& aValue) { FTargetName = aValue; }

  TclSspiReturnCode EndSession(TMemoryStream& aBuffer) override;
  TclSspiReturnCode GenContext(TMemoryStream& aBuffer, TclCertificateList& aCertificates,
                               bool aAllowEmptyCred) override;

private:
  static int ClientCertificateCallback(SSL* aSsl, X509** aCertificate, EVP_PKEY** aKey);
  void StartConversation();
  void UseClientCertificates(TclCertificateList& aCertificates);
  TclSspiReturnCode Established(TMemoryStream& aBuffer);
  // The server certificate against the trust store, the host name and the ignore flags.
  void CheckPeerCertificate();

  std::string FTargetName;
  bool FNewConversation = true;
  // The server asked for a client certificate and the owner has not answered yet.
  bool FCredentialsPending = false;
  bool FCredentialsAnswered = false;
  std::unique_ptr<TclCertificate> FClientCertificate;
};
