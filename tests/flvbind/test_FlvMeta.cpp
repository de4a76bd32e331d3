// The metadata scan and the rewrite that puts an "onMetaData" tag first.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "flvbind/FLVLib.h"
#include "tests/flvbind/FlvTestFiles.h"
#include "tests/support/TestSupport.h"

using namespace flvtest;

namespace {

// AMF0 written out by hand, to check the library's bytes against.
std::string U16(size_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v)}; }
std::string Key(const std::string& k) { return U16(k.size()) + k; }
std::string Str(const std::string& s) { return "\x02" + U16(s.size()) + s; }
std::string Num(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  std::string s(9, '\0');
  for (int i = 8; i >= 1; --i, bits >>= 8) s[i] = static_cast<char>(bits);
  return s;
}
std::string ArrayHead(int n) { return std::string("\x08\0\0\0", 4) + static_cast<char>(n); }
const std::string cEnd("\0\0\x09", 3);

class FlvMeta : public ::testing::Test {
protected:
  std::string Path() const { return FDir.File("video.flv"); }
  // Runs the scan and the rewrite on aBytes as the binder does; returns the two results.
  std::pair<int, int> ScanAndRewrite(const std::string& aBytes) {
    zvtest::WriteFile(Path(), aBytes);
    FlvMetaObject* meta = FlvMetaCreateObject();
    int parsed = FlvMetaParseFromFile(meta, Path().c_str());
    int updated = FlvMetaUpdateToFile(meta, Path().c_str());
    FlvMetaDeleteObject(meta);
    EXPECT_NE(access((Path() + ".$$$").c_str(), F_OK), 0) << "the work file is gone";
    return {parsed, updated};
  }
  double Written(const std::string& aKey) { return MetadataNumber(zvtest::ReadFile(Path()), aKey); }
  zvtest::TempDir FDir;
};

// 25 screen-video tags of 1000 bytes and 25 MP3 tags of 500 bytes, the last at 980 ms.
std::string KnownInput() {
  std::string file = Header(5);
  for (int i = 0; i < 25; ++i) {
    file += Tag(9, i * 40, std::string("\x13\x01\x40\x00\xF0", 5) + std::string(995, 'v'));
    file += Audio(i * 40 + 20, 500, 0x2E);
  }
  return file;
}

TEST_F(FlvMeta, WritesTheExactOnMetaDataTagFirst) {
  const std::string input = KnownInput();
  EXPECT_EQ(ScanAndRewrite(input), std::make_pair(1, 1));
  const std::string data = Str("onMetaData") + ArrayHead(13) + Key("duration") + Num(0.98) + Key("width") + Num(320) +
                           Key("height") + Num(240) + Key("videodatarate") + Num(204) + Key("framerate") + Num(26) +
                           Key("videocodecid") + Num(3) + Key("audiodatarate") + Num(102) + Key("audiodelay") +
                           Num(0) + Key("audiocodecid") + Num(2) + Key("canSeekToEnd") + std::string("\x01\x01", 2) +
                           Key("lasttimestamp") + Num(0.98) + Key("metadatacreator") + Str("Norva FLV Lib") +
                           Key("cuePoints") + ArrayHead(0) + cEnd + cEnd;
  ASSERT_EQ(data.size(), 300u);
  const std::string output = zvtest::ReadFile(Path());
  EXPECT_EQ(output.substr(0, 13), input.substr(0, 13));
  EXPECT_EQ(output.substr(13, 315), Tag(18, 0, data));
  EXPECT_EQ(output.substr(13 + 315), input.substr(13));
}

TEST_F(FlvMeta, AFileWithoutTimedTagsGetsOnlyCuePoints) {
  std::string input = Header(5) + Video(0) + Audio(0) + Video(0);
  EXPECT_EQ(ScanAndRewrite(input), std::make_pair(0, 1));
  std::vector<TTag> tags = ListTags(zvtest::ReadFile(Path()));
  ASSERT_EQ(tags.size(), 4u);
  EXPECT_EQ(tags[0].Data, Str("onMetaData") + ArrayHead(1) + Key("cuePoints") + ArrayHead(0) + cEnd + cEnd);
}

