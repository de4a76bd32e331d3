// Reading and writing FLV headers and tags through the library's exported operations.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "flvbind/FLVLib.h"
#include "flvbind/FileReadAble.h"
#include "flvbind/FileWriteAble.h"
#include "flvbind/FlvErrors.h"
#include "tests/flvbind/FlvTestFiles.h"
#include "tests/support/TestSupport.h"

using namespace flvtest;

namespace {

struct TReader {
  explicit TReader(const std::string& aPath) : Handle(CreateFileReadAble(aPath.c_str())) {}
  ~TReader() { DeleteFileReadAble(Handle); }
  FileReadAble* Handle;
};

// A tag record that is freed at the end of the test.
struct TTagRecord : FlvTagRecord {
  TTagRecord() : FlvTagRecord{} {}
  ~TTagRecord() { Flv_FreeTag(this); }
};

bool IsZeroed(const FlvTagRecord& aTag) {
  FlvTagRecord zero{};
  return std::memcmp(&aTag, &zero, sizeof zero) == 0;
}

class FlvReader : public ::testing::Test {
protected:
  // Writes aBytes to a file and opens it.
  FileReadAble* Open(const std::string& aBytes) {
    zvtest::WriteFile(FDir.File("in.flv"), aBytes);
    FReader = std::make_unique<TReader>(FDir.File("in.flv"));
    return FReader->Handle;
  }
  // Reads the header and the first tag of a file with aData as its only tag.
  const FlvTagRecord& FirstTag(uint8_t aType, const std::string& aData) {
    FileReadAble* r = Open(Header() + Tag(aType, 0, aData));
    FlvHeaderRecord h;
    EXPECT_EQ(Flv_ReadHeader(r, &h), 1);
    EXPECT_EQ(Flv_ReadTag(r, 1, &FTag), 1);
    return FTag;
  }
  zvtest::TempDir FDir;
  std::unique_ptr<TReader> FReader;
  TTagRecord FTag;
};

TEST_F(FlvReader, HeaderNeedsTheSignatureAndDecodesTheFlags) {
  struct {
    std::string Bytes;
    int Result, Version, HasVideo, HasAudio;
  } cases[] = {
      {Header(5), 1, 1, 1, 1},
      {Header(1), 1, 1, 1, 0},
      {Header(4), 1, 1, 0, 1},
      {Header(0xFA), 1, 1, 0, 0},  // only bits 0 and 2 count
      {"FLX" + Header().substr(3), 0, 0, 0, 0},
      {"XLV" + Header().substr(3), 0, 0, 0, 0},
      {"FL", 0, 0, 0, 0},
      {"", 0, 0, 0, 0},
      {Header().substr(0, 11), 0, 0, 0, 0},  // PreviousTagSize0 cut short
  };
  for (const auto& c : cases) {
    FlvHeaderRecord h{};
    EXPECT_EQ(Flv_ReadHeader(Open(c.Bytes), &h), c.Result) << ::testing::PrintToString(c.Bytes);
    if (c.Result) {
      EXPECT_EQ((std::vector<int>{h.version, h.hasVideo, h.hasAudio}), (std::vector<int>{c.Version, c.HasVideo, c.HasAudio}));
    }
  }
}

TEST_F(FlvReader, TagsStartAfterALargerDataOffset) {
  FileReadAble* r = Open(Header(5, 20) + Audio(7) + Video(9));
  FlvHeaderRecord h;
  ASSERT_EQ(Flv_ReadHeader(r, &h), 1);
  ASSERT_EQ(Flv_ReadTag(r, 1, &FTag), 1);
  EXPECT_EQ(FTag.filePosition, 24);
  EXPECT_EQ(FTag.type, 8);
  EXPECT_EQ(FTag.timestamp, 7u);
}

TEST_F(FlvReader, ReadsTheWholeTagAsStoredAndTheExtendedTimestamp) {
  const std::string tag = Tag(9, 0x12345678, "\x17payload", 0xABCDEF);
  FileReadAble* r = Open(Header() + tag);
  FlvHeaderRecord h;
  ASSERT_EQ(Flv_ReadHeader(r, &h), 1);
  ASSERT_EQ(Flv_ReadTag(r, 1, &FTag), 1);
  EXPECT_EQ(FTag.timestamp, 0x12345678u);
  EXPECT_EQ(FTag.streamId, 0xABCDEF);
  EXPECT_EQ(FTag.dataSize, 8);
  EXPECT_EQ(FTag.rawSize, 23);
  EXPECT_EQ(FTag.filePosition, 13);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(FTag.rawBuffer), FTag.rawSize), tag);
  EXPECT_EQ(FTag.data, FTag.rawBuffer + 11);
}

