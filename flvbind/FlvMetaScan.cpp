#include "flvbind/FlvMetaScan.h"

#include <cmath>

#include "flvbind/FlvTag.h"

void TFlvTagTally::Add(const FlvTagRecord& aTag) {
  if (aTag.type == FLV_TAG_VIDEO) {
    if (!FSeenVideo) {
      FVideoCodec = aTag.info.video.codecId;
      FWidth = aTag.info.video.width;
      FHeight = aTag.info.video.height;
      FSeenVideo = true;
    }
    ++FVideoTags;
    FVideoBytes += aTag.dataSize;
    FLastTimestamp = aTag.timestamp;
  } else if (aTag.type == FLV_TAG_AUDIO) {
    if (!FSeenAudio) {
      FAudioCodec = aTag.info.audio.soundFormat;
      FSeenAudio = true;
    }
    FAudioBytes += aTag.dataSize;
    FLastTimestamp = aTag.timestamp;
  }
}

void TFlvTagTally::AddAsScanned(const FlvTagRecord& aTag) {
  if (NeedsData()) {
    Add(aTag);
    return;
  }
  FlvTagRecord headerOnly = aTag;
  headerOnly.info = FlvStreamInfo{};
  Add(headerOnly);
}

bool TFlvTagTally::NeedsData() const {
  return !((FSeenVideo && (!FHeader.hasAudio || FSeenAudio)) || (FSeenAudio && (!FHeader.hasVideo || FSeenVideo)));
}

bool TFlvTagTally::Store(AmfEcmaArray& aArray) const {
  const double duration = FLastTimestamp * 0.001;
  if (duration < 0.001) return false;
  auto rate = [duration](double aAmount) { return std::floor(aAmount / duration + 0.5); };
  auto kilobits = [](int64_t aBytes) { return static_cast<double>(aBytes * 8 / 1000); };
  auto number = [&aArray](const char* aKey, double aValue) { aArray.Set(aKey, std::make_unique<AmfNumber>(aValue)); };
  number("duration", duration);
  number("width", FWidth);
  number("height", FHeight);
  number("videodatarate", rate(kilobits(FVideoBytes)));
  number("framerate", rate(static_cast<double>(FVideoTags)));
  number("videocodecid", FVideoCodec);
  number("audiodatarate", rate(kilobits(FAudioBytes)));
  number("audiodelay", 0);
  number("audiocodecid", FAudioCodec);
  aArray.Set("canSeekToEnd", std::make_unique<AmfBoolean>(true));
  number("lasttimestamp", duration);
  aArray.Set("metadatacreator", std::make_unique<AmfString>("Norva FLV Lib"));
  return true;
}

bool ScanFlvMetadata(FileReadAble& aReader, const FlvHeaderRecord& aHeader, TOwnedFlvTag& aFirst, AmfEcmaArray& aArray) {
  TFlvTagTally tally(aHeader);
  tally.Add(aFirst.Tag);
  try {
    for (;;) {
      aFirst.Read(aReader, tally.NeedsData());
      tally.Add(aFirst.Tag);
    }
  } catch (const std::exception&) {
    // the end of the file, a damaged tag or no memory: the scan ends there
  }
  return tally.Store(aArray);
}