TEST_F(FlvMeta, AFileWithoutTagsIsLeftAsItWas) {
  struct {
    std::string Input;
    int Parsed;
  } cases[] = {{Header(5), 0}, {Header(5) + Script(0) + Script(10), 1}, {"not an flv file", 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(ScanAndRewrite(c.Input), std::make_pair(c.Parsed, 0));
    EXPECT_EQ(zvtest::ReadFile(Path()), c.Input);
  }
  FlvMetaObject* meta = FlvMetaCreateObject();
  EXPECT_EQ(FlvMetaParseFromFile(meta, FDir.File("missing.flv").c_str()), 0);
  EXPECT_EQ(FlvMetaUpdateToFile(meta, FDir.File("missing.flv").c_str()), 0);
  EXPECT_NE(access(FDir.File("missing.flv.$$$").c_str(), F_OK), 0);
  FlvMetaDeleteObject(meta);
  EXPECT_EQ(FlvMetaParseFromFile(nullptr, Path().c_str()), 0);
  EXPECT_EQ(FlvMetaUpdateToFile(nullptr, Path().c_str()), 0);
}

TEST_F(FlvMeta, ALeadingOnMetaDataIsTakenOverAndLaterScriptTagsDropped) {
  std::string leading = Str("onMetaData") + ArrayHead(1) + Key("duration") + Num(5) + cEnd;
  std::string input = Header(5) + Tag(18, 0, leading) + Video(0) + Script(20) + Audio(40) + Tag(15, 50, "x") + Video(80);
  EXPECT_EQ(ScanAndRewrite(input), std::make_pair(1, 1));
  std::vector<TTag> tags = ListTags(zvtest::ReadFile(Path()));
  ASSERT_EQ(tags.size(), 4u);
  EXPECT_EQ(tags[0].Data, Str("onMetaData") + ArrayHead(2) + Key("duration") + Num(5) + Key("cuePoints") +
                              ArrayHead(0) + cEnd + cEnd);
  EXPECT_EQ((std::vector<uint32_t>{tags[1].Timestamp, tags[2].Timestamp, tags[3].Timestamp}),
            (std::vector<uint32_t>{0, 40, 80}));
}

TEST_F(FlvMeta, TagDataIsReadUntilEveryAnnouncedStreamHasBeenSeen) {
  // Without audio in the header the scan stops reading tag data after the first video tag, so a
  // stray audio tag is counted but its codec stays unknown; with audio announced it is read.
  const std::string tags = Video(0, 5, 0x12) + Video(1000, 40, 0x12) + Audio(1500, 1000, 0x2E) + Video(2000);
  struct {
    uint8_t Flags;
    double AudioCodec;
  } cases[] = {{1, 0}, {5, 2}};
  for (const auto& c : cases) {
    EXPECT_EQ(ScanAndRewrite(Header(c.Flags) + tags), std::make_pair(1, 1));
    EXPECT_EQ(Written("audiocodecid"), c.AudioCodec);
    EXPECT_EQ(Written("duration"), 2.0);
    EXPECT_EQ(Written("framerate"), 2);  // 3 / 2 s = 1.5, halves go up
    EXPECT_EQ(Written("videocodecid"), 2);
    EXPECT_EQ(Written("audiodatarate"), 4);  // 8 kbit / 2 s
    EXPECT_EQ(Written("width"), 0);          // the first Sorenson tag is too short for its picture header
  }
}

TEST_F(FlvMeta, RatesRoundToTheNearestWholeNumber) {
  struct {
    int Tags;
    uint32_t LastMs;
    double Rate;
  } cases[] = {{49, 2000, 25}, {2449, 100000, 24}, {3, 1000, 3}};
  for (const auto& c : cases) {
    std::string input = Header(1);
    for (int i = 0; i < c.Tags; ++i) input += Video(static_cast<uint32_t>(int64_t{c.LastMs} * i / (c.Tags - 1)), 2);
    EXPECT_EQ(ScanAndRewrite(input), std::make_pair(1, 1));
    EXPECT_EQ(Written("framerate"), c.Rate) << c.Tags;
  }
}

TEST_F(FlvMeta, ADamagedTailEndsTheScanAndIsLeftOut) {
  std::string input = Header(5) + Video(0) + Audio(500) + Video(1000);
  input.resize(input.size() - 10);
  EXPECT_EQ(ScanAndRewrite(input), std::make_pair(1, 1));
  EXPECT_EQ(Written("duration"), 0.5);
  EXPECT_EQ(ListTags(zvtest::ReadFile(Path())).size(), 3u);
}

}  // namespace
