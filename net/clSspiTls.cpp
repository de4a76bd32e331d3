#include "net/clSspiTls.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdio>

#include "net/clIpAddress.h"

namespace {

struct TclStatusText {
  int32_t Code;
  const char* Text;
};

const TclStatusText cStatusTexts[] = {
    {0x14, "Out of memory"},
    {SspiStatus(0x80090301), "The handle specified is invalid"},
    {SspiStatus(0x80090302), "The function requested is not supported"},
    {SspiStatus(0x80090303), "The specified target is unknown or unreachable"},
    {SspiStatus(0x80090304), "The Local Security Authority cannot be contacted"},
    {SspiStatus(0x80090305), "The requested security package does not exist"},
    {SspiStatus(0x80090306), "The caller is not the owner of the desired credentials"},
    {SspiStatus(0x80090307), "The security package failed to initialize, and cannot be installed"},
    {SspiStatus(0x80090308), "The token supplied to the function is invalid"},
    {SspiStatus(0x80090309),
     "The security package is not able to marshall the logon buffer, so the logon attempt has failed"},
    {SspiStatus(0x8009030A), "The per-message Quality of Protection is not supported by the security package"},
    {SspiStatus(0x8009030B), "The security context does not allow impersonation of the client"},
    {SspiStatus(0x8009030C), "The logon attempt failed"},
    {SspiStatus(0x8009030D), "The credentials supplied to the package were not recognized"},
    {SspiStatus(0x8009030E), "No credentials are available in the security package"},
    {SspiStatus(0x8009030F), "The message supplied for verification has been altered"},
    {SspiStatus(0x80090310), "The message supplied for verification is out of sequence"},
    {SspiStatus(0x80090311), "No authority could be contacted for authentication"},
    {SspiStatus(0x80090316), "The requested security package does not exist"},
    {SspiStatus(0x80090330), "The specified data could not be decrypted"},
    {SspiStatus(0x80090331),
     "The client and server cannot communicate because they do not possess a common algorithm"},
    {SspiStatus(0x80096004), "The signature of the certificate cannot be verified"},
    {SspiStatus(0x800B0101),
     "A required certificate is not within its validity period when verifying against the current system clock or "
     "the timestamp in the signed file"},
    {SspiStatus(0x800B0102), "The validity periods of the certification chain do not nest correctly"},
    {SspiStatus(0x800B0103), "A certificate that can only be used as an end-entity is being used as a CA or visa versa"},
    {SspiStatus(0x800B0104), "A path length constraint in the certification chain has been violated"},
    {SspiStatus(0x800B0105), "A certificate contains an unknown extension that is marked 'critical'"},
    {SspiStatus(0x800B0106), "A certificate being used for a purpose other than the ones specified by its CA"},
    {SspiStatus(0x800B0107), "A parent of a given certificate in fact did not issue that child certificate"},
    {SspiStatus(0x800B0108),
     "A certificate is missing or has an empty value for an important field, such as a subject or issuer name"},
    {SspiStatus(0x800B0109),
     "A certificate chain processed correctly, but terminated in a root certificate which is not trusted by the trust "
     "provider"},
    {SspiStatus(0x800B010A), "An internal certificate chaining error has occurred"},
    {SspiStatus(0x800B010B), "Generic trust failure"},
    {SspiStatus(0x800B010C), "A certificate was explicitly revoked by its issuer"},
    {SspiStatus(0x800B010D),
     "The certification path terminates with the test root which is not trusted with the current policy settings"},
    {SspiStatus(0x800B010E), "The revocation process could not continue - the certificate(s) could not be checked"},
    {SspiStatus(0x800B010F), "The certificate's CN name does not match the passed value"},
    {SspiStatus(0x800B0110), "The certificate is not valid for the requested usage"},
    {-1, "Could not load the dll (schannel.dll, security.dll or secur32.dll)"},
    {-2, "Could not get security initialization routine"},
    {-3, "Could not initialize the security package"},
    {-4, "AcquireCredentials failed"},
    {-5, "None of needed security package was found"},
    {-6, "Could not query package information"},
    {-9, "Error querying local certificate"},
    {-11, "Error occured when authenticating server credentials"},
    {-12, "Not supported"},
};

[[noreturn]] void Raise(int32_t aCode) { throw EclSSPIError(SspiErrorText(aCode), aCode); }

// The largest record body the protocol allows (plaintext plus expansion).
constexpr size_t cMaxRecordBody = 16384 + 2048;
constexpr size_t cRecordHeader = 5;

int32_t HandshakeFailureCode(unsigned long aError) {
  switch (ERR_GET_REASON(aError)) {
    case SSL_R_NO_SHARED_CIPHER:
    case SSL_R_NO_CIPHERS_AVAILABLE:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_WRONG_SSL_VERSION:
    case SSL_R_VERSION_TOO_LOW:
    case SSL_R_VERSION_TOO_HIGH:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
    case SSL_R_TLSV1_ALERT_INSUFFICIENT_SECURITY:
      return clSspiAlgorithmMismatch;
    case SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC:
    case SSL_R_SSLV3_ALERT_BAD_RECORD_MAC:
    case SSL_R_TLSV1_ALERT_DECRYPT_ERROR:
      return clSspiDecryptFailure;
    default:
      return clSspiInvalidToken;
  }
}

// The certificate status for a chain verification error, and the flag that ignores it.
int32_t VerifyErrorCode(int aError, TclCertificateVerifyFlag& aIgnoredBy, bool& aIgnorable) {
  aIgnorable = true;
  switch (aError) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      aIgnoredBy = cfIgnoreDateInvalid;
      return clCertExpired;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
      aIgnoredBy = cfIgnoreUnknownAuthority;
      return clCertUntrustedRoot;
    case X509_V_ERR_CERT_REVOKED:
      aIgnoredBy = cfIgnoreRevocation;
      return clCertRevoked;
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_CRL_NOT_YET_VALID:
      aIgnoredBy = cfIgnoreRevocation;
      return SspiStatus(0x800B010E);
    case X509_V_ERR_INVALID_PURPOSE:
      aIgnoredBy = cfIgnoreWrongUsage;
      return clCertWrongUsage;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      aIgnoredBy = cfIgnoreCommonNameInvalid;
      return clCertCommonNameInvalid;
    default:
      aIgnorable = false;
      break;
  }
  switch (aError) {
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
      return clCertBadSignature;
    case X509_V_ERR_INVALID_CA:
      return clCertRoleMismatch;
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
      return clCertPathLengthConstraint;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
      return clCertCriticalExtension;
    case X509_V_ERR_CERT_CHAIN_TOO_LONG:
      return clCertChaining;
    default:
      return clCertGenericTrustFailure;
  }
}

