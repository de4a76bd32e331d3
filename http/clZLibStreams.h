#pragma once
// A write-only stream in front of a destination: what is written to it is gzip data, and the
// decoded bytes go on to the destination as they come out.
#include <array>
#include <cstdint>
#include <memory>

#include "common/clStreams.h"
#include "http/clInflate.h"

class TclGZipInflateStream : public TStream {
public:
  // aDestination is not owned; a missing one is refused with EclAssertionError.
  explicit TclGZipInflateStream(TStream* aDestination);
  TclGZipInflateStream(const TclGZipInflateStream&) = delete;
  TclGZipInflateStream& operator=(const TclGZipInflateStream&) = delete;

  int64_t Read(void* aBuffer, int64_t aCount) override { return 0; }
  // Decodes; raises EclZLibError on damaged data. Returns aCount.
  int64_t Write(const void* aBuffer, int64_t aCount) override;
  // Only the current position (the count of bytes written) is a valid target.
  int64_t Seek(int64_t aOffset, TSeekOrigin aOrigin) override;
  void SetSize(int64_t aSize) override;

private:
  // The parts of a member header, in the order they occur.
  enum THeaderStep { hsFixed, hsExtraLength, hsExtra, hsName, hsComment, hsHeaderCrc, hsDone };
  size_t ReadHeader(const uint8_t* aData, size_t aLen);
  void NextHeaderStep();
  size_t InflateData(const uint8_t* aData, size_t aLen);
  size_t ReadTrailer(const uint8_t* aData, size_t aLen);
  size_t Collect(const uint8_t* aData, size_t aLen, size_t aWanted);
  void StartMember();

  std::unique_ptr<TclInflater> FInflater;
  TStream* FDestination;
  TclCrc32 FFileCrc;
  uint32_t FFileSize = 0;  // modulo 2^32, as the trailer holds it
  bool FIsContent = false;
  bool FIsTrailer = false;
  uint64_t FTotalWritten = 0;
  // Fixed header, extra-field length and trailer bytes collected across writes.
  std::array<uint8_t, 10> FRawBytes{};
  size_t FRawBytesSize = 0;
  THeaderStep FHeaderStep = hsFixed;
  uint8_t FFlags = 0;
  uint32_t FSkip = 0;          // bytes of the extra field or header CRC still to skip
  bool FAfterMember = false;   // a member has ended: what follows must be another member
  bool FIgnoreRest = false;    // bytes after the last member that are not a member
  std::array<uint8_t, 16384> FOutput;
};
