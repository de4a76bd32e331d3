// A TLS client handshake fed with arbitrary server bytes in arbitrary pieces.
#include <cstddef>
#include <cstdint>

#include "net/clSspiTls.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  TclTlsClientSspi context("fuzz.example");
  TclCertificateList certificates;
  TMemoryStream buffer;
  try {
    context.GenContext(buffer, certificates, false);  // the client's first message
    size_t i = 0;
    while (i < aSize) {
      size_t length = 1 + aData[i++] * 8;
      if (length > aSize - i) length = aSize - i;
      buffer.Clear();
      buffer.WriteBuffer(aData + i, length);
      buffer.SetPosition(0);
      i += length;
      TclSspiReturnCode result = context.GenContext(buffer, certificates, true);
      if (result == rcOK || result == rcEncodeNeeded) {
        TMemoryStream plain;
        int64_t decrypted = 0;
        context.Decrypt(buffer, plain, decrypted);
      }
    }
  } catch (const EclError&) {
  }
  return 0;
}