TEST_F(FlvReader, ACutLastTagOrAMissingPreviousTagSizeEndsTheFile) {
  const std::string whole = Header() + Audio(0) + Video(40);
  for (size_t cut : {1, 4, 20, 50}) {
    FileReadAble* r = Open(whole.substr(0, whole.size() - cut));
    FlvHeaderRecord h;
    ASSERT_EQ(Flv_ReadHeader(r, &h), 1);
    TTagRecord first, second;
    EXPECT_EQ(Flv_ReadTag(r, 1, &first), 1);
    EXPECT_EQ(first.type, 8);
    EXPECT_EQ(Flv_ReadTag(r, 1, &second), 0) << cut;
    EXPECT_TRUE(IsZeroed(second));
    EXPECT_EQ(Flv_ReadTag(r, 0, &second), 0);  // also without data
  }
}

TEST_F(FlvReader, WithoutDataOnlyTheHeaderFieldsAreFilled) {
  FileReadAble* r = Open(Header() + Video(40, 100) + Video(50, 100000) + Audio(60));
  FlvHeaderRecord h;
  ASSERT_EQ(Flv_ReadHeader(r, &h), 1);
  ASSERT_EQ(Flv_ReadTag(r, 0, &FTag), 1);
  EXPECT_EQ(FTag.type, 9);
  EXPECT_EQ(FTag.dataSize, 100);
  EXPECT_EQ(FTag.rawSize, 115);
  EXPECT_EQ(FTag.rawBuffer, nullptr);
  EXPECT_EQ(FTag.data, nullptr);
  EXPECT_EQ(FTag.info.video.codecId, 0);
  // Small data is passed over through the read buffer, large data by seeking: both land on the next tag.
  TTagRecord large, next;
  ASSERT_EQ(Flv_ReadTag(r, 0, &large), 1);
  EXPECT_EQ(large.filePosition, 13 + 115);
  ASSERT_EQ(Flv_ReadTag(r, 1, &next), 1);
  EXPECT_EQ(next.timestamp, 60u);
  EXPECT_EQ(next.filePosition, 13 + 115 + 100015);
}

TEST_F(FlvReader, DecodesAudioStreamInformation) {
  const FlvTagRecord& t = FirstTag(8, "\x2E" "abc");
  EXPECT_EQ(t.info.audio.soundFormat, 2);
  EXPECT_EQ(t.info.audio.soundRate, 3);
  EXPECT_EQ(t.info.audio.soundSize, 1);
  EXPECT_EQ(t.info.audio.soundType, 0);
  EXPECT_EQ(t.info.audio.payload, t.rawBuffer + 12);
  EXPECT_EQ(t.info.audio.payloadSize, 3);
}

// Sorenson H.263 picture header: start code, version, temporal reference, size code, sizes.
std::string Sorenson(int aSizeCode, int aWidth = 0, int aHeight = 0) {
  std::vector<bool> bits;
  auto put = [&](uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) bits.push_back((v >> i) & 1);
  };
  put(1, 17);
  put(0, 5);
  put(0x5A, 8);
  put(aSizeCode, 3);
  int sizeBits = aSizeCode == 0 ? 8 : aSizeCode == 1 ? 16 : 0;
  put(aWidth, sizeBits);
  put(aHeight, sizeBits);
  bits.resize(80, false);
  std::string packet(10, '\0');
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i]) packet[i / 8] |= static_cast<char>(0x80 >> (i % 8));
  return "\x22" + packet;
}

TEST_F(FlvReader, DecodesVideoSizesOfEveryCodec) {
  struct {
    std::string Data;
    int Codec, Width, Height;
  } cases[] = {
      {Sorenson(0, 176, 144), 2, 176, 144},
      {Sorenson(1, 1280, 720), 2, 1280, 720},
      {Sorenson(2), 2, 352, 288},
      {Sorenson(3), 2, 176, 144},
      {Sorenson(4), 2, 128, 96},
      {Sorenson(5), 2, 320, 240},
      {Sorenson(6), 2, 160, 120},
      {Sorenson(7), 2, 0, 0},
      {std::string("\x13\x31\x40\x20\xF0", 5), 3, 0x140, 0x0F0},  // block size bits ignored
      {std::string("\x16\x11\x40\x00\xF0", 5), 6, 0x140, 0x0F0},
      {std::string("\x14\x35\x00\x00\x0A\x14rest", 10), 4, 317, 155},
      {std::string("\x15\x00\x00\x00\x04\x00\x00\x02\x03", 9) + "abcdXY", 5, 48, 32},
      {"\x17\x01rest", 7, 0, 0},
      {"\x12\x00", 2, 0, 0},  // too short for a picture header
  };
  for (const auto& c : cases) {
    const FlvTagRecord& t = FirstTag(9, c.Data);
    EXPECT_EQ((std::vector<int>{t.info.video.codecId, t.info.video.width, t.info.video.height}),
              (std::vector<int>{c.Codec, c.Width, c.Height}))
        << ::testing::PrintToString(c.Data);
    EXPECT_EQ(t.info.video.frameType, static_cast<uint8_t>(c.Data[0]) >> 4);
    EXPECT_EQ(t.info.video.body, t.rawBuffer + 12);
    EXPECT_EQ(t.info.video.bodySize, static_cast<int>(c.Data.size()) - 1);
    Flv_FreeTag(&FTag);
  }
}

