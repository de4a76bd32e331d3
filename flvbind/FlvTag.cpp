#include "flvbind/FlvTag.h"

#include <cstring>
#include <new>

#include "flvbind/BigEndian.h"
#include "flvbind/FileReadAble.h"
#include "flvbind/FileWriteAble.h"
#include "flvbind/FlvErrors.h"

namespace {

void DecodeAudio(FlvTagRecord& aTag) {
  if (aTag.dataSize < 1) return;
  uint8_t b = aTag.data[0];
  FlvAudioInfo& a = aTag.info.audio;
  a.soundFormat = b >> 4;
  a.soundRate = (b >> 2) & 3;
  a.soundSize = (b >> 1) & 1;
  a.soundType = b & 1;
  a.payload = aTag.data + 1;
  a.payloadSize = aTag.dataSize - 1;
}

// Sorenson H.263: the picture size follows the 30-bit start of the picture header.
void DecodeSorensonSize(const uint8_t* d, FlvVideoInfo& v) {
  const uint8_t* b = d + 3;
  switch (((b[1] & 3) << 1) | (b[2] >> 7)) {
    case 0:
      v.width = ((b[2] & 127) << 1) | (b[3] >> 7);
      v.height = ((b[3] & 127) << 1) | (b[4] >> 7);
      break;
    case 1:
      v.width = ((b[2] & 127) << 9) | (b[3] << 1) | (b[4] >> 7);
      v.height = ((b[4] & 127) << 9) | (b[5] << 1) | (b[6] >> 7);
      break;
    case 2: v.width = 352, v.height = 288; break;
    case 3: v.width = 176, v.height = 144; break;
    case 4: v.width = 128, v.height = 96; break;
    case 5: v.width = 320, v.height = 240; break;
    case 6: v.width = 160, v.height = 120; break;
    default: break;  // 7: reserved, size unknown
  }
}

void DecodeVp6Size(uint8_t aAdjust, uint8_t aRows, uint8_t aColumns, FlvVideoInfo& v) {
  v.hAdjust = aAdjust >> 4;
  v.vAdjust = aAdjust & 15;
  v.height = aRows * 16 - v.vAdjust;
  v.width = aColumns * 16 - v.hAdjust;
}

// Fields whose bytes lie beyond the tag's data stay 0.
void DecodeVideo(FlvTagRecord& aTag) {
  const int32_t n = aTag.dataSize;
  const uint8_t* d = aTag.data;
  if (n < 1) return;
  FlvVideoInfo& v = aTag.info.video;
  v.frameType = d[0] >> 4;
  v.codecId = d[0] & 15;
  v.body = d + 1;
  v.bodySize = n - 1;
  switch (v.codecId) {
    case 2:
      if (n >= 10) DecodeSorensonSize(d, v);
      break;
    case 3:
    case 6:
      if (n >= 5) {
        v.width = ((d[1] & 15) << 8) | d[2];
        v.height = ((d[3] & 15) << 8) | d[4];
      }
      break;
    case 4:
      if (n >= 6) {
        DecodeVp6Size(d[1], d[4], d[5], v);
        v.codecData = d + 2;
        v.codecDataSize = n - 2;
      }
      break;
    case 5:
      if (n >= 9) {
        int32_t alphaOffset = static_cast<int32_t>(GetBigEndian(d + 2, 3));
        DecodeVp6Size(d[1], d[7], d[8], v);
        if (alphaOffset <= n - 5) {
          v.codecData = d + 5;
          v.codecDataSize = alphaOffset;
          v.alphaData = d + 5 + alphaOffset;
          v.alphaDataSize = n - alphaOffset - 5;
        }
      }
      break;
    default:
      break;
  }
}

}  // namespace

bool ReadFlvHeader(FileReadAble& aReader, FlvHeaderRecord& aHeader) {
  aReader.Seek(0, SEEK_SET);
  for (char expected : {'F', 'L', 'V'})
    if (aReader.ReadByte() != static_cast<uint8_t>(expected)) return false;
  aHeader.version = aReader.ReadByte();
  uint8_t flags = aReader.ReadByte();
  aHeader.hasVideo = flags & 1;
  aHeader.hasAudio = (flags >> 2) & 1;
  aReader.Seek(aReader.ReadUInt(4), SEEK_SET);
  aReader.ReadUInt(4);  // PreviousTagSize0
  return true;
}

