// SOCKS proxy replies: arbitrary bytes offered in arbitrary pieces to a SOCKS 4 or 5 negotiation.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "net/clSocks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 2) return 0;
  const bool socks5 = aData[0] & 1;
  const bool withUser = aData[0] & 2;
  std::unique_ptr<TclSocksNetworkStream> stream;
  if (socks5)
    stream = std::make_unique<TclSocks5NetworkStream>(std::make_unique<TclNetworkStream>(), "example.invalid", 443,
                                                      withUser ? "user" : "", "password");
  else
    stream = std::make_unique<TclSocks4NetworkStream>(std::make_unique<TclNetworkStream>(), "10.1.2.3", 80,
                                                      withUser ? "user" : "", "");
  // Each piece: one length byte (0..15), then that many reply bytes.
  size_t i = 1;
  try {
    while (i < aSize && stream->State() != csData) {
      size_t length = aData[i++] & 15;
      if (length > aSize - i) length = aSize - i;
      stream->ReceiveReply(reinterpret_cast<const char*>(aData + i), length);
      i += length;
    }
  } catch (const EclSocksFirewallError&) {
  }
  return 0;
}
