#include "http/clMd5.h"

#include <openssl/evp.h>

std::string Md5Hex(const std::string& aBytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(aBytes.data(), aBytes.size(), digest, &length, EVP_md5(), nullptr);
  static const char hex[] = "0123456789abcdef";
  std::string result;
  for (unsigned int i = 0; i < length; ++i) {
    result += hex[digest[i] >> 4];
    result += hex[digest[i] & 15];
  }
  return result;
}
