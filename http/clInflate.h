#pragma once
// DEFLATE decoding (RFC 1951), optionally inside the zlib container (RFC 1950), driven
// incrementally: the caller hands input with SetInput and pulls decoded bytes with Inflate.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "common/clErrors.h"

// Codes of EclZLibError.
enum TclZLibErrorCode : int32_t {
  zeOldInputNotProcessed = -101,
  zeInvalidStreamOperation = -102,
  zeInvalidCrc = -103,
  zeInvalidDataSize = -104,
  zeNotByteAligned = -105,
  zeArgumentOutOfRange = -106,
  zeUnknownError = -110,
  zeStaticTreeIllegal = -111,
  zeWindowFull = -112,
  zeInvalidOperation = -113,
  zeHeaderChecksum = -114,
  zeUnknownMethod = -115,
  zeUnknownMode = -118,
  zeAdlerMismatch = -119,
  zeUnknownBlockType = -120,
  zeBrokenStoredBlock = -121,
  zeNeedDictionary = -122,
};

class EclZLibError : public EclError {
public:
  // The message that belongs to the code.
  explicit EclZLibError(TclZLibErrorCode aCode);
  static std::string MessageOf(TclZLibErrorCode aCode);
};

class TclCheckSum {
public:
  virtual ~TclCheckSum() = default;
  uint32_t Value() const { return FValue; }
  virtual void Reset() = 0;
  void Update(uint8_t aByte) { Update(&aByte, 1); }
  virtual void Update(const uint8_t* aBuffer, size_t aLen) = 0;

protected:
  uint32_t FValue = 0;
};

// CRC-32 of gzip members (reflected polynomial 0xEDB88320).
class TclCrc32 : public TclCheckSum {
public:
  TclCrc32() { Reset(); }
  void Reset() override { FValue = 0; }
  using TclCheckSum::Update;
  void Update(const uint8_t* aBuffer, size_t aLen) override;
};

// Adler-32 of zlib streams.
class TclAdler32 : public TclCheckSum {
public:
  TclAdler32() { Reset(); }
  void Reset() override { FValue = 1; }
  using TclCheckSum::Update;
  void Update(const uint8_t* aBuffer, size_t aLen) override;
};

// The LSB-first bit reader over the input the caller set. Bytes are pulled into the bit buffer
// only when a code needs them, so nothing is read past the end of the DEFLATE data.
class TclInflateBuffer {
public:
  void SetInput(const uint8_t* aBuffer, size_t aLen) {
    FStart = FNext = aBuffer;
    FEnd = aBuffer + aLen;
  }
  void Clear() {
    FStart = FNext = FEnd = nullptr;
    FBits = 0;
    FBitCount = 0;
  }
  size_t RemainingInput() const { return size_t(FEnd - FNext); }
  unsigned BitCount() const { return FBitCount; }
  // Pulls bytes until aCount bits are buffered; false when the input ran out first.
  bool NeedBits(unsigned aCount) {
    while (FBitCount < aCount) {
      if (FNext == FEnd) return false;
      FBits |= uint64_t(*FNext++) << FBitCount;
      FBitCount += 8;
    }
    return true;
  }
  uint32_t PeekBits(unsigned aCount) const { return uint32_t(FBits & ((uint64_t(1) << aCount) - 1)); }
  void DropBits(unsigned aCount) {
    FBits >>= aCount;
    FBitCount -= aCount;
  }
  uint32_t TakeBits(unsigned aCount) {
    uint32_t v = PeekBits(aCount);
    DropBits(aCount);
    return v;
  }
  uint64_t Bits() const { return FBits; }
  void AlignToByte() { DropBits(FBitCount & 7); }
  // Gives whole buffered bytes back to the input (the end of the DEFLATE data was reached).
  void ReturnWholeBytes() {
    AlignToByte();
    FNext -= std::min<size_t>(FBitCount / 8, size_t(FNext - FStart));
    FBits = 0;
    FBitCount = 0;
  }

private:
  friend class TclInflater;  // its fast loop works on local copies of these fields
  const uint8_t* FStart = nullptr;
  const uint8_t* FNext = nullptr;
  const uint8_t* FEnd = nullptr;
  uint64_t FBits = 0;
  unsigned FBitCount = 0;
};

// The history of decoded bytes, used as a ring. Its ring is twice the DEFLATE window so that
// the fast loop may copy in 8-byte steps past a match's end: those bytes lie beyond any
// distance still reachable and are overwritten by the next output.
class TclOutputWindow {
public:
  static constexpr uint32_t WindowSize = 32768;  // longest distance, and most bytes held for output
  static constexpr uint32_t RingSize = 2 * WindowSize;
  static constexpr uint32_t RingMask = RingSize - 1;
  static constexpr uint32_t Slack = 320;  // room for overrunning copies at the ring's end

