#include "flvbind/FlvMetaObject.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <new>
#include <vector>

#include "flvbind/FileReadAble.h"
#include "flvbind/FileWriteAble.h"
#include "flvbind/FlvErrors.h"
#include "flvbind/FlvMetaScan.h"
#include "flvbind/FlvTag.h"

namespace {

void WriteMetadataTag(FileWriteAble& aWriter, const ScriptDataObject& aMeta) {
  std::vector<uint8_t> tag = MetadataTagBytes(aMeta);
  aWriter.Write(tag.data(), static_cast<int64_t>(tag.size()));
}

void SetEmptyCuePoints(ScriptDataObject& aMeta) { aMeta.Array().Set("cuePoints", std::make_unique<AmfEcmaArray>()); }

// The metadata that ParseFromFile and UpdateToFile give a file whose tags aTally counted; none
// when the scan would find no time.
std::optional<ScriptDataObject> JoinedMetadata(const TFlvTagTally& aTally) {
  ScriptDataObject meta("onMetaData");
  if (!aTally.Store(meta.Array())) return std::nullopt;
  SetEmptyCuePoints(meta);
  return meta;
}

// Every found time gives a tag of the same size: its values are numbers, a flag and one fixed text.
int64_t TimedMetadataTagSize(const FlvHeaderRecord& aHeader) {
  TFlvTagTally tally(aHeader);
  FlvTagRecord timed{};
  timed.type = FLV_TAG_VIDEO;
  timed.timestamp = 1000;
  tally.Add(timed);
  return static_cast<int64_t>(MetadataTagBytes(*JoinedMetadata(tally)).size());
}

// Reads the next tag's header; false at the end of the data (or a damaged tail). A real read
// error is raised, so that a rewrite never replaces a file with a copy cut short by a failing disk.
bool ReadNextTag(FileReadAble& aReader, TOwnedFlvTag& aTag) {
  try {
    aTag.Read(aReader, false);
    return true;
  } catch (const EclFlvFileError& e) {
    if (e.ErrorCode() == fecEndOfData) return false;
    throw;
  }
}

bool IsAudioOrVideo(const FlvTagRecord& aTag) { return aTag.type == FLV_TAG_AUDIO || aTag.type == FLV_TAG_VIDEO; }

// Tags to keep are copied unchanged, so each run of neighbouring tags is copied in one piece.
class TTagRunCopier {
public:
  TTagRunCopier(FileReadAble& aReader, FileWriteAble& aWriter) : FReader(aReader), FWriter(aWriter) {}
  void Keep(const FlvTagRecord& aTag) {
    if (aTag.filePosition != FEnd) {
      Flush();
      FStart = aTag.filePosition;
    }
    FEnd = aTag.filePosition + aTag.rawSize;
  }
  void Flush() {
    if (FEnd > FStart) FWriter.CopyFrom(FReader, FStart, FEnd - FStart);
    FStart = FEnd = 0;
  }

private:
  FileReadAble& FReader;
  FileWriteAble& FWriter;
  int64_t FStart = 0, FEnd = 0;
};

// The header, the metadata tag, then the first tag that is not script data and every later audio
// and video tag. False when the source holds no such tag.
bool CopyWithMetadata(FileReadAble& aReader, FileWriteAble& aWriter, const ScriptDataObject& aMeta) {
  FlvHeaderRecord header{};
  if (!ReadFlvHeader(aReader, header)) return false;
  WriteFlvHeader(aWriter, header);
  WriteMetadataTag(aWriter, aMeta);
  TOwnedFlvTag tag;
  do {
    if (!ReadNextTag(aReader, tag)) return false;
  } while (tag.Tag.type == FLV_TAG_SCRIPT);
  TTagRunCopier copier(aReader, aWriter);
  copier.Keep(tag.Tag);
  while (ReadNextTag(aReader, tag))
    if (IsAudioOrVideo(tag.Tag)) copier.Keep(tag.Tag);
  copier.Flush();
  return true;
}

}  // namespace

