#pragma once
// TclChunkedStream is a write-only stream in front of a destination:
// what is written to it is a body in chunked transfer coding, and the chunk data goes on to the
// destination as it arrives.
#include <cstdint>
#include <string>

#include "common/clStreams.h"

class TclChunkedStream : public TStream {
public:
  // aDestination is not owned; a missing one is refused with EclAssertionError.
  explicit TclChunkedStream(TStream* aDestination);
  TclChunkedStream(const TclChunkedStream&) = delete;
  TclChunkedStream& operator=(const TclChunkedStream&) = delete;

  int64_t Read(void* aBuffer, int64_t aCount) override { return 0; }
  // Decodes; always takes every byte (bytes after the end of the body are dropped). A size line
  // too long for a 64-bit size raises EStreamError.
  int64_t Write(const void* aBuffer, int64_t aCount) override;
  // Only the current position (the count of encoded bytes written) is a valid target.
  int64_t Seek(int64_t aOffset, TSeekOrigin aOrigin) override;
  void SetSize(int64_t aSize) override;

  // The last chunk and the trailer section (fields and empty line) have been read.
  bool IsCompleted() const { return FState == csCompleted; }
  int64_t TotalWritten() const { return FTotalWritten; }

private:
  // Size line, chunk data, the line end after the data, trailer lines after the last chunk.
  enum TChunkState { csSizeLine, csData, csDataEnd, csTrailer, csCompleted };
  size_t SizeLine(const char* aData, size_t aLen);
  size_t Trailer(const char* aData, size_t aLen);

  std::string FChunkSizeStr;  // hexadecimal digits of the size line seen so far
  bool FSizeDigitsEnded = false;
  TChunkState FState = csSizeLine;
  int64_t FChunkSize = 0;
  int64_t FChunkWritten = 0;
  bool FTrailerLineEmpty = true;  // the trailer line being read has had nothing but CR so far
  TStream* FDestination;
  int64_t FTotalWritten = 0;
};
