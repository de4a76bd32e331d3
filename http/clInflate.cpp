#include "http/clInflate.h"

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// Errors

std::string EclZLibError::MessageOf(TclZLibErrorCode aCode) {
  switch (aCode) {
    case zeOldInputNotProcessed: return "Old input was not completely processed";
    case zeInvalidStreamOperation: return "Invalid Stream operation";
    case zeInvalidCrc: return "Uncompressing error - invalid crc";
    case zeInvalidDataSize: return "Uncompressing error - invalid data size";
    case zeNotByteAligned: return "Bit buffer is not byte aligned";
    case zeArgumentOutOfRange: return "Argument out of range";
    case zeUnknownError: return "Unknown error";
    case zeStaticTreeIllegal: return "Static tree length illegal";
    case zeWindowFull: return "Window is full";
    case zeInvalidOperation: return "Invalid operation";
    case zeHeaderChecksum: return "Header checksum illegal";
    case zeUnknownMethod: return "Compression Method unknown";
    case zeUnknownMode: return "Inflater unknown mode";
    case zeAdlerMismatch: return "Adler chksum doesn't match";
    case zeUnknownBlockType: return "Unknown block type ";
    case zeBrokenStoredBlock: return "Broken uncompressed block";
    case zeNeedDictionary: return "Need a dictionary";
  }
  return "Unknown error";
}

EclZLibError::EclZLibError(TclZLibErrorCode aCode) : EclError(MessageOf(aCode), aCode) {}

// ---------------------------------------------------------------------------------------------
// Checksums

