// FlvBind.exe writes its joined data once, with the metadata counted on the way; its files must be
// byte for byte those of the plain join followed by the metadata scan and the rewrite, for real
// ffmpeg-made segments, for damaged ones and for every way the join can end.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

#include "flvbind/FLVLib.h"
#include "tests/flvbind/FlvTestFiles.h"
#include "tests/support/FfmpegTools.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace zvtest;

// The join step by step through the library, as the binder did it when it wrote its data twice:
// every source's audio and video tags retimed onto one clock, then the scan and the rewrite.
// Returns the binder's status for the same sources.
int PlainJoinAndRewrite(const std::string& aOutput, const std::vector<std::string>& aSources) {
  FileWriteAble* writer = CreateFileWriteAble(aOutput.c_str());
  FlvHeaderRecord header{};
  uint32_t offset = 0;
  int status = 0;
  for (size_t i = 0; i < aSources.size() && status == 0; ++i) {
    FileReadAble* reader = CreateFileReadAble(aSources[i].c_str());
    if (!reader) {
      status = 2;
    } else if (!Flv_ReadHeader(reader, &header)) {
      status = 3;
    } else {
      if (i == 0) Flv_WriteHeader(writer, &header);
      FlvTagRecord tag{};
      uint32_t end = 0;
      while (Flv_ReadTag(reader, 1, &tag)) {
        end = std::max(end, tag.timestamp);
        if (tag.type == FLV_TAG_AUDIO || tag.type == FLV_TAG_VIDEO) {
          const uint32_t time = tag.timestamp + offset;
          tag.rawBuffer[4] = static_cast<uint8_t>(time >> 16);
          tag.rawBuffer[5] = static_cast<uint8_t>(time >> 8);
          tag.rawBuffer[6] = static_cast<uint8_t>(time);
          tag.rawBuffer[7] = static_cast<uint8_t>(time >> 24);
          Flv_WriteTag(writer, &tag);
        }
        Flv_FreeTag(&tag);
      }
      offset += end;
    }
    DeleteFileReadAble(reader);
  }
  DeleteFileWritable(writer);
  if (status != 0) return status;
  FlvMetaObject* meta = FlvMetaCreateObject();
  FlvMetaParseFromFile(meta, aOutput.c_str());
  FlvMetaUpdateToFile(meta, aOutput.c_str());
  FlvMetaDeleteObject(meta);
  return 0;
}

class FlvBindSameBytes : public ::testing::Test {
protected:
  std::string Source(const std::string& aName, const std::string& aBytes) {
    WriteFile(FDir.File(aName), aBytes);
    return FDir.File(aName);
  }
  void ExpectSameAsPlainJoin(const std::string& aCase, const std::vector<std::string>& aSources) {
    const std::string bound = FDir.File("bound.flv"), plain = FDir.File("plain.flv");
    std::vector<std::string> args{bound};
    args.insert(args.end(), aSources.begin(), aSources.end());
    const int status = flvtest::RunBinder(args).Status;
    EXPECT_EQ(status, PlainJoinAndRewrite(plain, aSources)) << aCase;
    EXPECT_TRUE(ReadFile(bound) == ReadFile(plain)) << aCase;
    EXPECT_NE(access((bound + ".$$$").c_str(), F_OK), 0) << aCase;
  }
  TempDir FDir;
};

TEST_F(FlvBindSameBytes, RealSegmentsWholeDamagedAndFailing) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  struct {
    const char* Name;
    const char* Codecs;
  } kinds[] = {{"h264-aac", "-c:v libx264 -preset ultrafast -c:a aac"},
               {"sorenson-mp3", "-c:v flv -c:a libmp3lame"},
               {"video only", "-an -c:v flv"},
               {"audio only", "-vn -c:a libmp3lame"}};
  for (const auto& kind : kinds) {
    const std::string name = kind.Name;
    ASSERT_TRUE(MakeFlv(FDir.File(name + ".flv"), 3, kind.Codecs)) << name;
    const int count = CutFlv(FDir.File(name + ".flv"), FDir.File(name + "-%d.flv"));
    ASSERT_GE(count, 3) << name;
    std::vector<std::string> segments;
    for (int i = 0; i < count; ++i) segments.push_back(FDir.File(name + "-" + std::to_string(i) + ".flv"));
    ExpectSameAsPlainJoin(name, segments);

    const std::string middle = ReadFile(segments[1]);
    std::string garbled = middle;
    std::fill_n(garbled.begin() + garbled.size() / 2, 16, '\xFF');
    const std::string cut = Source(name + "-cut.flv", middle.substr(0, middle.size() * 2 / 3));
    const std::string lastCut = Source(name + "-last-cut.flv", middle.substr(0, middle.size() - 2));
    const std::string garbage = Source(name + "-garbled.flv", garbled);
    const std::string headerOnly = Source(name + "-header.flv", middle.substr(0, 13));
    const std::string notFlv = Source(name + "-text.flv", "not an flv file");
    ExpectSameAsPlainJoin(name + ", cut", {segments[0], cut, segments[2]});
    ExpectSameAsPlainJoin(name + ", last tag cut", {segments[0], lastCut});
    ExpectSameAsPlainJoin(name + ", garbled", {segments[0], garbage, segments[2]});
    ExpectSameAsPlainJoin(name + ", header only", {segments[0], headerOnly, segments[2]});
    ExpectSameAsPlainJoin(name + ", only a header", {headerOnly});
    ExpectSameAsPlainJoin(name + ", not flv later", {segments[0], segments[1], notFlv});
    ExpectSameAsPlainJoin(name + ", missing later", {segments[0], FDir.File("missing.flv")});
  }
}

TEST_F(FlvBindSameBytes, SourcesTheScanReadsInItsOwnWay) {
  using namespace flvtest;
  struct {
    const char* Name;
    std::vector<std::string> Sources;
  } cases[] = {
      // no time: the metadata tag holds only "cuePoints"
      {"all at time 0", {Header(5) + Video(0) + Audio(0), Header(5) + Audio(0)}},
      // the header announces no audio: the scan reads no data after the first video tag
      {"audio not announced", {Header(1) + Video(0, 40, 0x22) + Audio(20, 20, 0x2F) + Video(40, 40, 0x22)}},
      {"video not announced", {Header(4) + Audio(0, 20, 0x2F) + Video(20, 40, 0x22) + Audio(40)}},
      {"larger data offset", {Header(5, 20) + Video(0) + Audio(20), Header(5) + Video(0) + Audio(30)}},
      {"no media", {Header(5) + Script(0) + Tag(15, 50, "?")}},
      {"past 24 bits", {Header(5) + Video(0) + Video(16777000), Header(5) + Video(0) + Audio(500)}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> sources;
    for (size_t i = 0; i < c.Sources.size(); ++i) sources.push_back(Source(std::to_string(i) + ".flv", c.Sources[i]));
    ExpectSameAsPlainJoin(c.Name, sources);
  }
}

TEST_F(FlvBindSameBytes, NoRoomForTheMetadataKeepsThePlainJoin) {
  std::string source = flvtest::Header(5);
  for (int i = 0; i < 20; ++i) source += flvtest::Video(i * 40, 1000);
  const std::string a = Source("a.flv", source);
  // room for the join and less than the metadata tag: the gap gives way and the rewrite fails
  for (int64_t room : {int64_t{100}, int64_t{0}}) {
    const std::string bound = FDir.File("bound.flv");
    EXPECT_EQ(flvtest::RunBinder({bound, a}, static_cast<int64_t>(source.size()) + room).Status, 0);
    EXPECT_TRUE(ReadFile(bound) == source) << room;
  }
}

}  // namespace
