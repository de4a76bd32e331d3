#include "http/clZLibStreams.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "tests/support/ZLibReference.h"
#include "tests/support/TestSupport.h"

namespace {

std::string Le32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

// A gzip member with every optional header field.
std::string FullHeaderMember(const std::string& aData) {
  const uint8_t flags = 2 | 4 | 8 | 16;
  std::string extra = "AB\x04\x00zent";
  std::string m = std::string("\x1f\x8b\x08", 3) + char(flags) + std::string("\x01\x02\x03\x04\x00\x03", 6);
  m += char(extra.size()) + std::string(1, '\0') + extra;
  m += std::string("弹幕 comments.xml") + '\0';
  m += std::string("a comment") + '\0';
  m += "\x12\x34";
  m += zlibref::Compress(aData, 6, -15);
  m += Le32(crc32(0, reinterpret_cast<const Bytef*>(aData.data()), uInt(aData.size()))) + Le32(uint32_t(aData.size()));
  return m;
}

// Writes aGzip in pieces whose sizes aNextPiece chooses; returns what reached the destination.
std::string Decode(const std::string& aGzip, const std::function<size_t()>& aNextPiece) {
  TMemoryStream dest;
  TclGZipInflateStream stream(&dest);
  for (size_t pos = 0; pos < aGzip.size();) {
    size_t n = std::min(aNextPiece(), aGzip.size() - pos);
    EXPECT_EQ(stream.Write(aGzip.data() + pos, int64_t(n)), int64_t(n));
    pos += n;
  }
  EXPECT_EQ(stream.Position(), int64_t(aGzip.size()));
  return dest.Data();
}

std::string DecodeWhole(const std::string& aGzip) {
  return Decode(aGzip, [&] { return aGzip.size(); });
}

int32_t WriteError(const std::string& aGzip, TMemoryStream& aDest) {
  TclGZipInflateStream stream(&aDest);
  try {
    stream.Write(aGzip.data(), int64_t(aGzip.size()));
  } catch (const EclZLibError& e) {
    return e.ErrorCode();
  }
  return 0;
}

}  // namespace

TEST(TclGZipInflateStream, OutputDoesNotDependOnHowTheInputIsSplit) {
  const std::string small = zlibref::MixedBinary(3000), large = zlibref::MixedBinary(300000);
  const std::string inputs[] = {FullHeaderMember(small), zlibref::Compress(small, 9, 31), FullHeaderMember(large),
                                zlibref::Compress(large, 1, 31)};
  const std::string expected[] = {small, small, large, large};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(zvtest::SameBytes(DecodeWhole(inputs[i]), expected[i])) << i;
    EXPECT_TRUE(zvtest::SameBytes(Decode(inputs[i], [] { return size_t(1); }), expected[i])) << i;
    for (unsigned seed = 1; seed <= 5; ++seed) {
      std::mt19937 rng(seed);
      EXPECT_TRUE(zvtest::SameBytes(Decode(inputs[i], [&] { return size_t(1 + rng() % (seed * 7)); }), expected[i]))
          << i << " seed " << seed;
    }
  }
  // Every single cut point of the small member, header name and trailer included.
  for (size_t cut = 1; cut < inputs[0].size(); ++cut) {
    bool first = true;
    ASSERT_EQ(Decode(inputs[0], [&] { return std::exchange(first, false) ? cut : inputs[0].size(); }), small) << cut;
  }
}

TEST(TclGZipInflateStream, DestinationGetsPiecesOfAtMost16K) {
  struct TRecorder : TMemoryStream {
    int64_t Largest = 0;
    int64_t Write(const void* aBuffer, int64_t aCount) override {
      Largest = std::max(Largest, aCount);
      return TMemoryStream::Write(aBuffer, aCount);
    }
  } dest;
  std::string data = zlibref::XmlText(200000);
  std::string gz = zlibref::Compress(data, 6, 31);
  TclGZipInflateStream stream(&dest);
  stream.Write(gz.data(), int64_t(gz.size()));
  EXPECT_TRUE(zvtest::SameBytes(dest.Data(), data));
  EXPECT_EQ(dest.Largest, 16384);
}

TEST(TclGZipInflateStream, TrailerChecksAfterAllOutputWasWritten) {
  std::string data = zlibref::XmlText(70000);
  std::string gz = zlibref::Compress(data, 6, 31);
  std::string badCrc = gz, badSize = gz;
  badCrc[gz.size() - 8] ^= 0x40;
  badSize[gz.size() - 1] ^= 0x01;
  TMemoryStream dest1, dest2, dest3;
  EXPECT_EQ(WriteError(badCrc, dest1), zeInvalidCrc);
  EXPECT_TRUE(zvtest::SameBytes(dest1.Data(), data));
  EXPECT_EQ(WriteError(badSize, dest2), zeInvalidDataSize);
  // Ends before the trailer: the decoded bytes are there and nothing is raised.
  EXPECT_EQ(WriteError(gz.substr(0, gz.size() - 5), dest3), 0);
  EXPECT_TRUE(zvtest::SameBytes(dest3.Data(), data));
}

TEST(TclGZipInflateStream, DamagedDeflateDataRaisesTheDecoderError) {
  TMemoryStream dest;
  std::string gz = std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) + "\x07";
  EXPECT_EQ(WriteError(gz, dest), zeUnknownBlockType);
}

TEST(TclGZipInflateStream, ConcatenatedMembersAndTrailingBytes) {
  std::string a = zlibref::XmlText(40000, 4), b = zlibref::RandomBytes(1000);
  std::string gz = zlibref::Compress(a, 6, 31) + FullHeaderMember(b);
  EXPECT_TRUE(zvtest::SameBytes(DecodeWhole(gz), a + b));
  EXPECT_TRUE(zvtest::SameBytes(Decode(gz, [] { return size_t(3); }), a + b));
  // Padding after the last member is not a member and is left alone.
  EXPECT_TRUE(zvtest::SameBytes(DecodeWhole(gz + std::string(20, '\0')), a + b));
}

TEST(TclGZipInflateStream, StreamOperations) {
  TMemoryStream dest;
  TclGZipInflateStream stream(&dest);
  EXPECT_EQ(stream.Position(), 0);  // an empty body: nothing written, nothing raised
  EXPECT_EQ(dest.Data(), "");
  std::string gz = zlibref::Compress("hello", 6, 31);
  stream.Write(gz.data(), 4);
  EXPECT_EQ(stream.Seek(0, soCurrent), 4);
  EXPECT_EQ(stream.Seek(4, soBeginning), 4);
  char buf[4];
  EXPECT_EQ(stream.Read(buf, 4), 0);
  for (auto [offset, origin] : {std::pair{0, soBeginning}, {1, soCurrent}, {-1, soEnd}}) {
    try {
      stream.Seek(offset, origin);
      ADD_FAILURE() << "seek accepted";
    } catch (const EclZLibError& e) {
      EXPECT_EQ(e.ErrorCode(), zeInvalidStreamOperation);
      EXPECT_STREQ(e.what(), "Invalid Stream operation");
    }
  }
  EXPECT_THROW(TclGZipInflateStream(nullptr), EclAssertionError);
}
