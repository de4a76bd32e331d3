// Negotiate and NTLM handshakes answered with arbitrary server challenges and tokens: no crash, no
// hang; a token the mechanism refuses ends the call with the security error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/clStringsUtils.h"
#include "http/clHttpAuth.h"

// The NTLM mechanism leaks on every handshake, so the leak check libFuzzer makes after each input
// that kept memory would scan the heap every time and report only the mechanism: it is turned off
// here (the unit tests check our side for leaks), and the check at exit ignores the mechanism,
// whose library has no frame pointers, so that its fast stacks end in libcrypto. Nothing else here
// allocates there.
extern "C" const char* __lsan_default_suppressions() { return "leak:gssntlmssp.so\nleak:libcrypto.so\n"; }

// Negotiate must not look for a Kerberos realm through DNS or the machine's configuration:
// without a realm it falls back to NTLM, which needs no server for its messages.
extern "C" int LLVMFuzzerInitialize(int* aArgc, char*** aArgv) {
  setenv("KRB5_CONFIG", "/dev/null", 1);
  setenv("KRB5CCNAME", "MEMORY:fuzz", 1);
  unsetenv("NTLM_USER_FILE");
  // libFuzzer reads its flags after this call; a later -detect_leaks on the command line still wins.
  static std::vector<char*> arguments;
  static char noLeakCheck[] = "-detect_leaks=0";
  arguments.assign(*aArgv, *aArgv + *aArgc);
  arguments.insert(arguments.begin() + 1, noLeakCheck);
  arguments.push_back(nullptr);
  *aArgc += 1;
  *aArgv = arguments.data();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize == 0) return 0;
  TStrings challenge;
  TclStringsUtils::SetText(challenge, std::string(reinterpret_cast<const char*>(aData) + 1, aSize - 1));
  TclUrlParser url;
  url.Parse("http://h/dir/index.html?x=1");
  TclHttpNtlmAuthorization ntlm;
  try {
    // The first byte chooses whether the input answers a handshake already started, as a server's
    // second challenge does, or arrives first.
    if (aData[0] & 1) ntlm.Authenticate(url, "GET", "user", "password", {aData[0] & 2 ? "NTLM" : "Negotiate"}, nullptr);
    ntlm.Authenticate(url, "GET", "user", "password", challenge, nullptr);
  } catch (const EclSSPIError&) {
  }
  return 0;
}