TEST_F(FlvReader, PointsAtTheVp6PayloadAndAlphaData) {
  const FlvTagRecord& vp6 = FirstTag(9, std::string("\x14\x35\x00\x00\x0A\x14rest", 10));
  EXPECT_EQ(vp6.info.video.hAdjust, 3);
  EXPECT_EQ(vp6.info.video.vAdjust, 5);
  EXPECT_EQ(vp6.info.video.codecData, vp6.rawBuffer + 13);
  EXPECT_EQ(vp6.info.video.codecDataSize, 8);
  Flv_FreeTag(&FTag);

  const FlvTagRecord& alpha = FirstTag(9, std::string("\x15\x00\x00\x00\x04\x00\x00\x02\x03", 9) + "abcdXY");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(alpha.info.video.codecData), alpha.info.video.codecDataSize),
            std::string("\x00\x00\x02\x03", 4));
  EXPECT_EQ(alpha.info.video.codecData, alpha.rawBuffer + 16);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(alpha.info.video.alphaData), alpha.info.video.alphaDataSize),
            "abcdXY");
}

TEST(FlvWriter, WritesTheHeaderAndTagsAsStored) {
  zvtest::TempDir dir;
  const std::string path = dir.File("out.flv");
  const std::string tag = Tag(8, 0x01020304, "\xAF" "data", 7);
  zvtest::WriteFile(dir.File("in.flv"), Header() + tag);
  FileWriteAble* w = CreateFileWriteAble(path.c_str());
  ASSERT_NE(w, nullptr);
  FlvHeaderRecord header{1, 1, 0};
  EXPECT_EQ(Flv_WriteHeader(w, &header), 1);
  FileReadAble* r = CreateFileReadAble(dir.File("in.flv").c_str());
  FlvHeaderRecord h;
  TTagRecord t;
  ASSERT_EQ(Flv_ReadHeader(r, &h), 1);
  ASSERT_EQ(Flv_ReadTag(r, 1, &t), 1);
  EXPECT_EQ(Flv_WriteTag(w, &t), 1);
  TTagRecord empty;
  EXPECT_EQ(Flv_WriteTag(w, &empty), 0);
  DeleteFileReadAble(r);
  DeleteFileWritable(w);
  EXPECT_EQ(zvtest::ReadFile(path), std::string("FLV\x01\x01\0\0\0\x09\0\0\0\0", 13) + tag);
  DeleteFileWritable(nullptr);
  DeleteFileReadAble(nullptr);
  EXPECT_EQ(CreateFileReadAble(dir.File("missing").c_str()), nullptr);
  EXPECT_EQ(CreateFileWriteAble(dir.File("no/such/folder").c_str()), nullptr);
}

TEST(FlvWriter, KeepsTheOrderOfBufferedAndLargeWrites) {
  zvtest::TempDir dir;
  std::string expected;
  {
    auto w = FileWriteAble::Create(dir.File("out"));
    ASSERT_TRUE(w);
    for (size_t size : {5u, 70000u, 3u, (1u << 20) - 4, 9u, (1u << 20) + 7, 1u}) {
      std::string piece(size, static_cast<char>('a' + expected.size() % 26));
      w->Write(piece.data(), static_cast<int64_t>(piece.size()));
      expected += piece;
    }
    EXPECT_EQ(w->Tell(), static_cast<int64_t>(expected.size()));
    w->Write("tail", 4);
    expected += "tail";
    ASSERT_EQ(FlushFileWriteAble(w.get()), 1);
    EXPECT_EQ(zvtest::ReadFile(dir.File("out")), expected);
  }
  EXPECT_EQ(FlushFileWriteAble(nullptr), 0);
}

