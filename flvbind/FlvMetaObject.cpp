#include "flvbind/FlvMetaObject.h"

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
  std::vector<uint8_t> data(aMeta.Size());
  aMeta.Write(data.data());
  std::vector<uint8_t> tag(FlvMuplex_GetMaxFrameSize(static_cast<int32_t>(data.size())));
  int32_t size = BuildFlvTag(tag.data(), data.data(), static_cast<int32_t>(data.size()), 0, FLV_TAG_SCRIPT);
  aWriter.Write(tag.data(), size);
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
  Array().Set("cuePoints", std::make_unique<AmfEcmaArray>());
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