  void Clear() {
    FWindowEnd = 0;
    FWindowFilled = 0;
    FHistory = 0;
  }
  uint32_t Filled() const { return FWindowFilled; }
  uint32_t FreeSpace() const { return WindowSize - FWindowFilled; }
  // Copies up to aLen of the oldest bytes not yet handed out; returns the count.
  size_t CopyOutput(uint8_t* aBuffer, size_t aLen);
  // Adds bytes to the history without handing them out (a preset dictionary).
  void AddHistory(const uint8_t* aBuffer, size_t aLen);

private:
  friend class TclInflater;
  std::array<uint8_t, RingSize + Slack> FWindow{};
  uint32_t FWindowEnd = 0;     // next write index
  uint32_t FWindowFilled = 0;  // decoded bytes not yet copied out
  uint32_t FHistory = 0;       // bytes a distance may reach back to (at most WindowSize)
};

// A decoding table: lookups of the low bits of the bit buffer give a packed entry.
struct TclHuffmanTable {
  // Entry: bits 0-7 code length, bits 8-15 kind and extra bits, bits 16-31 value.
  static constexpr uint32_t opLiteral = 0x80, opLink = 0x40, opEnd = 0x20, opBase = 0x10;
  static constexpr size_t MaxEntries = 1024 + 288 * 32;
  unsigned RootBits = 0;
  std::array<uint32_t, MaxEntries> Entries;
};

class TclInflater {
public:
  TclInflater() : TclInflater(false) {}
  explicit TclInflater(bool aNoHeader);
  TclInflater(const TclInflater&) = delete;
  TclInflater& operator=(const TclInflater&) = delete;

  // The buffer must stay valid until its bytes are consumed (RemainingInput is 0).
  void SetInput(std::span<const uint8_t> aBuffer) { SetInput(aBuffer, 0, int64_t(aBuffer.size())); }
  void SetInput(std::span<const uint8_t> aBuffer, int64_t aOffset, int64_t aLen);
  // Decodes into the buffer; returns the bytes produced (0: more input, a dictionary or nothing left).
  int64_t Inflate(std::span<uint8_t> aBuffer) { return Inflate(aBuffer, 0, int64_t(aBuffer.size())); }
  int64_t Inflate(std::span<uint8_t> aBuffer, int64_t aOffset, int64_t aLen);
  void SetDictionary(std::span<const uint8_t> aBuffer) { SetDictionary(aBuffer, 0, int64_t(aBuffer.size())); }
  void SetDictionary(std::span<const uint8_t> aBuffer, int64_t aOffset, int64_t aLen);
  void Reset();

  // True when the decoder cannot go on without input: none is left, and the bits it holds
  // produced nothing further.
  bool IsNeedingInput() const { return FInput.RemainingInput() == 0 && FStarved; }
  bool IsNeedingDictionary() const { return FMode == imDictionary; }
  bool IsFinished() const { return FMode == imFinished && FOutputWindow.Filled() == 0; }
  int64_t RemainingInput() const { return int64_t(FInput.RemainingInput()); }
  int64_t TotalIn() const { return int64_t(FTotalIn - FInput.RemainingInput() - FInput.BitCount() / 8); }
  int64_t TotalOut() const { return int64_t(FTotalOut); }
  // The Adler-32 of the output in the zlib form, or the expected dictionary checksum.
  uint32_t Adler() const { return IsNeedingDictionary() ? FReadAdler : FAdler.Value(); }

private:
  enum TMode {
    imHeader, imDictionaryId, imDictionary, imBlockHeader, imStoredLength, imStoredCopy,
    imTableCounts, imCodeLengthLengths, imCodeLengths, imCodes, imLengthExtra, imDistance,
    imDistanceExtra, imChecksum, imFinished
  };
  void Decode();
  bool DecodeStoredCopy();
  bool ReadTableCounts();
  bool ReadCodeLengthLengths();
  bool ReadCodeLengths();
  bool DecodeSymbol(const TclHuffmanTable& aTable, uint32_t& aEntry);
  bool DecodeCodes();
  void DecodeFast();
  void CopyMatch(uint32_t aLength, uint32_t aDistance);
  void EndBlock();

  TMode FMode = imHeader;
  uint32_t FReadAdler = 0;
  unsigned FNeededBits = 0;  // extra bits of the pending length or distance
  uint32_t FRepLength = 0;
  uint32_t FRepDist = 0;
  uint32_t FUncomprLen = 0;
  bool FIsLastBlock = false;
  uint64_t FTotalOut = 0;
  uint64_t FTotalIn = 0;
  bool FNoHeader = false;
  bool FStarved = true;  // the last decoding step produced nothing
  TclInflateBuffer FInput;
  TclOutputWindow FOutputWindow;
  TclAdler32 FAdler;
  // The dynamic block header being read.
  struct TDynHeader {
    unsigned LitCount = 0, DistCount = 0, LenCount = 0, Index = 0;
    std::array<uint8_t, 320> Lengths{};
  } FDynHeader;
  TclHuffmanTable FCodeLengthTree;
  const TclHuffmanTable* FLitlenTree = nullptr;
  const TclHuffmanTable* FDistTree = nullptr;
  TclHuffmanTable FOwnLitlenTree;
  TclHuffmanTable FOwnDistTree;
};
