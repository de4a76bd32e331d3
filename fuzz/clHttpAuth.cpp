// Answering arbitrary challenge lines with every registered scheme: no crash, no hang.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/clStringsUtils.h"
#include "http/clHttpAuth.h"

// The NTLM mechanism leaks on every handshake; its library shows only in full allocation stacks.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:gssntlmssp.so\n"; }

// Negotiate must not look for a Kerberos realm through DNS or the machine's configuration:
// without a realm it falls back to NTLM, which needs no server for its messages.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("KRB5_CONFIG", "/dev/null", 1);
  setenv("KRB5CCNAME", "MEMORY:fuzz", 1);
  unsetenv("NTLM_USER_FILE");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  TStrings challenge;
  TclStringsUtils::SetText(challenge, std::string(reinterpret_cast<const char*>(aData), aSize));
  TclUrlParser url;
  url.Parse("http://h/dir/index.html?x=1");
  bool startNewConnection = false;
  std::string value;
  try {
    TclHttpAuthorization::Authorize(url, "GET", "user", "password", challenge, nullptr, startNewConnection, value);
  } catch (const EclSSPIError&) {
    // A server token that the handshake refuses ends the call with the security error.
  }
  return 0;
}
