#include "flvbind/FlvBinder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "flvbind/FLVLib.h"

namespace {

struct TReaderCloser {
  void operator()(FileReadAble* aReader) const { DeleteFileReadAble(aReader); }
};
struct TWriterCloser {
  void operator()(FileWriteAble* aWriter) const { DeleteFileWritable(aWriter); }
};
struct TMetaDeleter {
  void operator()(FlvMetaObject* aMeta) const { FlvMetaDeleteObject(aMeta); }
};
using TReader = std::unique_ptr<FileReadAble, TReaderCloser>;
using TWriter = std::unique_ptr<FileWriteAble, TWriterCloser>;

// Creating the output truncates it, so a source named again as the output would be lost.
const char* SourceThatIsOutput(const char* aOutput, char* const* aSources, int aCount) {
  struct stat out, src;
  if (::stat(aOutput, &out) != 0) return nullptr;
  for (int i = 0; i < aCount; ++i)
    if (::stat(aSources[i], &src) == 0 && src.st_dev == out.st_dev && src.st_ino == out.st_ino) return aSources[i];
  return nullptr;
}

void SetTagTime(FlvTagRecord& aTag, uint32_t aTime) {
  aTag.rawBuffer[4] = static_cast<uint8_t>(aTime >> 16);
  aTag.rawBuffer[5] = static_cast<uint8_t>(aTime >> 8);
  aTag.rawBuffer[6] = static_cast<uint8_t>(aTime);
  aTag.rawBuffer[7] = static_cast<uint8_t>(aTime >> 24);
}

// Copies the audio and video tags of one source, shifted by aOffset and counted into aMeta, then
// moves aOffset on to the source's end. The end is its latest tag time, which is its last tag's in
// a file ordered by time; muxers may close a file with an earlier tag (an H.264 end of sequence),
// and taking that one would make the other stream's next times go back. False when a write failed.
bool CopySource(FileReadAble* aReader, FileWriteAble* aWriter, FlvMetaObject* aMeta, uint32_t& aOffset) {
  FlvTagRecord tag{};
  uint32_t end = 0;
  while (Flv_ReadTag(aReader, 1, &tag)) {
    end = std::max(end, tag.timestamp);
    bool written = true;
    if (tag.type == FLV_TAG_AUDIO || tag.type == FLV_TAG_VIDEO) {
      tag.timestamp += aOffset;
      SetTagTime(tag, tag.timestamp);
      written = Flv_WriteTag(aWriter, &tag) != 0;
      FlvMetaAddTag(aMeta, &tag);
    }
    Flv_FreeTag(&tag);
    if (!written) return false;
  }
  aOffset += end;
  return true;
}

}  // namespace

void TFlvBinder::PrintBanner() {
  std::fputs("FlvBind - FLV file binder\n"
             "Joins the audio and video of FLV files into one file with continuous timestamps\n"
             "and writes a fresh onMetaData tag\n",
             FMessages);
}

int TFlvBinder::Bind(const char* aOutput, char* const* aSources, int aCount) {
  if (const char* source = SourceThatIsOutput(aOutput, aSources, aCount)) {
    std::fprintf(FMessages, "The output file %s is also a source flv, choose another output file\n", source);
    return bcOutputIsSource;
  }
  TWriter writer(CreateFileWriteAble(aOutput));
  if (!writer) {
    std::fputs("Can't create output file for writing, make sure the output path is writable\n", FMessages);
    return bcCannotCreateOutput;
  }
  auto writeFailed = [&] {
    writer.reset();
    // An incomplete join must not pass for a finished one (devices are left alone).
    struct stat st;
    if (::stat(aOutput, &st) == 0 && S_ISREG(st.st_mode)) ::unlink(aOutput);
    std::fprintf(FMessages, "Can't write to output file %s, is the disk full ?\n", aOutput);
    return bcWriteFailed;
  };
  // The metadata is counted while joining and its tag written into room left after the header,
  // so the joined data is written once; the rewrite below is the way when that cannot be done.
  std::unique_ptr<FlvMetaObject, TMetaDeleter> meta(FlvMetaCreateObject());
  TReader reader;
  FlvHeaderRecord header{};
  uint32_t offset = 0;
  for (int i = 0; i < aCount; ++i) {
    reader.reset(CreateFileReadAble(aSources[i]));
    if (!reader) {
      FlvMetaDropReservation(meta.get(), writer.get());
      std::fprintf(FMessages, "Can't open source flv %s", aSources[i]);
      return bcCannotOpenSource;
    }
    if (!Flv_ReadHeader(reader.get(), &header)) {
      FlvMetaDropReservation(meta.get(), writer.get());
      std::fprintf(FMessages, "Can't read from source flv %s, bad flv ?", aSources[i]);
      return bcBadSource;
    }
    // The output takes the first source's header; later headers are only checked.
    if (i == 0) {
      if (!Flv_WriteHeader(writer.get(), &header)) return writeFailed();
      FlvMetaReserveTag(meta.get(), writer.get(), &header);
    }
    if (!CopySource(reader.get(), writer.get(), meta.get(), offset)) return writeFailed();
  }
  reader.reset();
  if (!FlushFileWriteAble(writer.get())) return writeFailed();
  if (FlvMetaPlaceTag(meta.get(), writer.get(), aOutput)) return bcDone;
  writer.reset();
  // A join without metadata is still a complete join: these results do not change the status.
  FlvMetaParseFromFile(meta.get(), aOutput);
  FlvMetaUpdateToFile(meta.get(), aOutput);
  return bcDone;
}
