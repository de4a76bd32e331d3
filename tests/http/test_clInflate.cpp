#include "http/clInflate.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "tests/support/ZLibReference.h"
#include "tests/support/TestSupport.h"

namespace {

std::span<const uint8_t> Bytes(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

// Feeds aData in pieces of aInChunk and pulls output in pieces of aOutChunk until the end.
std::string InflateAll(TclInflater& aInflater, const std::string& aData, size_t aInChunk, size_t aOutChunk) {
  std::string out;
  std::vector<uint8_t> buf(aOutChunk);
  size_t pos = 0;
  while (!aInflater.IsFinished()) {
    if (aInflater.IsNeedingInput()) {
      if (pos == aData.size()) break;
      size_t n = std::min(aInChunk, aData.size() - pos);
      aInflater.SetInput(Bytes(aData).subspan(pos, n));
      pos += n;
    }
    int64_t got = aInflater.Inflate(buf);
    out.append(reinterpret_cast<char*>(buf.data()), size_t(got));
    if (got == 0 && aInflater.IsNeedingDictionary()) break;
    if (got == 0 && !aInflater.IsNeedingInput() && !aInflater.IsFinished()) {
      ADD_FAILURE() << "no progress with input left";
      break;
    }
  }
  return out;
}

// LSB-first bit writer for hand-made DEFLATE data.
struct TBitWriter {
  std::string Out;
  uint32_t Acc = 0, Count = 0;
  TBitWriter& Put(uint32_t aValue, unsigned aBits) {
    for (unsigned i = 0; i < aBits; ++i) {
      Acc |= ((aValue >> i) & 1) << Count;
      if (++Count == 8) {
        Out += char(Acc);
        Acc = Count = 0;
      }
    }
    return *this;
  }
  std::string Finish() { return Count ? Out + char(Acc) : Out; }
};

int32_t ErrorOf(const std::function<void()>& aAction) {
  try {
    aAction();
  } catch (const EclZLibError& e) {
    EXPECT_EQ(e.what(), EclZLibError::MessageOf(TclZLibErrorCode(e.ErrorCode())));
    return e.ErrorCode();
  }
  return 0;
}

struct TDataSet {
  const char* Name;
  std::string Data;
};

const std::vector<TDataSet>& DataSets() {
  static const std::vector<TDataSet> sets = {
      {"empty", ""},
      {"one byte", "x"},
      {"xml", zlibref::XmlText(300000)},
      {"random", zlibref::RandomBytes(70000)},
      {"mixed", zlibref::MixedBinary(400000)},
      {"long run", std::string(200000, 'a') + "b" + std::string(70000, '\0')},
      {"compressed", zlibref::Compress(zlibref::XmlText(200000, 9), 9, 31)},
  };
  return sets;
}

}  // namespace

TEST(TclInflater, RawDataMatchesZlibAtEveryLevelAndStrategy) {
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  for (const auto& set : DataSets())
    for (int level = 0; level <= 9; ++level)
      for (int strategy : strategies) {
        if (level != 6 && strategy != Z_DEFAULT_STRATEGY) continue;
        std::string packed = zlibref::Compress(set.Data, level, -15, strategy);
        TclInflater inflater(true);
        std::string out = InflateAll(inflater, packed, 65536, 16384);
        ASSERT_TRUE(zvtest::SameBytes(out, set.Data)) << set.Name << " level " << level << " strategy " << strategy;
        EXPECT_TRUE(inflater.IsFinished());
        EXPECT_EQ(inflater.TotalOut(), int64_t(set.Data.size()));
        EXPECT_EQ(inflater.TotalIn(), int64_t(packed.size()));
      }
}

TEST(TclInflater, OutputDoesNotDependOnInputOrOutputPieces) {
  const std::pair<size_t, size_t> pieces[] = {{1, 1}, {1, 16384}, {3, 257}, {7, 300}, {4096, 1}, {100000, 33000}};
  for (const auto& set : DataSets()) {
    std::string data = set.Data.substr(0, 40000);
    for (int level : {1, 9}) {
      std::string packed = zlibref::Compress(data, level, -15);
      for (auto [in, out] : pieces) {
        TclInflater inflater(true);
        ASSERT_TRUE(zvtest::SameBytes(InflateAll(inflater, packed, in, out), data)) << set.Name << " in " << in << " out " << out;
      }
    }
  }
}

TEST(TclInflater, StopsAtTheEndOfTheDeflateDataAndLeavesTheRest) {
  std::string data = zlibref::XmlText(50000);
  std::string packed = zlibref::Compress(data, 6, -15) + "TRAILER!";
  TclInflater inflater(true);
  inflater.SetInput(Bytes(packed));
  std::vector<uint8_t> buf(100000);
  EXPECT_EQ(inflater.Inflate(buf), int64_t(data.size()));
  EXPECT_TRUE(inflater.IsFinished());
  EXPECT_EQ(inflater.RemainingInput(), 8);
}

TEST(TclInflater, ZlibFormWithChecksum) {
  std::string data = zlibref::MixedBinary(100000);
  std::string packed = zlibref::Compress(data, 6, 15);
  for (size_t piece : {size_t(1), size_t(5000), packed.size()}) {
    TclInflater inflater;
    EXPECT_TRUE(zvtest::SameBytes(InflateAll(inflater, packed, piece, 999), data));
    EXPECT_TRUE(inflater.IsFinished());
    EXPECT_EQ(inflater.Adler(), adler32(1, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
  }
}

TEST(TclInflater, PresetDictionary) {
  std::string dict = "<d p=\"0,1,25,16777215,0\">弹幕</d>" + zlibref::XmlText(5000, 7);
  std::string data = zlibref::XmlText(30000, 7);
  std::string packed = zlibref::Compress(data, 9, 15, Z_DEFAULT_STRATEGY, dict);

  TclInflater inflater;
  std::vector<uint8_t> buf(65536);
  EXPECT_EQ(ErrorOf([&] { inflater.SetDictionary(Bytes(dict)); }), zeInvalidOperation);
  inflater.SetInput(Bytes(packed));
  EXPECT_EQ(inflater.Inflate(buf), 0);
  ASSERT_TRUE(inflater.IsNeedingDictionary());
  EXPECT_EQ(inflater.Adler(), adler32(1, reinterpret_cast<const Bytef*>(dict.data()), uInt(dict.size())));
  EXPECT_EQ(ErrorOf([&] { inflater.SetDictionary(Bytes(dict), 1, int64_t(dict.size()) - 1); }), zeAdlerMismatch);
  inflater.SetDictionary(Bytes(dict));
  std::string out;
  while (int64_t n = inflater.Inflate(buf)) out.append(reinterpret_cast<char*>(buf.data()), size_t(n));
  EXPECT_TRUE(zvtest::SameBytes(out, data));
  EXPECT_TRUE(inflater.IsFinished());

  // Raw data that reaches into a dictionary it was not given refers to bytes before its start.
  std::string raw = zlibref::Compress(data, 9, -15, Z_DEFAULT_STRATEGY, dict);
  TclInflater rawInflater(true);
  EXPECT_EQ(ErrorOf([&] { InflateAll(rawInflater, raw, raw.size(), 65536); }), zeInvalidOperation);
}

TEST(TclInflater, DamagedInputRaisesItsCode) {
  // A code-length code of two one-bit codes: symbol 0 is "0", the repeat symbol 16 or 18 is "1".
  auto dynamicHeader = [](unsigned aRepeatSymbol) {
    TBitWriter w;
    w.Put(1, 1).Put(2, 2).Put(0, 5).Put(0, 5).Put(aRepeatSymbol == 16 ? 0 : 0, 4);
    // Order of code-length lengths: 16, 17, 18, 0.
    w.Put(aRepeatSymbol == 16 ? 1 : 0, 3).Put(0, 3).Put(aRepeatSymbol == 18 ? 1 : 0, 3).Put(1, 3);
    return w;
  };
  std::string zlibData = zlibref::Compress(zlibref::XmlText(3000), 6, 15);
  std::string badAdler = zlibData;
  badAdler.back() ^= 1;
  uint8_t method7 = 0x77, flg = 0;
  while ((method7 * 256 + flg) % 31) ++flg;

  struct TCase {
    const char* Name;
    bool NoHeader;
    std::string Data;
    int32_t Code;
  } cases[] = {
      {"block type 3", true, "\x07", zeUnknownBlockType},
      {"stored length and complement disagree", true, std::string("\x01\x05\x00\x00\x00hello", 10), zeBrokenStoredBlock},
      {"repeat of the previous length first", true, dynamicHeader(16).Put(1, 1).Put(0, 2).Finish(), zeUnknownError},
      {"repeat past the announced lengths", true, dynamicHeader(18).Put(1, 1).Put(127, 7).Put(1, 1).Put(127, 7).Finish(),
       zeUnknownError},
      {"zlib header check", false, "\x78\x9d", zeHeaderChecksum},
      {"zlib method", false, std::string{char(method7), char(flg)}, zeUnknownMethod},
      {"zlib checksum", false, badAdler, zeAdlerMismatch},
  };
  for (const auto& c : cases)
    for (size_t piece : {size_t(1), c.Data.size()}) {
      TclInflater inflater(c.NoHeader);
      EXPECT_EQ(ErrorOf([&] { InflateAll(inflater, c.Data, piece, 1000); }), c.Code) << c.Name;
    }
}

TEST(TclInflater, ArgumentAndStateChecks) {
  std::string packed = zlibref::Compress("some text some text", 6, -15);
  std::vector<uint8_t> buf(100);
  TclInflater inflater(true);
  EXPECT_EQ(ErrorOf([&] { inflater.SetInput(Bytes(packed), -1, 2); }), zeArgumentOutOfRange);
  EXPECT_EQ(ErrorOf([&] { inflater.SetInput(Bytes(packed), 1, int64_t(packed.size())); }), zeArgumentOutOfRange);
  EXPECT_EQ(ErrorOf([&] { inflater.Inflate(buf, 0, -1); }), zeArgumentOutOfRange);
  inflater.SetInput(Bytes(packed));
  EXPECT_EQ(ErrorOf([&] { inflater.SetInput(Bytes(packed)); }), zeOldInputNotProcessed);
  EXPECT_EQ(inflater.Inflate(buf, 10, 5), 5);
  EXPECT_EQ(std::string(buf.begin() + 10, buf.begin() + 15), "some ");

  inflater.Reset();
  EXPECT_EQ(inflater.TotalOut(), 0);
  EXPECT_EQ(InflateAll(inflater, packed, 4, 4), "some text some text");
}

TEST(TclChecksums, MatchTheStandardValues) {
  std::string data = zlibref::MixedBinary(10007);
  const auto* p = reinterpret_cast<const uint8_t*>(data.data());
  TclCrc32 crc;
  TclAdler32 adler;
  crc.Update(p, 5);
  crc.Update(p + 5, data.size() - 5);
  adler.Update(p, data.size());
  EXPECT_EQ(crc.Value(), crc32(0, p, uInt(data.size())));
  EXPECT_EQ(adler.Value(), adler32(1, p, uInt(data.size())));
  crc.Reset();
  crc.Update(uint8_t('a'));
  EXPECT_EQ(crc.Value(), 0xE8B7BE43u);
}
