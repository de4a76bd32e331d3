#include "http/clZLibStreams.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t FlagHeaderCrc = 2, FlagExtra = 4, FlagName = 8, FlagComment = 16;
constexpr size_t FixedHeaderSize = 10, TrailerSize = 8;

uint32_t LittleEndian32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

TclGZipInflateStream::TclGZipInflateStream(TStream* aDestination)
    : FInflater(std::make_unique<TclInflater>(true)), FDestination(aDestination) {
  if (!aDestination) throw EclAssertionError("TclGZipInflateStream needs a destination");
}

int64_t TclGZipInflateStream::Write(const void* aBuffer, int64_t aCount) {
  if (aCount <= 0) return 0;
  const auto* data = static_cast<const uint8_t*>(aBuffer);
  const size_t len = size_t(aCount);
  FTotalWritten += len;
  size_t pos = 0;
  while (pos < len && !FIgnoreRest) {
    if (!FIsContent)
      pos += ReadHeader(data + pos, len - pos);
    else if (!FIsTrailer)
      pos += InflateData(data + pos, len - pos);
    else
      pos += ReadTrailer(data + pos, len - pos);
  }
  return aCount;
}

int64_t TclGZipInflateStream::Seek(int64_t aOffset, TSeekOrigin aOrigin) {
  // The position is also the end: nothing is kept to move back to.
  int64_t target = aOrigin == soBeginning ? aOffset : int64_t(FTotalWritten) + aOffset;
  if (target != int64_t(FTotalWritten)) throw EclZLibError(zeInvalidStreamOperation);
  return target;
}

void TclGZipInflateStream::SetSize(int64_t aSize) { throw EclZLibError(zeInvalidStreamOperation); }

// Appends up to aWanted collected bytes; returns the count taken from aData.
size_t TclGZipInflateStream::Collect(const uint8_t* aData, size_t aLen, size_t aWanted) {
  size_t n = std::min(aLen, aWanted - FRawBytesSize);
  std::memcpy(FRawBytes.data() + FRawBytesSize, aData, n);
  FRawBytesSize += n;
  return n;
}

void TclGZipInflateStream::NextHeaderStep() {
  FRawBytesSize = 0;
  for (;;) {
    FHeaderStep = THeaderStep(FHeaderStep + 1);
    switch (FHeaderStep) {
      case hsExtraLength:
        if (FFlags & FlagExtra) return;
        break;
      case hsExtra:
        if (FFlags & FlagExtra) return;
        break;
      case hsName:
        if (FFlags & FlagName) return;
        break;
      case hsComment:
        if (FFlags & FlagComment) return;
        break;
      case hsHeaderCrc:
        if (FFlags & FlagHeaderCrc) {
          FSkip = 2;
          return;
        }
        break;
      default:
        FIsContent = true;
        return;
    }
  }
}

// The header is read as it arrives, field by field, so that a long name or extra field costs
// no memory.
size_t TclGZipInflateStream::ReadHeader(const uint8_t* aData, size_t aLen) {
  switch (FHeaderStep) {
    case hsFixed: {
      size_t n = Collect(aData, aLen, FixedHeaderSize);
      if (FRawBytesSize < FixedHeaderSize) return n;
      if (FAfterMember && (FRawBytes[0] != 0x1F || FRawBytes[1] != 0x8B)) {
        FIgnoreRest = true;  // trailing bytes after the last member, not another member
        return aLen;
      }
      FFlags = FRawBytes[3];
      NextHeaderStep();
      return n;
    }
    case hsExtraLength: {
      size_t n = Collect(aData, aLen, 2);
      if (FRawBytesSize == 2) {
        FSkip = uint32_t(FRawBytes[0]) | uint32_t(FRawBytes[1]) << 8;
        NextHeaderStep();
      }
      return n;
    }
    case hsExtra:
    case hsHeaderCrc: {
      size_t n = std::min<size_t>(aLen, FSkip);
      FSkip -= uint32_t(n);
      if (FSkip == 0) NextHeaderStep();
      return n;
    }
    case hsName:
    case hsComment: {
      const void* zero = std::memchr(aData, 0, aLen);
      if (!zero) return aLen;
      NextHeaderStep();
      return size_t(static_cast<const uint8_t*>(zero) - aData) + 1;
    }
    case hsDone:
      break;
  }
  FIsContent = true;
  return 0;
}

size_t TclGZipInflateStream::InflateData(const uint8_t* aData, size_t aLen) {
  FInflater->SetInput({aData, aLen});
  for (;;) {
    int64_t n = FInflater->Inflate(FOutput);
    if (n == 0) break;
    FDestination->WriteBuffer(FOutput.data(), n);
    FFileCrc.Update(FOutput.data(), size_t(n));
    FFileSize += uint32_t(n);
  }
  if (!FInflater->IsFinished()) return aLen;  // the decoder holds every byte until more arrives
  FIsTrailer = true;
  FRawBytesSize = 0;
  return aLen - size_t(FInflater->RemainingInput());
}

size_t TclGZipInflateStream::ReadTrailer(const uint8_t* aData, size_t aLen) {
  size_t n = Collect(aData, aLen, TrailerSize);
  if (FRawBytesSize < TrailerSize) return n;
  if (LittleEndian32(FRawBytes.data()) != FFileCrc.Value()) throw EclZLibError(zeInvalidCrc);
  if (LittleEndian32(FRawBytes.data() + 4) != FFileSize) throw EclZLibError(zeInvalidDataSize);
  StartMember();
  return n;
}

// A member ended well: what follows may be another member.
void TclGZipInflateStream::StartMember() {
  FInflater->Reset();
  FFileCrc.Reset();
  FFileSize = 0;
  FIsContent = FIsTrailer = false;
  FRawBytesSize = 0;
  FHeaderStep = hsFixed;
  FAfterMember = true;
}
