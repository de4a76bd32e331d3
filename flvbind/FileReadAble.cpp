#include "flvbind/FileReadAble.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "flvbind/BigEndian.h"
#include "flvbind/FlvErrors.h"

namespace {
// Four times stdio's own: many small tags come with one system call, while the metadata scan,
// which only wants the header of each tag, reads little past it when the tags are large (it
// skips their data by seeking). Reads at least this large go straight into the caller's memory.
constexpr size_t cBufferSize = 16 << 10;
}  // namespace

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

FileReadAble::FileReadAble(FILE* aStream) : FBuffer(new char[cBufferSize]), FStream(aStream) {
  std::setvbuf(FStream, FBuffer.get(), _IOFBF, cBufferSize);
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

void FileReadAble::Skip(int64_t aCount) {
  if (aCount < 0 || aCount >= static_cast<int64_t>(cBufferSize)) {
    Seek(aCount, SEEK_CUR);
    return;
  }
  char scratch[4096];
  for (int64_t part; aCount > 0; aCount -= part) {
    part = std::min<int64_t>(aCount, sizeof scratch);
    Read(scratch, part);
  }
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
