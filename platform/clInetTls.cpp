#include "platform/clInetTls.h"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace {

thread_local TclTlsCheck* tCheck = nullptr;

struct TFault {
  DWORD Error;
  DWORD IgnoredBy;  // 0: never passed over
};

TFault Classify(int aX509Error) {
  switch (aX509Error) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return {ERROR_INTERNET_SEC_CERT_DATE_INVALID, SECURITY_FLAG_IGNORE_CERT_DATE_INVALID};
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
      return {ERROR_INTERNET_INVALID_CA, SECURITY_FLAG_IGNORE_UNKNOWN_CA};
    case X509_V_ERR_HOSTNAME_MISMATCH:
      return {ERROR_INTERNET_SEC_CERT_CN_INVALID, SECURITY_FLAG_IGNORE_CERT_CN_INVALID};
    case X509_V_ERR_INVALID_PURPOSE:
      return {ERROR_INTERNET_SEC_CERT_ERRORS, SECURITY_FLAG_IGNORE_WRONG_USAGE};
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_CRL_NOT_YET_VALID:
    case X509_V_ERR_CRL_HAS_EXPIRED:
      return {ERROR_INTERNET_SEC_CERT_REV_FAILED, SECURITY_FLAG_IGNORE_REVOCATION};
    case X509_V_ERR_CERT_REVOKED:
      return {ERROR_INTERNET_SEC_CERT_REVOKED, 0};
    default:
      return {ERROR_INTERNET_SEC_INVALID_CERT, 0};
  }
}

int VerifyCertificate(int aPreverified, X509_STORE_CTX* aStore) {
  if (aPreverified) return 1;
  TFault fault = Classify(X509_STORE_CTX_get_error(aStore));
  if (!tCheck) return 0;
  if (tCheck->IgnoreFlags & fault.IgnoredBy) {
    // Cleared, so that the result the transport reads after the handshake is clean too.
    X509_STORE_CTX_set_error(aStore, X509_V_OK);
    return 1;
  }
  if (!tCheck->Fault) tCheck->Fault = fault.Error;
  return 0;
}

int NoteCertificateRequest(SSL*, X509**, EVP_PKEY**) {
  // Only asked when the request has no certificate of its own: go on without one.
  if (tCheck) tCheck->ClientCertificateAsked = true;
  return 0;
}

}  // namespace

TclTlsCheckScope::TclTlsCheckScope(TclTlsCheck& aCheck) : FPrevious(tCheck) { tCheck = &aCheck; }

TclTlsCheckScope::~TclTlsCheckScope() { tCheck = FPrevious; }

bool ChainFaultsIgnored(DWORD aIgnoreFlags) {
  return aIgnoreFlags & (SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                         SECURITY_FLAG_IGNORE_WRONG_USAGE | SECURITY_FLAG_IGNORE_REVOCATION);
}

CURLcode PrepareTlsContext(CURL*, void* aSslContext, void*) {
  auto* context = static_cast<SSL_CTX*>(aSslContext);
  // Always verify: with peer checks off in the transport the chain still has to pass this.
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, VerifyCertificate);
  SSL_CTX_set_client_cert_cb(context, NoteCertificateRequest);
  return CURLE_OK;
}