struct TclVerifyState {
  TclCertificateVerifyFlags Flags;
  int32_t Status = 0;

  // Keeps the first fault the flags do not ignore.
  void Note(int32_t aCode, bool aIgnorable, TclCertificateVerifyFlag aIgnoredBy) {
    if (Status == 0 && !(aIgnorable && Flags.Contains(aIgnoredBy))) Status = aCode;
  }
};

int VerifyCallback(int aOk, X509_STORE_CTX* aContext) {
  if (!aOk) {
    auto* state = static_cast<TclVerifyState*>(X509_STORE_CTX_get_app_data(aContext));
    TclCertificateVerifyFlag ignoredBy = cfIgnoreCommonNameInvalid;
    bool ignorable = false;
    int32_t code = VerifyErrorCode(X509_STORE_CTX_get_error(aContext), ignoredBy, ignorable);
    state->Note(code, ignorable, ignoredBy);
  }
  return 1;  // go on: every fault is judged by the flags above
}

}  // namespace

std::string SspiErrorText(int32_t aCode) {
  for (const auto& s : cStatusTexts)
    if (s.Code == aCode) return s.Text;
  char text[64];
  std::snprintf(text, sizeof text, "The unknown error was occured: %x", static_cast<uint32_t>(aCode));
  return text;
}

// TclTlsSspi

TclTlsSspi::TclTlsSspi() = default;

TclTlsSspi::~TclTlsSspi() { ReleaseContext(); }

