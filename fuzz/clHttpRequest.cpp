// Parsing arbitrary bodies back into items (multipart and url-encoded), then building them
// again: no crash, no hang, and the rebuilt body is as long as TotalSize says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/clHttpRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 1) return 0;
  TclHttpRequest request;
  // The first byte picks the body kind the request expects, the read size and the character set.
  const uint8_t mode = aData[0];
  request.Header().SetContentType(mode & 1 ? "application/x-www-form-urlencoded" : "multipart/form-data");
  request.Header().SetCharSet(mode & 2 ? "gbk" : "utf-8");
  request.SetBatchSize(1 + (mode >> 2));
  TMemoryStream saved;
  TMemoryStream fileData("file");
  request.OnSaveData = [&](TclHttpRequest*, TclHttpRequestItem*, TStream*& aStream) { aStream = &saved; };
  // Rebuilding must never open local files named by the input.
  request.OnLoadData = [&](TclHttpRequest*, TclHttpRequestItem*, TStream*& aStream) { aStream = &fileData; };
  TMemoryStream body(std::string(reinterpret_cast<const char*>(aData + 1), aSize - 1));
  request.SetRequestStream(body);
  const int64_t total = request.TotalSize();
  auto rebuilt = request.RequestStream();
  char buffer[4096];
  int64_t read = 0;
  int64_t got;
  while ((got = rebuilt->Read(buffer, sizeof buffer)) > 0) read += got;
  if (read != total) std::abort();
  request.HeaderSource();
  return 0;
}
