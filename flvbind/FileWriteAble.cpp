#include "flvbind/FileWriteAble.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "flvbind/FileReadAble.h"
#include "flvbind/FlvErrors.h"

namespace {
[[noreturn]] void RaiseWriteError() { throw EclFlvFileError("error", fecWrite); }
}  // namespace

std::unique_ptr<FileWriteAble> FileWriteAble::Create(const std::string& aPath) {
  int handle = ::open(aPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (handle < 0) return nullptr;
  return std::unique_ptr<FileWriteAble>(new FileWriteAble(handle));
}

FileWriteAble::~FileWriteAble() { ::close(FHandle); }

int64_t FileWriteAble::Size() {
  struct stat st;
  if (::fstat(FHandle, &st) != 0) RaiseWriteError();
  return st.st_size;
}

int64_t FileWriteAble::SetSize(int64_t aSize) {
  if (aSize < 0 || ::ftruncate(FHandle, aSize) != 0) RaiseWriteError();
  Seek(0, SEEK_SET);
  return aSize;
}

int64_t FileWriteAble::Tell() { return Seek(0, SEEK_CUR); }

int64_t FileWriteAble::Seek(int64_t aDistance, int aOrigin) {
  off_t pos = ::lseek(FHandle, aDistance, aOrigin);
  if (pos < 0) RaiseWriteError();
  return pos;
}

void FileWriteAble::Write(const void* aBuffer, int64_t aCount) {
  // A short write (a signal, a disk filling up) is retried; the retry then reports the real cause.
  const char* p = static_cast<const char*>(aBuffer);
  while (aCount > 0) {
    ssize_t n = ::write(FHandle, p, static_cast<size_t>(aCount));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) RaiseWriteError();
    p += n;
    aCount -= n;
  }
}

void FileWriteAble::CopyFrom(FileReadAble& aSource, int64_t aPosition, int64_t aCount) {
  loff_t from = aPosition;
  while (aCount > 0) {
    ssize_t n = ::copy_file_range(aSource.Handle(), &from, FHandle, nullptr, static_cast<size_t>(aCount), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) break;
    if (n < 0) throw EclFlvFileError("ferror", fecIoError);
    if (n == 0) throw EclFlvFileError("feof", fecEndOfData);  // the source shrank under us
    aCount -= n;
  }
  // File systems without in-kernel copies: through a buffer.
  std::vector<char> buffer(aCount > 0 ? 1 << 20 : 0);
  while (aCount > 0) {
    ssize_t n = ::pread(aSource.Handle(), buffer.data(), std::min<int64_t>(aCount, buffer.size()), from);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EclFlvFileError("ferror", fecIoError);
    if (n == 0) throw EclFlvFileError("feof", fecEndOfData);
    Write(buffer.data(), n);
    from += n;
    aCount -= n;
  }
}
