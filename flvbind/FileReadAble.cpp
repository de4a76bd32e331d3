#include "flvbind/FileReadAble.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "flvbind/BigEndian.h"
#include "flvbind/FlvErrors.h"

std::unique_ptr<FileReadAble> FileReadAble::Open(const std::string& aPath, size_t aBufferSize) {
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
  std::unique_ptr<FileReadAble> reader(new FileReadAble(stream, aBufferSize));
  try {
    reader->FSize = reader->Seek(0, SEEK_END);
    reader->Seek(0, SEEK_SET);
  } catch (const EclFlvFileError&) {
    return nullptr;
  }
  return reader;
}

// Reads of tag data at least as large as the buffer go straight into the tag.
FileReadAble::FileReadAble(FILE* aStream, size_t aBufferSize) : FStream(aStream) {
  if (aBufferSize == 0) return;
  FBuffer.reset(new char[aBufferSize]);
  std::setvbuf(FStream, FBuffer.get(), _IOFBF, aBufferSize);
}

FileReadAble::~FileReadAble() { std::fclose(FStream); }

int64_t FileReadAble::Tell() { return FPosition; }

int64_t FileReadAble::Seek(int64_t aOffset, int aOrigin) {
  static_assert(sizeof(off_t) == 8, "64-bit file positions");
  if (aOrigin == SEEK_CUR) {
    aOffset += FPosition;
    aOrigin = SEEK_SET;
  }
  if (fseeko(FStream, aOffset, aOrigin) != 0) throw EclFlvFileError("fseek error", fecSeek);
  FPosition = aOrigin == SEEK_SET ? aOffset : ftello(FStream);
  if (FPosition < 0) throw EclFlvFileError("fseek error", fecSeek);
  return FPosition;
}

void FileReadAble::Read(void* aBuffer, int64_t aCount) {
  if (std::ferror(FStream)) throw EclFlvFileError("ferror", fecIoError);
  if (std::feof(FStream)) throw EclFlvFileError("feof", fecEndOfData);
  size_t got = std::fread(aBuffer, 1, static_cast<size_t>(aCount), FStream);
  FPosition += static_cast<int64_t>(got);
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
