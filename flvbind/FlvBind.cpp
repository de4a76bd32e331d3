// FlvBind: joins FLV files into one. Every source's audio and video tags are copied in order onto
// one clock (each source continues at the time of the previous one's last tag); then the result
// gets a fresh "onMetaData" tag. All text goes to the standard error stream.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "flvbind/FLVLib.h"

namespace {

enum TBindExitCode {
  bcUsage = -1,
  bcDone = 0,
  bcCannotCreateOutput = 1,
  bcCannotOpenSource = 2,
  bcBadSource = 3,
  bcWriteFailed = 4,
  bcOutputIsSource = 5,
};

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

void PrintBanner() {
  std::fputs("FlvBind - FLV file binder\n"
             "Joins the audio and video of FLV files into one file with continuous timestamps\n"
             "and writes a fresh onMetaData tag\n",
             stderr);
}

// Creating the output truncates it, so a source named again as the output would be lost.
const char* SourceThatIsOutput(const char* aOutput, char** aSources, int aCount) {
  struct stat out, src;
  if (::stat(aOutput, &out) != 0) return nullptr;
  for (int i = 0; i < aCount; ++i)
    if (::stat(aSources[i], &src) == 0 && src.st_dev == out.st_dev && src.st_ino == out.st_ino) return aSources[i];
  return nullptr;
}

// Opens a source and reads its header, reporting a failure by its exit code.
int OpenSource(const char* aPath, TReader& aReader, FlvHeaderRecord& aHeader) {
  aReader.reset(CreateFileReadAble(aPath));
  if (!aReader) {
    std::fprintf(stderr, "Can't open source flv %s", aPath);
    return bcCannotOpenSource;
  }
  if (!Flv_ReadHeader(aReader.get(), &aHeader)) {
    std::fprintf(stderr, "Can't read from source flv %s, bad flv ?", aPath);
    return bcBadSource;
  }
  return bcDone;
}

void SetTagTime(FlvTagRecord& aTag, uint32_t aTime) {
  aTag.rawBuffer[4] = static_cast<uint8_t>(aTime >> 16);
  aTag.rawBuffer[5] = static_cast<uint8_t>(aTime >> 8);
  aTag.rawBuffer[6] = static_cast<uint8_t>(aTime);
  aTag.rawBuffer[7] = static_cast<uint8_t>(aTime >> 24);
}

// Copies the audio and video tags of one source, shifted by aOffset, then moves aOffset on to the
// source's end. The end is its latest tag time, which is its last tag's in a file ordered by time;
// muxers may close a file with an earlier tag (an H.264 end of sequence), and taking that one
// would make the other stream's next times go back. False when a write failed.
bool CopySource(FileReadAble* aReader, FileWriteAble* aWriter, uint32_t& aOffset) {
  FlvTagRecord tag{};
  uint32_t end = 0;
  while (Flv_ReadTag(aReader, 1, &tag)) {
    end = std::max(end, tag.timestamp);
    bool written = true;
    if (tag.type == FLV_TAG_AUDIO || tag.type == FLV_TAG_VIDEO) {
      SetTagTime(tag, tag.timestamp + aOffset);
      written = Flv_WriteTag(aWriter, &tag) != 0;
    }
    Flv_FreeTag(&tag);
    if (!written) return false;
  }
  aOffset += end;
  return true;
}

int ReportWriteFailure(const char* aOutput, TWriter& aWriter) {
  aWriter.reset();
  // An incomplete join must not pass for a finished one (devices are left alone).
  struct stat st;
  if (::stat(aOutput, &st) == 0 && S_ISREG(st.st_mode)) ::unlink(aOutput);
  std::fprintf(stderr, "Can't write to output file %s, is the disk full ?\n", aOutput);
  return bcWriteFailed;
}

int Bind(const char* aOutput, char** aSources, int aCount) {
  if (const char* source = SourceThatIsOutput(aOutput, aSources, aCount)) {
    std::fprintf(stderr, "The output file %s is also a source flv, choose another output file\n", source);
    return bcOutputIsSource;
  }
  TWriter writer(CreateFileWriteAble(aOutput));
  if (!writer) {
    std::fputs("Can't create output file for writing, make sure the output path is writable\n", stderr);
    return bcCannotCreateOutput;
  }
  TReader reader;
  FlvHeaderRecord header{};
  if (int code = OpenSource(aSources[0], reader, header)) return code;
  if (!Flv_WriteHeader(writer.get(), &header)) return ReportWriteFailure(aOutput, writer);
  uint32_t offset = 0;
  for (int i = 0;; ++i) {
    if (!CopySource(reader.get(), writer.get(), offset)) return ReportWriteFailure(aOutput, writer);
    if (i + 1 == aCount) break;
    if (int code = OpenSource(aSources[i + 1], reader, header)) return code;
  }
  reader.reset();
  writer.reset();
  // A join without metadata is still a complete join: these results do not change the status.
  std::unique_ptr<FlvMetaObject, TMetaDeleter> meta(FlvMetaCreateObject());
  FlvMetaParseFromFile(meta.get(), aOutput);
  FlvMetaUpdateToFile(meta.get(), aOutput);
  return bcDone;
}

}  // namespace

int main(int argc, char** argv) {
  PrintBanner();
  if (argc < 3) {
    std::fputs("Usage: flvbind dest_file src_file1 src_file2 ...", stderr);
    return bcUsage;
  }
  return Bind(argv[1], argv + 2, argc - 2);
}
