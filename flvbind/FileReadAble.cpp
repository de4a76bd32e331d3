#include "flvbind/FileReadAble.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "flvbind/BigEndian.h"
#include "flvbind/FlvErrors.h"

std::unique_ptr<FileReadAble> FileReadAble::Open(const std::string& aPath) {
  // Only regular files: a folder cannot be read, and opening a named pipe would wait for a writer.
  int handle = ::open(aPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st;
  if (handle < 0) return nullptr;
  if (::fstat(handle, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(handle, F_SETFL, 0) != 0) {
    ::close(handle);
    return nullptr;
  }
  FILE* stream = ::fdopen(handle, "rb");
  if (!stream) {
    ::close(handle);
    return nullptr;
  }
  std::unique_ptr<FileReadAble> reader(new FileReadAble(stream));
  try {
    reader->FSize = reader->Seek(0, SEEK_END);
    reader->Seek(0, SEEK_SET);
  } catch (const EclFlvFileError&) {
    return nullptr;
  }
  return reader;
}

// stdio's own block-sized buffer: a larger one would read far past each tag header when tag data
// is skipped by seeking, and tag data larger than the buffer is read straight into the tag.
FileReadAble::FileReadAble(FILE* aStream) : FStream(aStream) {}

FileReadAble::~FileReadAble() { std::fclose(FStream); }

int64_t FileReadAble::Tell() {
  off_t pos = ftello(FStream);
  if (pos < 0) throw EclFlvFileError("fseek error", fecSeek);
  return pos;
}

int64_t FileReadAble::Seek(int64_t aOffset, int aOrigin) {
  static_assert(sizeof(off_t) == 8, "64-bit file positions");
  if (fseeko(FStream, aOffset, aOrigin) != 0) throw EclFlvFileError("fseek error", fecSeek);
  return Tell();
}

void FileReadAble::Read(void* aBuffer, int64_t aCount) {
  if (std::ferror(FStream)) throw EclFlvFileError("ferror", fecIoError);
  if (std::feof(FStream)) throw EclFlvFileError("feof", fecEndOfData);
  size_t got = std::fread(aBuffer, 1, static_cast<size_t>(aCount), FStream);
  if (std::ferror(FStream)) throw EclFlvFileError("ferror", fecIoError);
  if (got < static_cast<size_t>(aCount)) throw EclFlvFileError("feof", fecEndOfData);
}

uint8_t FileReadAble::ReadByte() {
  uint8_t b;
  Read(&b, 1);
  return b;
}

uint32_t FileReadAble::ReadUInt(int aBytes) {
  uint8_t b[4];
  Read(b, aBytes);
  return static_cast<uint32_t>(GetBigEndian(b, aBytes));
}