namespace {

// The standard CRC-32 table and seven derived ones, so that eight bytes are folded per step.
struct TCrcTables {
  uint32_t T[8][256];
  constexpr TCrcTables() : T{} {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      T[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n)
      for (int k = 1; k < 8; ++k) T[k][n] = (T[k - 1][n] >> 8) ^ T[0][T[k - 1][n] & 0xFF];
  }
};
constexpr TCrcTables CrcTables;

uint32_t Load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

void TclCrc32::Update(const uint8_t* aBuffer, size_t aLen) {
  const auto& t = CrcTables.T;
  uint32_t c = ~FValue;
  while (aLen >= 8) {
    uint32_t lo = Load32(aBuffer) ^ c, hi = Load32(aBuffer + 4);
    c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
        t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    aBuffer += 8;
    aLen -= 8;
  }
  while (aLen--) c = t[0][(c ^ *aBuffer++) & 0xFF] ^ (c >> 8);
  FValue = ~c;
}

void TclAdler32::Update(const uint8_t* aBuffer, size_t aLen) {
  constexpr uint32_t Base = 65521, Run = 3800;  // a run this long cannot overflow the sums
  uint32_t a = FValue & 0xFFFF, b = FValue >> 16;
  while (aLen > 0) {
    size_t n = std::min<size_t>(aLen, Run);
    aLen -= n;
    while (n--) {
      a += *aBuffer++;
      b += a;
    }
    a %= Base;
    b %= Base;
  }
  FValue = b << 16 | a;
}

// ---------------------------------------------------------------------------------------------
// Output window

size_t TclOutputWindow::CopyOutput(uint8_t* aBuffer, size_t aLen) {
  size_t n = std::min<size_t>(aLen, FWindowFilled);
  uint32_t start = (FWindowEnd - FWindowFilled) & RingMask;
  size_t first = std::min<size_t>(n, RingSize - start);
  std::memcpy(aBuffer, FWindow.data() + start, first);
  std::memcpy(aBuffer + first, FWindow.data(), n - first);
  FWindowFilled -= uint32_t(n);
  return n;
}

void TclOutputWindow::AddHistory(const uint8_t* aBuffer, size_t aLen) {
  if (aLen > WindowSize) {
    aBuffer += aLen - WindowSize;
    aLen = WindowSize;
  }
  size_t first = std::min<size_t>(aLen, RingSize - FWindowEnd);
  std::memcpy(FWindow.data() + FWindowEnd, aBuffer, first);
  std::memcpy(FWindow.data(), aBuffer + first, aLen - first);
  FWindowEnd = (FWindowEnd + uint32_t(aLen)) & RingMask;
  FHistory = std::min<uint32_t>(WindowSize, FHistory + uint32_t(aLen));
}

// ---------------------------------------------------------------------------------------------
// Huffman tables

namespace {

using Table = TclHuffmanTable;

enum TTableKind { tkCodeLengths, tkLitlen, tkDistance };

constexpr uint16_t LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                   193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t DistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                   6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr unsigned LitlenRootBits = 10, DistRootBits = 8, CodeLengthRootBits = 7;
constexpr uint32_t MaxMatch = 258;

constexpr uint32_t MakeEntry(unsigned aLength, uint32_t aOp, uint32_t aValue) {
  return aLength | aOp << 8 | aValue << 16;
}
inline unsigned EntryLength(uint32_t e) { return e & 0xFF; }
inline uint32_t EntryOp(uint32_t e) { return (e >> 8) & 0xFF; }
inline uint32_t EntryValue(uint32_t e) { return e >> 16; }

uint32_t SymbolEntry(TTableKind aKind, unsigned aSymbol, unsigned aLength) {
  switch (aKind) {
    case tkCodeLengths:
      return MakeEntry(aLength, Table::opLiteral, aSymbol);
    case tkLitlen:
      if (aSymbol < 256) return MakeEntry(aLength, Table::opLiteral, aSymbol);
      if (aSymbol == 256) return MakeEntry(aLength, Table::opEnd, 0);
      if (aSymbol < 286)
        return MakeEntry(aLength, Table::opBase | LengthExtra[aSymbol - 257], LengthBase[aSymbol - 257]);
      break;
    case tkDistance:
      if (aSymbol < 30) return MakeEntry(aLength, Table::opBase | DistExtra[aSymbol], DistBase[aSymbol]);
      break;
  }
  return MakeEntry(aLength, 0, 0);  // a symbol that the data may not use
}

uint32_t ReverseBits(uint32_t aCode, unsigned aLength) {
  uint32_t r = 0;
  for (unsigned i = 0; i < aLength; ++i, aCode >>= 1) r = r << 1 | (aCode & 1);
  return r;
}

// Builds the decoding table of canonical code lengths: a root table indexed by the low
// RootBits bits, and for longer codes one sub-table per root prefix, sized for the longest
// code under it. Refuses over-subscribed and incomplete sets (a single one-bit code and an
// empty set excepted, as encoders produce them for distances).
bool BuildTable(const uint8_t* aLengths, unsigned aCount, TTableKind aKind, unsigned aRootBits, Table& aTable) {
  unsigned count[16] = {};
  for (unsigned s = 0; s < aCount; ++s) count[aLengths[s]]++;
  count[0] = 0;
  unsigned maxLength = 0;
  int left = 1;
  for (unsigned len = 1; len < 16; ++len) {
    left = left * 2 - int(count[len]);
    if (left < 0) return false;
    if (count[len]) maxLength = len;
  }
  if (left > 0 && maxLength > 1) return false;
  if (left > 0 && aKind == tkCodeLengths && maxLength != 0) return false;

  aTable.RootBits = aRootBits;
  const uint32_t rootSize = 1u << aRootBits, rootMask = rootSize - 1;
  auto& e = aTable.Entries;
  std::fill(e.begin(), e.begin() + rootSize, MakeEntry(aRootBits, 0, 0));

  // The longest code under each root prefix decides its sub-table's size.
  uint8_t longest[1 << LitlenRootBits] = {};
  uint32_t next[16] = {};
  for (unsigned len = 1, code = 0; len < 16; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  uint32_t codes[320];
  for (unsigned s = 0; s < aCount; ++s) {
    unsigned len = aLengths[s];
    if (!len) continue;
    codes[s] = ReverseBits(next[len]++, len);
    if (len > aRootBits) longest[codes[s] & rootMask] = std::max<uint8_t>(longest[codes[s] & rootMask], uint8_t(len));
  }
  uint32_t used = rootSize;
  for (unsigned s = 0; s < aCount; ++s) {
    unsigned len = aLengths[s];
    if (!len) continue;
    uint32_t entry = SymbolEntry(aKind, s, len), code = codes[s];
    if (len <= aRootBits) {
      for (uint32_t i = code; i < rootSize; i += 1u << len) e[i] = entry;
      continue;
    }
    uint32_t prefix = code & rootMask;
    unsigned subBits = longest[prefix] - aRootBits;
    if (!(EntryOp(e[prefix]) & Table::opLink)) {
      e[prefix] = MakeEntry(aRootBits, Table::opLink | subBits, used);
      std::fill(e.begin() + used, e.begin() + used + (1u << subBits), MakeEntry(aRootBits + subBits, 0, 0));
      used += 1u << subBits;
    }
    uint32_t base = EntryValue(e[prefix]);
    for (uint32_t i = code >> aRootBits; i < (1u << subBits); i += 1u << (len - aRootBits)) e[base + i] = entry;
  }
  return true;
}

// The fixed codes of block type 1, built once.
struct TFixedTables {
  Table Litlen, Dist;
  bool Valid;
  TFixedTables() {
    uint8_t lengths[288];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    uint8_t dist[32];
    std::fill(dist, dist + 32, 5);
    Valid = BuildTable(lengths, 288, tkLitlen, LitlenRootBits, Litlen) &&
            BuildTable(dist, 32, tkDistance, DistRootBits, Dist);
  }
};

const TFixedTables& FixedTables() {
  static const TFixedTables tables;
  if (!tables.Valid) throw EclZLibError(zeStaticTreeIllegal);
  return tables;
}

uint32_t ByteSwap(uint32_t v) { return __builtin_bswap32(v); }

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;  // little-endian hosts only, like the rest of the bit reader
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Inflater

TclInflater::TclInflater(bool aNoHeader) : FNoHeader(aNoHeader) {
  FixedTables();
  Reset();
}

void TclInflater::Reset() {
  FMode = FNoHeader ? imBlockHeader : imHeader;
  FReadAdler = 0;
  FNeededBits = FRepLength = FRepDist = FUncomprLen = 0;
  FIsLastBlock = false;
  FStarved = true;
  FTotalOut = FTotalIn = 0;
  FInput.Clear();
  FOutputWindow.Clear();
  FAdler.Reset();
  FLitlenTree = FDistTree = nullptr;
}

void TclInflater::SetInput(std::span<const uint8_t> aBuffer, int64_t aOffset, int64_t aLen) {
  if (FInput.RemainingInput() > 0) throw EclZLibError(zeOldInputNotProcessed);
  if (aOffset < 0 || aLen < 0 || uint64_t(aOffset) + uint64_t(aLen) > aBuffer.size())
    throw EclZLibError(zeArgumentOutOfRange);
  FInput.SetInput(aBuffer.data() + aOffset, size_t(aLen));
  FTotalIn += uint64_t(aLen);
  FStarved = false;
}

void TclInflater::SetDictionary(std::span<const uint8_t> aBuffer, int64_t aOffset, int64_t aLen) {
  if (FMode != imDictionary) throw EclZLibError(zeInvalidOperation);
  if (aOffset < 0 || aLen < 0 || uint64_t(aOffset) + uint64_t(aLen) > aBuffer.size())
    throw EclZLibError(zeArgumentOutOfRange);
  TclAdler32 check;
  check.Update(aBuffer.data() + aOffset, size_t(aLen));
  if (check.Value() != FReadAdler) throw EclZLibError(zeAdlerMismatch);
  FOutputWindow.AddHistory(aBuffer.data() + aOffset, size_t(aLen));
  FMode = imBlockHeader;
}

int64_t TclInflater::Inflate(std::span<uint8_t> aBuffer, int64_t aOffset, int64_t aLen) {
  if (aOffset < 0 || aLen < 0 || uint64_t(aOffset) + uint64_t(aLen) > aBuffer.size())
    throw EclZLibError(zeArgumentOutOfRange);
  uint8_t* out = aBuffer.data() + aOffset;
  size_t produced = 0, wanted = size_t(aLen);
  for (;;) {
    size_t n = FOutputWindow.CopyOutput(out + produced, wanted - produced);
    // Only the zlib form carries an Adler-32; gzip callers keep their own CRC-32.
    if (!FNoHeader) FAdler.Update(out + produced, n);
    produced += n;
    FTotalOut += n;
    if (produced == wanted) break;
    Decode();
    FStarved = FOutputWindow.Filled() == 0;
    if (FStarved) break;
  }
  return int64_t(produced);
}

void TclInflater::EndBlock() {
  if (!FIsLastBlock) {
    FMode = imBlockHeader;
  } else if (FNoHeader) {
    FInput.ReturnWholeBytes();  // what follows the DEFLATE data belongs to the caller
    FMode = imFinished;
  } else {
    FInput.AlignToByte();
    FMode = imChecksum;
  }
}

// Runs the decoder until it needs input, the window is full, or the stream has ended.
void TclInflater::Decode() {
  for (;;) {
    switch (FMode) {
      case imHeader: {
        if (!FInput.NeedBits(16)) return;
        uint32_t cmf = FInput.TakeBits(8), flg = FInput.TakeBits(8);
        if ((cmf * 256 + flg) % 31 != 0) throw EclZLibError(zeHeaderChecksum);
        if ((cmf & 15) != 8) throw EclZLibError(zeUnknownMethod);
        FMode = (flg & 0x20) ? imDictionaryId : imBlockHeader;
        break;
      }
      case imDictionaryId:
        if (!FInput.NeedBits(32)) return;
        FReadAdler = ByteSwap(FInput.TakeBits(32));
        FMode = imDictionary;
        return;
      case imDictionary:
        return;
      case imBlockHeader: {
        if (!FInput.NeedBits(3)) return;
        FIsLastBlock = FInput.TakeBits(1) != 0;
        switch (FInput.TakeBits(2)) {
          case 0:
            FMode = imStoredLength;
            break;
          case 1:
            FLitlenTree = &FixedTables().Litlen;
            FDistTree = &FixedTables().Dist;
            FMode = imCodes;
            break;
          case 2:
            FMode = imTableCounts;
            break;
          default:
            throw EclZLibError(zeUnknownBlockType);
        }
        break;
      }
      case imStoredLength: {
        FInput.AlignToByte();
        if (!FInput.NeedBits(32)) return;
        uint32_t len = FInput.TakeBits(16), nlen = FInput.TakeBits(16);
        if (len != (~nlen & 0xFFFF)) throw EclZLibError(zeBrokenStoredBlock);
        FUncomprLen = len;
        FMode = imStoredCopy;
        break;
      }
      case imStoredCopy:
        if (!DecodeStoredCopy()) return;
        EndBlock();
        break;
      case imTableCounts:
        if (!ReadTableCounts()) return;
        break;
      case imCodeLengthLengths:
        if (!ReadCodeLengthLengths()) return;
        break;
      case imCodeLengths:
        if (!ReadCodeLengths()) return;
        break;
      case imCodes:
      case imLengthExtra:
      case imDistance:
      case imDistanceExtra:
        if (!DecodeCodes()) return;
        break;
      case imChecksum:
        if (FOutputWindow.Filled() > 0) return;  // the checksum covers every byte handed out
        if (!FInput.NeedBits(32)) return;
        if (ByteSwap(FInput.TakeBits(32)) != FAdler.Value()) throw EclZLibError(zeAdlerMismatch);
        FInput.ReturnWholeBytes();
        FMode = imFinished;
        return;
      case imFinished:
        return;
      default:
        throw EclZLibError(zeUnknownMode);
    }
  }
}

bool TclInflater::DecodeStoredCopy() {
  TclOutputWindow& w = FOutputWindow;
  while (FUncomprLen > 0) {
    uint32_t n = std::min(FUncomprLen, w.FreeSpace());
    if (n == 0) return false;
    if (FInput.BitCount() >= 8) {  // bytes the bit reader already holds come first
      w.FWindow[w.FWindowEnd] = uint8_t(FInput.TakeBits(8));
      n = 1;
    } else {
      n = uint32_t(std::min<size_t>({n, FInput.RemainingInput(), TclOutputWindow::RingSize - w.FWindowEnd}));
      if (n == 0) return false;
      std::memcpy(w.FWindow.data() + w.FWindowEnd, FInput.FNext, n);
      FInput.FNext += n;
    }
    w.FWindowEnd = (w.FWindowEnd + n) & TclOutputWindow::RingMask;
    w.FWindowFilled += n;
    w.FHistory = std::min(TclOutputWindow::WindowSize, w.FHistory + n);
    FUncomprLen -= n;
  }
  return true;
}

bool TclInflater::ReadTableCounts() {
  if (!FInput.NeedBits(14)) return false;
  FDynHeader.LitCount = FInput.TakeBits(5) + 257;
  FDynHeader.DistCount = FInput.TakeBits(5) + 1;
  FDynHeader.LenCount = FInput.TakeBits(4) + 4;
  if (FDynHeader.LitCount > 286 || FDynHeader.DistCount > 30) throw EclZLibError(zeUnknownError);
  FDynHeader.Index = 0;
  FMode = imCodeLengthLengths;
  return true;
}

bool TclInflater::ReadCodeLengthLengths() {
  auto& h = FDynHeader;
  for (; h.Index < h.LenCount; ++h.Index) {
    if (!FInput.NeedBits(3)) return false;
    h.Lengths[CodeLengthOrder[h.Index]] = uint8_t(FInput.TakeBits(3));
  }
  for (unsigned i = h.LenCount; i < 19; ++i) h.Lengths[CodeLengthOrder[i]] = 0;
  if (!BuildTable(h.Lengths.data(), 19, tkCodeLengths, CodeLengthRootBits, FCodeLengthTree))
    throw EclZLibError(zeUnknownError);
  h.Index = 0;
  FMode = imCodeLengths;
  return true;
}

bool TclInflater::ReadCodeLengths() {
  auto& h = FDynHeader;
  const unsigned total = h.LitCount + h.DistCount;
  while (h.Index < total) {
    uint32_t e;
    if (!DecodeSymbol(FCodeLengthTree, e)) return false;
    if (EntryOp(e) == 0) throw EclZLibError(zeUnknownError);
    unsigned symbol = EntryValue(e), len = EntryLength(e);
    static constexpr unsigned ExtraBits[3] = {2, 3, 7};
    unsigned extra = symbol < 16 ? 0 : ExtraBits[symbol - 16];
    if (!FInput.NeedBits(len + extra)) return false;  // the bits stay buffered for the next try
    FInput.DropBits(len);
    if (symbol < 16) {
      h.Lengths[h.Index++] = uint8_t(symbol);
      continue;
    }
    uint8_t value = 0;
    unsigned repeat = FInput.TakeBits(extra);
    if (symbol == 16) {
      if (h.Index == 0) throw EclZLibError(zeUnknownError);
      value = h.Lengths[h.Index - 1];
      repeat += 3;
    } else {
      repeat += symbol == 17 ? 3 : 11;
    }
    if (h.Index + repeat > total) throw EclZLibError(zeUnknownError);
    std::fill_n(h.Lengths.begin() + h.Index, repeat, value);
    h.Index += repeat;
  }
  if (h.Lengths[256] == 0 ||  // a block must be able to end
      !BuildTable(h.Lengths.data(), h.LitCount, tkLitlen, LitlenRootBits, FOwnLitlenTree) ||
      !BuildTable(h.Lengths.data() + h.LitCount, h.DistCount, tkDistance, DistRootBits, FOwnDistTree))
    throw EclZLibError(zeUnknownError);
  FLitlenTree = &FOwnLitlenTree;
  FDistTree = &FOwnDistTree;
  FMode = imCodes;
  return true;
}

// Looks a code up, pulling input bytes one at a time until the whole code is buffered.
bool TclInflater::DecodeSymbol(const TclHuffmanTable& aTable, uint32_t& aEntry) {
  const uint32_t rootMask = (1u << aTable.RootBits) - 1;
  for (;;) {
    uint64_t bits = FInput.Bits();
    uint32_t e = aTable.Entries[bits & rootMask];
    if (EntryOp(e) & Table::opLink)
      e = aTable.Entries[EntryValue(e) + ((bits >> aTable.RootBits) & ((1u << (EntryOp(e) & 15)) - 1))];
    if (EntryLength(e) <= FInput.BitCount()) {
      aEntry = e;
      return true;
    }
    if (!FInput.NeedBits(FInput.BitCount() + 8)) return false;
  }
}

void TclInflater::CopyMatch(uint32_t aLength, uint32_t aDistance) {
  TclOutputWindow& w = FOutputWindow;
  uint8_t* win = w.FWindow.data();
  uint32_t end = w.FWindowEnd;
  for (uint32_t i = 0; i < aLength; ++i, end = (end + 1) & TclOutputWindow::RingMask)
    win[end] = win[(end - aDistance) & TclOutputWindow::RingMask];
  w.FWindowEnd = end;
  w.FWindowFilled += aLength;
  w.FHistory = std::min(TclOutputWindow::WindowSize, w.FHistory + aLength);
}

// The resumable path of a Huffman block: one symbol at a time, stopping at any bit.
bool TclInflater::DecodeCodes() {
  TclOutputWindow& w = FOutputWindow;
  for (;;) {
    uint32_t e;
    switch (FMode) {
      case imCodes: {
        if (w.FreeSpace() < MaxMatch) return false;
        DecodeFast();
        if (FMode != imCodes) return true;
        if (w.FreeSpace() < MaxMatch) return false;
        if (!DecodeSymbol(*FLitlenTree, e)) return false;
        FInput.DropBits(EntryLength(e));
        uint32_t op = EntryOp(e);
        if (op & Table::opLiteral) {
          w.FWindow[w.FWindowEnd] = uint8_t(EntryValue(e));
          w.FWindowEnd = (w.FWindowEnd + 1) & TclOutputWindow::RingMask;
          w.FWindowFilled++;
          w.FHistory = std::min(TclOutputWindow::WindowSize, w.FHistory + 1);
          continue;
        }
        if (op & Table::opEnd) {
          EndBlock();
          return true;
        }
        if (!(op & Table::opBase)) throw EclZLibError(zeUnknownError);
        FRepLength = EntryValue(e);
        FNeededBits = op & 15;
        FMode = imLengthExtra;
        [[fallthrough]];
      }
      case imLengthExtra:
        if (!FInput.NeedBits(FNeededBits)) return false;
        FRepLength += FInput.TakeBits(FNeededBits);
        FMode = imDistance;
        [[fallthrough]];
      case imDistance: {
        if (!DecodeSymbol(*FDistTree, e)) return false;
        FInput.DropBits(EntryLength(e));
        if (!(EntryOp(e) & Table::opBase)) throw EclZLibError(zeUnknownError);
        FRepDist = EntryValue(e);
        FNeededBits = EntryOp(e) & 15;
        FMode = imDistanceExtra;
        [[fallthrough]];
      }
      case imDistanceExtra:
        if (!FInput.NeedBits(FNeededBits)) return false;
        FRepDist += FInput.TakeBits(FNeededBits);
        if (FRepDist > w.FHistory) throw EclZLibError(zeInvalidOperation);  // before the data began
        CopyMatch(FRepLength, FRepDist);
        FMode = imCodes;
        break;
      default:
        throw EclZLibError(zeUnknownMode);
    }
  }
}

// The fast loop: runs while at least 8 input bytes and room for a longest match (plus the
// overrun of 8-byte copies) exist, so that each symbol is decoded with one refill of a 64-bit
// bit buffer and no bound checks in between.
void TclInflater::DecodeFast() {
  constexpr uint32_t RingSize = TclOutputWindow::RingSize, RingMask = TclOutputWindow::RingMask;
  constexpr uint32_t WindowSize = TclOutputWindow::WindowSize;
  TclOutputWindow& w = FOutputWindow;
  uint8_t* const win = w.FWindow.data();
  const uint32_t* const lit = FLitlenTree->Entries.data();
  const uint32_t* const dist = FDistTree->Entries.data();
  const uint64_t litMask = (1u << FLitlenTree->RootBits) - 1, distMask = (1u << FDistTree->RootBits) - 1;
  const unsigned litRoot = FLitlenTree->RootBits, distRoot = FDistTree->RootBits;

  const uint8_t* in = FInput.FNext;
  const uint8_t* const inEnd = FInput.FEnd;
  uint64_t bits = FInput.FBits;
  unsigned bitCount = FInput.FBitCount;
  uint32_t end = w.FWindowEnd, filled = w.FWindowFilled;
  const uint32_t filledAtStart = filled, historyAtStart = w.FHistory;
  bool blockEnded = false;

  auto save = [&] {
    FInput.FNext = in;
    FInput.FBitCount = bitCount;
    FInput.FBits = bitCount < 64 ? bits & ((uint64_t(1) << bitCount) - 1) : bits;
    w.FWindowEnd = end & RingMask;
    w.FWindowFilled = filled;
    w.FHistory = std::min<uint32_t>(WindowSize, historyAtStart + (filled - filledAtStart));
  };

  while (inEnd - in >= 8 && end <= RingSize - MaxMatch && filled <= WindowSize - MaxMatch) {
    bits |= Load64(in) << bitCount;
    in += (63 - bitCount) >> 3;
    bitCount |= 56;

    uint32_t e = lit[bits & litMask];
    if (EntryOp(e) & Table::opLink)
      e = lit[EntryValue(e) + ((bits >> litRoot) & ((1u << (EntryOp(e) & 15)) - 1))];
    bits >>= EntryLength(e);
    bitCount -= EntryLength(e);
    uint32_t op = EntryOp(e);
    if (op & Table::opLiteral) {
      win[end++] = uint8_t(EntryValue(e));
      filled++;
      // A second literal fits in the bits left after one refill.
      e = lit[bits & litMask];
      if (EntryOp(e) & Table::opLiteral) {
        bits >>= EntryLength(e);
        bitCount -= EntryLength(e);
        win[end++] = uint8_t(EntryValue(e));
        filled++;
      }
      continue;
    }
    if (!(op & Table::opBase)) {
      save();
      if (op & Table::opEnd) {
        blockEnded = true;
        break;
      }
      throw EclZLibError(zeUnknownError);
    }
    uint32_t extra = op & 15;
    uint32_t length = EntryValue(e) + uint32_t(bits & ((1u << extra) - 1));
    bits >>= extra;
    bitCount -= extra;

    e = dist[bits & distMask];
    if (EntryOp(e) & Table::opLink)
      e = dist[EntryValue(e) + ((bits >> distRoot) & ((1u << (EntryOp(e) & 15)) - 1))];
    bits >>= EntryLength(e);
    bitCount -= EntryLength(e);
    op = EntryOp(e);
    if (!(op & Table::opBase)) {
      save();
      throw EclZLibError(zeUnknownError);
    }
    extra = op & 15;
    uint32_t distance = EntryValue(e) + uint32_t(bits & ((1u << extra) - 1));
    bits >>= extra;
    bitCount -= extra;
    if (distance > historyAtStart + (filled - filledAtStart)) {
      save();
      throw EclZLibError(zeInvalidOperation);
    }

    uint32_t from = (end - distance) & RingMask;
    uint8_t* d = win + end;
    if (from + length > RingSize) {  // the match wraps around the ring's end
      for (uint32_t i = 0; i < length; ++i) d[i] = win[(from + i) & RingMask];
    } else if (distance >= 8) {
      const uint8_t* s = win + from;
      uint8_t* const stop = d + length;
      do {
        std::memcpy(d, s, 8);
        d += 8;
        s += 8;
      } while (d < stop);
    } else if (distance == 1) {
      std::memset(d, win[from], length);
    } else {
      const uint8_t* s = win + from;
      for (uint32_t i = 0; i < length; ++i) d[i] = s[i];
    }
    end += length;
    filled += length;
  }
  if (blockEnded) {
    EndBlock();
  } else {
    save();
  }
}