TEST(FlvWriter, BuildsADataTag) {
  const std::string data = "payload";
  EXPECT_EQ(FlvMuplex_WriteDataTag(nullptr, reinterpret_cast<const uint8_t*>(data.data()), 7, 0, 18), 29);
  EXPECT_EQ(FlvMuplex_GetMaxFrameSize(7), 27);
  std::string buffer(27, '\0');
  int32_t n = FlvMuplex_WriteDataTag(reinterpret_cast<uint8_t*>(buffer.data()),
                                     reinterpret_cast<const uint8_t*>(data.data()), 7, 0x05060708, 18);
  EXPECT_EQ(n, 22);
  EXPECT_EQ(buffer.substr(0, n), Tag(18, 0x05060708, data));
}

// Positions past 2 GiB and 4 GiB, on sparse files.
TEST(FlvLargeFiles, ReadsAndScansTagsBeyondTwoGiB) {
  zvtest::TempDir dir;
  const std::string path = dir.File("big.flv");
  const uint32_t dataOffset = 0x80000100;
  std::string tail = Video(0) + Audio(20) + Video(1000);
  {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    std::string head = Header(5, 9).substr(0, 9);
    head[5] = '\x80', head[6] = '\0', head[7] = '\x01', head[8] = '\0';
    ASSERT_EQ(pwrite(fd, head.data(), head.size(), 0), 9);
    std::string rest = std::string(4, '\0') + tail;
    ASSERT_EQ(pwrite(fd, rest.data(), rest.size(), dataOffset), static_cast<ssize_t>(rest.size()));
    close(fd);
  }
  FileReadAble* r = CreateFileReadAble(path.c_str());
  FlvHeaderRecord h;
  ASSERT_EQ(Flv_ReadHeader(r, &h), 1);
  TTagRecord a, b;
  ASSERT_EQ(Flv_ReadTag(r, 1, &a), 1);
  EXPECT_EQ(a.filePosition, int64_t{dataOffset} + 4);
  ASSERT_EQ(Flv_ReadTag(r, 0, &b), 1);
  EXPECT_EQ(b.filePosition, int64_t{dataOffset} + 4 + a.rawSize);
  DeleteFileReadAble(r);

  FlvMetaObject* meta = FlvMetaCreateObject();
  EXPECT_EQ(FlvMetaParseFromFile(meta, path.c_str()), 1);
  EXPECT_EQ(FlvMetaUpdateToFile(meta, path.c_str()), 1);
  FlvMetaDeleteObject(meta);
  std::vector<TTag> tags = ListTags(zvtest::ReadFile(path));
  ASSERT_EQ(tags.size(), 4u);
  EXPECT_EQ(tags[3].Timestamp, 1000u);
}

TEST(FlvLargeFiles, WriterHandlesPositionsBeyondFourGiB) {
  zvtest::TempDir dir;
  auto w = FileWriteAble::Create(dir.File("big"));
  ASSERT_TRUE(w);
  const int64_t five = int64_t{5} << 30;
  EXPECT_EQ(w->SetSize(five), five);
  EXPECT_EQ(w->Tell(), 0);
  EXPECT_EQ(w->Size(), five);
  EXPECT_EQ(w->Seek(-1, SEEK_END), five - 1);
  w->Write("x", 1);
  EXPECT_EQ(w->Tell(), five);
  EXPECT_EQ(w->Size(), five);
}

// Within one file system the copy stays in the kernel; from a memory file system to a disk it may
// have to go through a buffer. Both give the same bytes.
TEST(FlvFileObjects, CopiesARangeOfAnotherFile) {
  zvtest::TempDir dir;
  std::string bytes(3 << 20, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 4096);
  std::vector<std::string> sources{dir.File("source")};
  if (access("/dev/shm", W_OK) == 0) sources.push_back("/dev/shm/zv-flv-copy-" + std::to_string(getpid()));
  for (const auto& source : sources) {
    zvtest::WriteFile(source, bytes);
    auto reader = FileReadAble::Open(source);
    auto writer = FileWriteAble::Create(dir.File("copy"));
    ASSERT_TRUE(reader && writer);
    writer->Write("head", 4);
    writer->CopyFrom(*reader, 1000, bytes.size() - 2000);
    EXPECT_THROW(writer->CopyFrom(*reader, bytes.size() - 10, 20), EclError);  // past the end
    writer.reset();
    EXPECT_EQ(zvtest::ReadFile(dir.File("copy")).substr(0, bytes.size() - 1996), "head" + bytes.substr(1000, bytes.size() - 2000));
    if (source != sources[0]) unlink(source.c_str());
  }
}

}  // namespace
