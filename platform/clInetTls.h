#pragma once
// Certificate checks of the internet client's TLS handshakes. Every fault of the server's chain
// is classified the way the platform reports it (date, authority, usage, revocation) so that a
// request can pass over exactly the faults its security flags name and report the first other one
// with its own error number. The host name is checked by the transport itself.
#include <curl/curl.h>

#include "platform/clWinInet.h"

// What the handshakes of one exchange may pass over, and what they found.
struct TclTlsCheck {
  DWORD IgnoreFlags = 0;             // SECURITY_FLAG_IGNORE_*
  DWORD Fault = 0;                   // the first fault not passed over: 12037, 12045, ...
  bool ClientCertificateAsked = false;  // the server asked for a certificate the request lacks
};

// While it lives, the handshakes run on this thread report to aCheck.
class TclTlsCheckScope {
public:
  explicit TclTlsCheckScope(TclTlsCheck& aCheck);
  ~TclTlsCheckScope();
  TclTlsCheckScope(const TclTlsCheckScope&) = delete;
  TclTlsCheckScope& operator=(const TclTlsCheckScope&) = delete;

private:
  TclTlsCheck* FPrevious;
};

// The transport verifies the chain itself unless a flag lets a chain fault pass; then the check
// above is the only one, and connections made so are never shared with strict requests.
bool ChainFaultsIgnored(DWORD aIgnoreFlags);

// CURLOPT_SSL_CTX_FUNCTION: puts the classifying checks into a new TLS context.
CURLcode PrepareTlsContext(CURL* aEasy, void* aSslContext, void* aUser);