void ReadFlvTag(FileReadAble& aReader, bool aReadData, FlvTagRecord& aTag) {
  aTag = FlvTagRecord{};
  try {
    uint8_t head[cFlvTagHeaderSize];
    const int64_t position = aReader.Tell();
    aReader.Read(head, sizeof head);
    const int32_t dataSize = static_cast<int32_t>(GetBigEndian(head + 1, 3));
    // Checked against the real size first, so a cut last tag allocates nothing.
    if (position + dataSize + cFlvTagOverhead > aReader.Size()) throw EclFlvFileError("feof", fecEndOfData);
    FlvTagRecord tag{};
    tag.filePosition = position;
    tag.type = head[0];
    tag.dataSize = dataSize;
    tag.rawSize = dataSize + cFlvTagOverhead;
    tag.timestamp = static_cast<uint32_t>(GetBigEndian(head + 4, 3) | uint64_t{head[7]} << 24);
    tag.streamId = static_cast<int32_t>(GetBigEndian(head + 8, 3));
    if (!aReadData) {
      aReader.Skip(dataSize + 4);
      aTag = tag;
      return;
    }
    tag.rawBuffer = new uint8_t[tag.rawSize];
    aTag = tag;
    std::memcpy(aTag.rawBuffer, head, sizeof head);
    aReader.Read(aTag.rawBuffer + cFlvTagHeaderSize, dataSize + 4);
    aTag.data = aTag.rawBuffer + cFlvTagHeaderSize;
    if (aTag.type == FLV_TAG_AUDIO) DecodeAudio(aTag);
    if (aTag.type == FLV_TAG_VIDEO) DecodeVideo(aTag);
  } catch (...) {
    FreeFlvTag(aTag);
    throw;
  }
}

void WriteFlvHeader(FileWriteAble& aWriter, const FlvHeaderRecord& aHeader) {
  const uint8_t signature[3] = {'F', 'L', 'V'};
  const uint8_t version = static_cast<uint8_t>(aHeader.version);
  const uint8_t flags = (aHeader.hasVideo ? 1 : 0) | (aHeader.hasAudio ? 4 : 0);
  const uint8_t dataOffset[4] = {0, 0, 0, 9};
  const uint8_t previousTagSize0[4] = {0, 0, 0, 0};
  aWriter.Write(signature, 3);
  aWriter.Write(&version, 1);
  aWriter.Write(&flags, 1);
  aWriter.Write(dataOffset, 4);
  aWriter.Write(previousTagSize0, 4);
}

bool WriteFlvTag(FileWriteAble& aWriter, const FlvTagRecord& aTag) {
  if (!aTag.rawBuffer) return false;
  aWriter.Write(aTag.rawBuffer, aTag.rawSize);
  return true;
}

void FreeFlvTag(FlvTagRecord& aTag) {
  delete[] aTag.rawBuffer;
  aTag = FlvTagRecord{};
}

int32_t BuildFlvTag(uint8_t* aBuffer, const uint8_t* aData, int32_t aSize, uint32_t aTimestamp, int32_t aType) {
  aBuffer[0] = static_cast<uint8_t>(aType);
  PutBigEndian(aBuffer + 1, static_cast<uint32_t>(aSize), 3);
  PutBigEndian(aBuffer + 4, aTimestamp & 0xFFFFFF, 3);
  aBuffer[7] = static_cast<uint8_t>(aTimestamp >> 24);
  PutBigEndian(aBuffer + 8, 0, 3);
  if (aSize > 0) std::memcpy(aBuffer + cFlvTagHeaderSize, aData, static_cast<size_t>(aSize));
  PutBigEndian(aBuffer + cFlvTagHeaderSize + aSize, static_cast<uint32_t>(cFlvTagHeaderSize + aSize), 4);
  return aSize + cFlvTagOverhead;
}