void TclTlsSspi::CreateContext() {
  ReleaseContext();
  FContext = SSL_CTX_new(TLS_client_method());
  if (!FContext) Raise(clSspiAcquireCredentialsError);
  // SSL 2, SSL 3, TLS 1.0 and TLS 1.1 are never offered, whatever the flags say: the first two are
  // broken, and the handshakes of the other two rest on MD5 and SHA-1.
  const struct {
    TclTlsFlag Flag;
    int Version;
    uint64_t Disable;
  } versions[] = {{tfUseTLS12, TLS1_2_VERSION, SSL_OP_NO_TLSv1_2},
                  {tfUseTLS13, TLS1_3_VERSION, SSL_OP_NO_TLSv1_3}};
  int lowest = 0, highest = 0;
  uint64_t gaps = 0;
  for (const auto& v : versions) {
    if (FSettings.TLSFlags.Contains(v.Flag)) {
      if (!lowest) lowest = v.Version;
      highest = v.Version;
    } else {
      gaps |= v.Disable;
    }
  }
  if (!lowest) Raise(clSspiAlgorithmMismatch);
  SSL_CTX_set_min_proto_version(FContext, lowest);
  SSL_CTX_set_max_proto_version(FContext, highest);
  SSL_CTX_set_options(FContext, gaps);
  if (FSettings.UseStrongCryptoAlgorithms) SSL_CTX_set_security_level(FContext, 3);
  // The certificate is checked after the handshake, against the flags of this context.
  SSL_CTX_set_verify(FContext, SSL_VERIFY_NONE, nullptr);

  FSsl = SSL_new(FContext);
  FInput = BIO_new(BIO_s_mem());
  FOutput = BIO_new(BIO_s_mem());
  if (!FSsl || !FInput || !FOutput) {
    BIO_free(FInput);
    BIO_free(FOutput);
    FInput = FOutput = nullptr;
    Raise(clSspiAcquireCredentialsError);
  }
  // An empty input buffer means "more data needed", not the end of the stream.
  BIO_set_mem_eof_return(FInput, -1);
  SSL_set_bio(FSsl, FInput, FOutput);
  SSL_set_app_data(FSsl, this);

  FStreamSizes.Header = cRecordHeader;
  FStreamSizes.Trailer = 256;
  FStreamSizes.MaximumMessage = 16384;
  FStreamSizes.Buffers = 4;
  FStreamSizes.BlockSize = 16;
}

void TclTlsSspi::ReleaseContext() {
  SSL_free(FSsl);  // frees both buffers
  SSL_CTX_free(FContext);
  FSsl = nullptr;
  FContext = nullptr;
  FInput = FOutput = nullptr;
}

void TclTlsSspi::DrainOutput(std::string& aTo) {
  if (!FOutput) return;
  char buffer[16384];
  int n;
  while ((n = BIO_read(FOutput, buffer, sizeof buffer)) > 0) aTo.append(buffer, n);
}

std::string TclTlsSspi::TakePendingOutput() {
  std::string result;
  result.swap(FPendingOutput);
  return result;
}

void TclTlsSspi::RaiseStepError(int aSslError) {
  DrainOutput(FPendingOutput);
  unsigned long error = ERR_peek_last_error();
  ERR_clear_error();
  FStatusCode = aSslError == SSL_ERROR_SSL ? HandshakeFailureCode(error) : clSspiInvalidToken;
  Raise(FStatusCode);
}

void TclTlsSspi::Encrypt(const char* aData, int64_t aLength, std::string& aOutput) {
  if (!FSsl) Raise(SspiStatus(0x80090301));
  int64_t done = 0;
  while (done < aLength) {
    int piece = static_cast<int>(std::min<int64_t>(aLength - done, FStreamSizes.MaximumMessage));
    ERR_clear_error();
    int n = SSL_write(FSsl, aData + done, piece);
    if (n <= 0) RaiseStepError(SSL_get_error(FSsl, n));
    done += n;
    DrainOutput(aOutput);
  }
}

