#include "http/clStreams.h"

#include <algorithm>
#include <cstring>

namespace {
// Sizes of up to 15 significant hexadecimal digits fit a 64-bit signed size.
constexpr size_t cMaxChunkSizeDigits = 15;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

TclChunkedStream::TclChunkedStream(TStream* aDestination) : FDestination(aDestination) {
  if (!aDestination) throw EclAssertionError("TclChunkedStream needs a destination");
}

int64_t TclChunkedStream::Write(const void* aBuffer, int64_t aCount) {
  if (aCount <= 0) return 0;
  const char* p = static_cast<const char*>(aBuffer);
  size_t left = size_t(aCount);
  FTotalWritten += aCount;
  while (left > 0) {
    size_t n = left;
    switch (FState) {
      case csSizeLine:
        n = SizeLine(p, left);
        break;
      case csData:
        n = size_t(std::min<int64_t>(int64_t(left), FChunkSize - FChunkWritten));
        FDestination->WriteBuffer(p, int64_t(n));
        FChunkWritten += int64_t(n);
        if (FChunkWritten == FChunkSize) FState = csDataEnd;
        break;
      case csDataEnd: {
        // The line end after the chunk data (anything before it is ignored).
        auto* lf = static_cast<const char*>(std::memchr(p, '\n', left));
        if (lf) {
          n = size_t(lf - p) + 1;
          FState = csSizeLine;
        }
        break;
      }
      case csTrailer:
        n = Trailer(p, left);
        break;
      case csCompleted:
        break;  // what follows the body is not part of it
    }
    p += n;
    left -= n;
  }
  return aCount;
}

size_t TclChunkedStream::SizeLine(const char* aData, size_t aLen) {
  // Hexadecimal digits at the start of the line; a chunk extension or the CR after them ends them.
  size_t i = 0;
  for (; i < aLen && aData[i] != '\n'; ++i) {
    if (FSizeDigitsEnded) continue;
    if (HexValue(aData[i]) < 0) {
      FSizeDigitsEnded = true;
    } else if (!(FChunkSizeStr.empty() && aData[i] == '0')) {
      FChunkSizeStr += aData[i];
      if (FChunkSizeStr.size() > cMaxChunkSizeDigits) throw EStreamError("Invalid chunk size");
    }
  }
  if (i == aLen) return aLen;
  FChunkSize = 0;
  for (char c : FChunkSizeStr) FChunkSize = FChunkSize * 16 + HexValue(c);
  FChunkSizeStr.clear();
  FSizeDigitsEnded = false;
  FChunkWritten = 0;
  FState = FChunkSize == 0 ? csTrailer : csData;
  FTrailerLineEmpty = true;
  return i + 1;
}

size_t TclChunkedStream::Trailer(const char* aData, size_t aLen) {
  // Trailer fields are read and dropped up to the empty line that ends the message, so that a
  // reused connection starts at the next response.
  for (size_t i = 0; i < aLen; ++i) {
    if (aData[i] == '\n') {
      if (FTrailerLineEmpty) {
        FState = csCompleted;
        return i + 1;
      }
      FTrailerLineEmpty = true;
    } else if (aData[i] != '\r') {
      FTrailerLineEmpty = false;
    }
  }
  return aLen;
}

int64_t TclChunkedStream::Seek(int64_t aOffset, TSeekOrigin aOrigin) {
  // Only asking for the position is meaningful: the encoded bytes are gone once written.
  if (aOrigin == soBeginning ? aOffset != FTotalWritten : aOffset != 0)
    throw EStreamError("Invalid Stream operation");
  return FTotalWritten;
}

void TclChunkedStream::SetSize(int64_t aSize) { throw EStreamError("Invalid Stream operation"); }
