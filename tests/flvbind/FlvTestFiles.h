#pragma once
// Synthetic FLV bytes for the binder tests, an independent walker over FLV files, and a runner
// for FlvBind.exe that captures both of its output streams.
#include <cstdint>
#include <string>
#include <vector>

namespace flvtest {

std::string Header(uint8_t aFlags = 5, uint32_t aDataOffset = 9);
// A whole tag, stream id aStreamId, with a correct trailing PreviousTagSize.
std::string Tag(uint8_t aType, uint32_t aTimestamp, const std::string& aData, uint32_t aStreamId = 0);
std::string Audio(uint32_t aTimestamp, size_t aSize = 20, uint8_t aFlags = 0xAF);  // AAC 44 kHz 16-bit stereo
std::string Video(uint32_t aTimestamp, size_t aSize = 40, uint8_t aFlags = 0x17);   // key frame, H.264
std::string Script(uint32_t aTimestamp, const std::string& aName = "onMetaData");

struct TTag {
  uint8_t Type;
  uint32_t Timestamp;
  std::string Data;
  std::string Raw;  // the whole tag as stored
};
// The tags after the header, read without the library; a cut tail is left out.
std::vector<TTag> ListTags(const std::string& aFile);

// A number of the file's leading "onMetaData" tag; NaN when there is none.
double MetadataNumber(const std::string& aFile, const std::string& aKey);

struct TRunResult {
  int Status;  // exit status as the parent sees it (0..255)
  std::string Out;
  std::string Err;
  int64_t ReadCalls, WriteCalls;  // system calls of the read and write families the binder made
};
// Runs build/bin/FlvBind.exe; aFileSizeLimit > 0 makes writes past that size fail as on a full disk.
TRunResult RunBinder(const std::vector<std::string>& aArgs, int64_t aFileSizeLimit = 0);

}  // namespace flvtest