TclSspiReturnCode TclTlsSspi::Decrypt(TMemoryStream& aBuffer, TStream& aDestination, int64_t& aDecrypted) {
  if (!FSsl) Raise(SspiStatus(0x80090301));
  const std::string& data = aBuffer.Data();
  size_t position = aBuffer.Position();
  aDecrypted = 0;
  bool closed = false;
  char plain[16384];
  while (!closed && data.size() - position > cRecordHeader) {
    size_t body = static_cast<unsigned char>(data[position + 3]) << 8 | static_cast<unsigned char>(data[position + 4]);
    size_t length = cRecordHeader + body;
    // A record too long to be one goes in as it is, so that the context refuses it at once.
    if (body > cMaxRecordBody) length = data.size() - position;
    if (data.size() - position < length) break;
    BIO_write(FInput, data.data() + position, static_cast<int>(length));
    position += length;
    for (;;) {
      ERR_clear_error();
      int n = SSL_read(FSsl, plain, sizeof plain);
      if (n > 0) {
        aDestination.WriteBuffer(plain, n);
        aDecrypted += n;
        continue;
      }
      int error = SSL_get_error(FSsl, n);
      if (error == SSL_ERROR_WANT_READ) break;
      if (error == SSL_ERROR_ZERO_RETURN) {
        closed = true;
        break;
      }
      RaiseStepError(error);
    }
  }
  std::string kept = data.substr(position);
  aBuffer.Clear();
  aBuffer.WriteBuffer(kept.data(), kept.size());
  aBuffer.SetPosition(0);
  DrainOutput(FPendingOutput);
  if (closed) return rcClosingNeeded;
  if (!kept.empty()) return aDecrypted > 0 ? rcContinueAndMoreDataNeeded : rcMoreDataNeeded;
  return rcOK;
}

// TclTlsClientSspi

int TclTlsClientSspi::ClientCertificateCallback(SSL* aSsl, X509** aCertificate, EVP_PKEY** aKey) {
  auto* self = static_cast<TclTlsClientSspi*>(SSL_get_app_data(aSsl));
  if (!self->FCredentialsAnswered) {
    self->FCredentialsPending = true;
    return -1;  // suspends the handshake until the owner has answered
  }
  if (!self->FClientCertificate) return 0;
  X509_up_ref(self->FClientCertificate->Handle());
  EVP_PKEY_up_ref(self->FClientCertificate->PrivateKey());
  *aCertificate = self->FClientCertificate->Handle();
  *aKey = self->FClientCertificate->PrivateKey();
  return 1;
}

void TclTlsClientSspi::StartConversation() {
  CreateContext();
  SSL_CTX_set_client_cert_cb(FContext, ClientCertificateCallback);
  SSL_set_connect_state(FSsl);
  if (!FTargetName.empty() && !TclIPAddress::IsHostIP(FTargetName))
    SSL_set_tlsext_host_name(FSsl, FTargetName.c_str());
  FNewConversation = false;
  FCertified = false;
  FPeerCertificate.reset();
  FStatusCode = 0;
  FCredentialsPending = false;
  FCredentialsAnswered = false;
  FClientCertificate.reset();
  FPendingOutput.clear();
}

void TclTlsClientSspi::UseClientCertificates(TclCertificateList& aCertificates) {
  FCredentialsPending = false;
  FCredentialsAnswered = true;
  if (aCertificates.Count() == 0) return;
  TclCertificate* own = aCertificates.Items(0);
  if (!own->PrivateKey() || X509_check_private_key(own->Handle(), own->PrivateKey()) != 1)
    Raise(clSspiLocalCertificateError);
  FClientCertificate = std::make_unique<TclCertificate>(own->Handle(), own->PrivateKey());
  for (size_t i = 1; i < aCertificates.Count(); ++i) {
    X509* extra = aCertificates.Items(i)->Handle();
    // A self-issued certificate is the root: sent only when asked for.
    bool isRoot = X509_check_issued(extra, extra) == X509_V_OK;
    if (!isRoot || Settings().SendRootCertificate) SSL_add1_chain_cert(FSsl, extra);
  }
}

