#pragma once
// FLV file header and tags: reading (with the stream information of audio and video tags),
// writing, and building a tag from data. The functions raise EclFlvFileError (or bad_alloc);
// the exported operations turn that into their 0 results.
#include <cstdint>

#include "flvbind/FLVLib.h"

struct FileReadAble;
struct FileWriteAble;

constexpr int32_t cFlvTagHeaderSize = 11;
constexpr int32_t cFlvTagOverhead = 15;  // tag header and trailing PreviousTagSize

// False when the file does not begin with "FLV"; leaves the reader at the first tag.
bool ReadFlvHeader(FileReadAble& aReader, FlvHeaderRecord& aHeader);
// Reads the tag at the current position. On failure the record is left zeroed and the error raised;
// a tag that does not fit whole in the file (a cut last tag) fails as the end of data.
void ReadFlvTag(FileReadAble& aReader, bool aReadData, FlvTagRecord& aTag);
void WriteFlvHeader(FileWriteAble& aWriter, const FlvHeaderRecord& aHeader);
// False (nothing written) for a record without raw buffer.
bool WriteFlvTag(FileWriteAble& aWriter, const FlvTagRecord& aTag);
void FreeFlvTag(FlvTagRecord& aTag);
// Writes a whole tag (stream id 0, PreviousTagSize 11 + aSize) into aBuffer; returns aSize + 15.
int32_t BuildFlvTag(uint8_t* aBuffer, const uint8_t* aData, int32_t aSize, uint32_t aTimestamp, int32_t aType);

// A tag record that frees its buffer when it goes out of scope.
class TOwnedFlvTag {
public:
  TOwnedFlvTag() = default;
  ~TOwnedFlvTag() { FreeFlvTag(Tag); }
  TOwnedFlvTag(const TOwnedFlvTag&) = delete;
  TOwnedFlvTag& operator=(const TOwnedFlvTag&) = delete;
  void Read(FileReadAble& aReader, bool aReadData) {
    FreeFlvTag(Tag);
    ReadFlvTag(aReader, aReadData, Tag);
  }
  FlvTagRecord Tag{};
};
