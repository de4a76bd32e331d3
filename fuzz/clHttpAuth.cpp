// Answering arbitrary challenge lines with Basic and Digest: no crash, no hang, and a Digest answer
// always names the scheme. Negotiate and NTLM have their own harness (clSspiAuth), as their
// handshakes run through the system's security mechanism at a small fraction of this speed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/clStringsUtils.h"
#include "http/clHttpAuth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  TStrings challenge;
  TclStringsUtils::SetText(challenge, std::string(reinterpret_cast<const char*>(aData), aSize));
  TclUrlParser url;
  url.Parse("http://h/dir/index.html?x=1");
  TclHttpDigestAuthorization digest;
  digest.Authenticate(url, "GET", "user", "password", challenge, nullptr);
  if (!digest.AuthValue().empty() && digest.AuthValue().compare(0, 7, "Digest ") != 0) std::abort();
  TclHttpBasicAuthorization basic;
  basic.Authenticate(url, "GET", "user", "password", challenge, nullptr);
  return 0;
}