TclSspiReturnCode TclTlsClientSspi::GenContext(TMemoryStream& aBuffer, TclCertificateList& aCertificates,
                                               bool aAllowEmptyCred) {
  if (FNewConversation) {
    StartConversation();
    ERR_clear_error();
    int rc = SSL_do_handshake(FSsl);
    int error = SSL_get_error(FSsl, rc);
    if (error != SSL_ERROR_WANT_READ) RaiseStepError(error);
    std::string token;
    DrainOutput(token);
    aBuffer.Clear();
    aBuffer.WriteBuffer(token.data(), token.size());
    aBuffer.SetPosition(0);
    return rcAuthContinueNeeded;
  }
  if (!FSsl) Raise(SspiStatus(0x80090301));
  if (FCredentialsPending) {
    if (aCertificates.Count() == 0 && !aAllowEmptyCred) return rcCredentialNeeded;
    UseClientCertificates(aCertificates);
  } else {
    // Every received byte goes to the context; what follows the last handshake message comes
    // back out below.
    const std::string& data = aBuffer.Data();
    size_t position = aBuffer.Position();
    if (data.size() > position) BIO_write(FInput, data.data() + position, static_cast<int>(data.size() - position));
    aBuffer.Clear();
  }
  ERR_clear_error();
  int rc = SSL_do_handshake(FSsl);
  if (rc == 1) return Established(aBuffer);
  int error = SSL_get_error(FSsl, rc);
  if (error == SSL_ERROR_WANT_X509_LOOKUP) return rcCredentialNeeded;
  if (error != SSL_ERROR_WANT_READ) RaiseStepError(error);
  std::string token;
  DrainOutput(token);
  if (token.empty()) return rcAuthMoreDataNeeded;
  aBuffer.WriteBuffer(token.data(), token.size());
  aBuffer.SetPosition(0);
  return rcAuthContinueNeeded;
}

TclSspiReturnCode TclTlsClientSspi::Established(TMemoryStream& aBuffer) {
  // The client's last handshake message (TLS 1.3) still has to go out.
  DrainOutput(FPendingOutput);
  std::string extra;
  char buffer[16384];
  int n;
  while ((n = BIO_read(FInput, buffer, sizeof buffer)) > 0) extra.append(buffer, n);
  aBuffer.Clear();
  aBuffer.WriteBuffer(extra.data(), extra.size());
  aBuffer.SetPosition(0);
  if (!FCertified) CheckPeerCertificate();
  return extra.empty() ? rcOK : rcEncodeNeeded;
}

void TclTlsClientSspi::CheckPeerCertificate() {
  X509* certificate = SSL_get0_peer_certificate(FSsl);
  if (!certificate) Raise(clSspiServerCredentialsError);
  FPeerCertificate = std::make_unique<TclCertificate>(certificate);

  TclVerifyState state;
  state.Flags = Settings().CertificateFlags;
  X509_STORE* store = X509_STORE_new();
  X509_STORE_CTX* context = X509_STORE_CTX_new();
  bool built = store && context && X509_STORE_set_default_paths(store) == 1 &&
               X509_STORE_CTX_init(context, store, certificate, SSL_get_peer_cert_chain(FSsl)) == 1;
  if (built) {
    X509_STORE_CTX_set_purpose(context, X509_PURPOSE_SSL_SERVER);
    X509_STORE_CTX_set_app_data(context, &state);
    X509_STORE_CTX_set_verify_cb(context, VerifyCallback);
    built = X509_verify_cert(context) >= 0;
  }
  X509_STORE_CTX_free(context);
  X509_STORE_free(store);
  ERR_clear_error();
  if (!built) Raise(clSspiServerCredentialsError);

  bool nameMatches = TclIPAddress::IsHostIP(FTargetName)
                         ? X509_check_ip_asc(certificate, FTargetName.c_str(), 0) == 1
                         : X509_check_host(certificate, FTargetName.data(), FTargetName.size(), 0, nullptr) == 1;
  if (!nameMatches) state.Note(clCertCommonNameInvalid, true, cfIgnoreCommonNameInvalid);
  FStatusCode = state.Status;
  FCertified = state.Status == 0;
}

TclSspiReturnCode TclTlsClientSspi::EndSession(TMemoryStream& aBuffer) {
  FNewConversation = true;
  FCertified = false;
  aBuffer.Clear();
  if (!FSsl) {
    ReleaseContext();
    return rcOK;
  }
  std::string token;
  if (SSL_is_init_finished(FSsl)) {
    ERR_clear_error();
    SSL_shutdown(FSsl);
    DrainOutput(token);
    ERR_clear_error();
  }
  ReleaseContext();
  aBuffer.WriteBuffer(token.data(), token.size());
  aBuffer.SetPosition(0);
  return token.empty() ? rcOK : rcCompleteNeeded;
}
