// Arbitrary bytes as a comment reply: inflated in the zlib form and decoded as the site's reply.
// Where zlib itself reads the data to its end, the inflation gives the same bytes; a decoded reply
// is never empty and begins as XML does.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/CommentFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  const std::string input(reinterpret_cast<const char*>(aData), aSize);
  std::string ours;
  const bool inflated = InflateComment(input, ours);
  if (ours.size() > kMaxCommentBytes + 4096) abort();
  // zlib's one-shot reading, with room for one byte more than ours gave.
  std::string theirs(ours.size() + 1, '\0');
  uLongf theirSize = uLongf(theirs.size());
  uLong used = uLong(aSize);
  if (uncompress2(reinterpret_cast<Bytef*>(theirs.data()), &theirSize, aData, &used) == Z_OK &&
      (!inflated || theirs.substr(0, theirSize) != ours))
    abort();

  std::string xml;
  if (DecodeCommentReply(input, xml)) {
    size_t start = xml.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    start = xml.find_first_not_of(" \t\r\n", start);
    if (start == std::string::npos || xml[start] != '<') abort();
  }
  return 0;
}
