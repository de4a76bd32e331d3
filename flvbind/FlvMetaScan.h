#pragma once
// The metadata scan: duration, sizes, data rates, frame rate and codecs of an FLV file, from its
// tags in file order.
#include <cstdint>

#include "flvbind/Amf.h"
#include "flvbind/FLVLib.h"

struct FileReadAble;
class TOwnedFlvTag;

// What the scan keeps of the tags it reads.
class TFlvTagTally {
public:
  explicit TFlvTagTally(const FlvHeaderRecord& aHeader) : FHeader(aHeader) {}
  // aTag as read, with its stream information only when it was read with data.
  void Add(const FlvTagRecord& aTag);
  // aTag, read with data, counted as the scan counts it: the scan reads no data (and so decodes
  // no stream information) once NeedsData is false.
  void AddAsScanned(const FlvTagRecord& aTag);
  // Tag data is needed only until the first tag of every announced stream has been seen.
  bool NeedsData() const;
  // Fills aArray and gives true, or gives false and leaves aArray alone when no audio or video tag
  // carries a time.
  bool Store(AmfEcmaArray& aArray) const;

private:
  FlvHeaderRecord FHeader;
  bool FSeenVideo = false, FSeenAudio = false;
  int32_t FVideoCodec = 0, FWidth = 0, FHeight = 0, FAudioCodec = 0;
  int64_t FVideoTags = 0, FVideoBytes = 0, FAudioBytes = 0;
  uint32_t FLastTimestamp = 0;
};

// aFirst holds the first tag, read with its data. Fills aArray and gives true, or gives false and
// leaves aArray alone when no audio or video tag carries a time.
bool ScanFlvMetadata(FileReadAble& aReader, const FlvHeaderRecord& aHeader, TOwnedFlvTag& aFirst, AmfEcmaArray& aArray);