std::vector<uint8_t> MetadataTagBytes(const ScriptDataObject& aMeta) {
  std::vector<uint8_t> data(aMeta.Size());
  aMeta.Write(data.data());
  std::vector<uint8_t> tag(FlvMuplex_GetMaxFrameSize(static_cast<int32_t>(data.size())));
  tag.resize(BuildFlvTag(tag.data(), data.data(), static_cast<int32_t>(data.size()), 0, FLV_TAG_SCRIPT));
  return tag;
}

bool FlvMetaObject::ParseFromFile(const std::string& aPath) {
  std::unique_ptr<FileReadAble> reader = FileReadAble::Open(aPath);
  if (!reader) return false;
  try {
    FlvHeaderRecord header{};
    if (!ReadFlvHeader(*reader, header)) return false;
    TOwnedFlvTag first;
    first.Read(*reader, true);
    ScriptDataObject fresh("onMetaData");
    bool ok = first.Tag.type == FLV_TAG_SCRIPT ? fresh.Parse(first.Tag.data, first.Tag.dataSize)
                                               : ScanFlvMetadata(*reader, header, first, fresh.Array());
    if (ok) Assign(std::move(fresh));
    return ok;
  } catch (const std::exception&) {  // a read failure or no memory
    return false;
  }
}

bool FlvMetaObject::UpdateToFile(const std::string& aPath) {
  const std::string workPath = aPath + ".$$$";
  SetEmptyCuePoints(*this);
  std::unique_ptr<FileReadAble> reader = FileReadAble::Open(aPath);
  if (!reader) return false;
  std::unique_ptr<FileWriteAble> writer = FileWriteAble::Create(workPath);
  if (!writer) return false;
  bool ok = false;
  try {
    if (CopyWithMetadata(*reader, *writer, *this)) {
      writer->Flush();  // the last bytes must be in before the work file replaces aPath
      ok = true;
    }
  } catch (const std::exception&) {  // a read or write failure or no memory: aPath stays as it is
  }
  reader.reset();
  writer.reset();
  // The rename replaces aPath in one step, so aPath is never missing or half written.
  if (ok && std::rename(workPath.c_str(), aPath.c_str()) == 0) return true;
  ::unlink(workPath.c_str());
  return false;
}

bool FlvMetaObject::ReserveTag(FileWriteAble& aWriter, const FlvHeaderRecord& aHeader) {
  aWriter.ReserveGap(TimedMetadataTagSize(aHeader));
  if (aWriter.GapSize() > 0) FJoinTally.emplace(aHeader);
  return aWriter.GapSize() > 0;
}

void FlvMetaObject::AddJoinedTag(const FlvTagRecord& aTag) {
  if (FJoinTally) FJoinTally->AddAsScanned(aTag);
}

void FlvMetaObject::DropReservation(FileWriteAble& aWriter) {
  FJoinTally.reset();
  if (aWriter.GapSize() > 0) aWriter.CloseGap();
}

bool FlvMetaObject::PlaceTag(FileWriteAble& aWriter, const std::string& aPath) {
  std::optional<ScriptDataObject> meta;
  if (FJoinTally && aWriter.GapSize() > 0) meta = JoinedMetadata(*FJoinTally);
  FJoinTally.reset();
  const std::vector<uint8_t> tag = meta ? MetadataTagBytes(*meta) : std::vector<uint8_t>();
  // Another file at aPath (it was replaced, or it is a link to ours) is left to the rewrite.
  struct stat st;
  const bool placeable = meta && static_cast<int64_t>(tag.size()) == aWriter.GapSize() && aWriter.IsFileAt(aPath) &&
                         ::lstat(aPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1;
  const std::string workPath = aPath + ".$$$";
  // The finished file passes through the work file's name, as the rewrite's copy would.
  if (!placeable || std::rename(aPath.c_str(), workPath.c_str()) != 0) {
    DropReservation(aWriter);
    return false;
  }
  try {
    aWriter.FillGap(tag.data());
  } catch (const EclFlvFileError&) {
    std::rename(workPath.c_str(), aPath.c_str());
    DropReservation(aWriter);
    return false;
  }
  std::rename(workPath.c_str(), aPath.c_str());
  Assign(std::move(*meta));
  return true;
}
