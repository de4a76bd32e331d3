#include "flvbind/FileWriteAble.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "flvbind/FileReadAble.h"
#include "flvbind/FlvErrors.h"

namespace {
constexpr int64_t cBufferSize = 1 << 20;
constexpr int64_t cDirectSize = 64 << 10;  // written without going through the buffer

[[noreturn]] void RaiseWriteError() { throw EclFlvFileError("error", fecWrite); }
bool IsNoRoom(int aError) { return aError == ENOSPC || aError == EFBIG || aError == EDQUOT; }
}  // namespace

std::unique_ptr<FileWriteAble> FileWriteAble::Create(const std::string& aPath) {
  int handle = ::open(aPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (handle < 0) return nullptr;
  std::unique_ptr<FileWriteAble> writer(new FileWriteAble(handle));
  // Closing a gap reads back bytes already written: the same regular file opened for reading too,
  // where that is allowed (a pipe or a device gets no gap).
  struct stat st;
  if (::fstat(handle, &st) == 0 && S_ISREG(st.st_mode))
    writer->FReadHandle = ::open(("/proc/self/fd/" + std::to_string(handle)).c_str(), O_RDONLY | O_CLOEXEC);
  return writer;
}

FileWriteAble::FileWriteAble(int aHandle) : FHandle(aHandle), FBuffer(new char[cBufferSize]) {}

// Whoever needs to know that every byte landed calls Flush first.
FileWriteAble::~FileWriteAble() {
  try {
    Flush();
  } catch (const EclFlvFileError&) {
  }
  ::close(FHandle);
  if (FReadHandle >= 0) ::close(FReadHandle);
}

void FileWriteAble::Flush() {
  iovec piece{FBuffer.get(), static_cast<size_t>(FBuffered)};
  FBuffered = 0;  // after a failure the bytes are lost either way
  WriteAll(&piece, 1);
}

int64_t FileWriteAble::Size() {
  Flush();
  struct stat st;
  if (::fstat(FHandle, &st) != 0) RaiseWriteError();
  return st.st_size;
}

int64_t FileWriteAble::SetSize(int64_t aSize) {
  Flush();
  if (aSize < 0 || ::ftruncate(FHandle, aSize) != 0) RaiseWriteError();
  Seek(0, SEEK_SET);
  return aSize;
}

int64_t FileWriteAble::Tell() { return Seek(0, SEEK_CUR); }

int64_t FileWriteAble::Seek(int64_t aDistance, int aOrigin) {
  Flush();
  off_t pos = ::lseek(FHandle, aDistance, aOrigin);
  if (pos < 0) RaiseWriteError();
  return pos;
}

void FileWriteAble::Write(const void* aBuffer, int64_t aCount) {
  if (FBuffered + aCount <= cBufferSize && aCount < cDirectSize) {
    std::memcpy(FBuffer.get() + FBuffered, aBuffer, static_cast<size_t>(aCount));
    FBuffered += aCount;
    return;
  }
  // A large write goes out as it is, after what the buffer holds and with the same system call.
  iovec pieces[2] = {{FBuffer.get(), static_cast<size_t>(FBuffered)},
                     {const_cast<void*>(aBuffer), static_cast<size_t>(aCount)}};
  FBuffered = 0;  // after a failure the bytes are lost either way
  WriteAll(pieces, 2);
}

void FileWriteAble::WriteAll(iovec* aPieces, int aCount) {
  // A short write (a signal, a disk filling up) is retried; the retry then reports the real cause.
  for (;;) {
    while (aCount > 0 && aPieces->iov_len == 0) ++aPieces, --aCount;
    if (aCount == 0) return;
    ssize_t n = ::writev(FHandle, aPieces, aCount);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && IsNoRoom(errno) && FGapSize > 0) {
      CloseGap();
      continue;
    }
    if (n <= 0) RaiseWriteError();
    for (size_t done = static_cast<size_t>(n); done > 0;) {
      size_t part = std::min(done, aPieces->iov_len);
      aPieces->iov_base = static_cast<char*>(aPieces->iov_base) + part;
      aPieces->iov_len -= part;
      done -= part;
      if (aPieces->iov_len == 0) ++aPieces, --aCount;
    }
  }
}

void FileWriteAble::CopyFrom(FileReadAble& aSource, int64_t aPosition, int64_t aCount) {
  Flush();
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

// Written at once, so that everything after the gap reaches the file after it.
void FileWriteAble::ReserveGap(int64_t aCount) {
  if (FReadHandle < 0) return;
  FGapStart = Tell();
  const std::vector<char> zeros(static_cast<size_t>(aCount));
  for (int64_t done = 0; done < aCount;) {
    ssize_t n = ::pwrite(FHandle, zeros.data() + done, static_cast<size_t>(aCount - done), FGapStart + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && IsNoRoom(errno)) {  // no room even for the gap: the file goes on without one
      if (::ftruncate(FHandle, FGapStart) != 0) RaiseWriteError();
      return;
    }
    if (n <= 0) RaiseWriteError();
    done += n;
  }
  Seek(aCount, SEEK_CUR);
  FGapSize = aCount;
}

void FileWriteAble::FillGap(const void* aData) {
  Flush();  // the buffer may still hold the gap's zeros
  const char* data = static_cast<const char*>(aData);
  for (int64_t done = 0; done < FGapSize;) {
    ssize_t n = ::pwrite(FHandle, data + done, static_cast<size_t>(FGapSize - done), FGapStart + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) RaiseWriteError();
    done += n;
  }
  FGapSize = 0;
}

// Called from WriteAll too, with bytes still waiting in the buffer: it goes round the buffer.
void FileWriteAble::CloseGap() {
  const off_t end = ::lseek(FHandle, 0, SEEK_CUR);
  if (end < 0) RaiseWriteError();
  std::vector<char> buffer(1 << 20);
  for (int64_t from = FGapStart + FGapSize; from < end;) {
    ssize_t n = ::pread(FReadHandle, buffer.data(), std::min<int64_t>(end - from, buffer.size()), from);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) RaiseWriteError();
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::pwrite(FHandle, buffer.data() + done, n - done, from - FGapSize + done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) RaiseWriteError();
      done += w;
    }
    from += n;
  }
  if (::ftruncate(FHandle, end - FGapSize) != 0 || ::lseek(FHandle, end - FGapSize, SEEK_SET) < 0) RaiseWriteError();
  FGapSize = 0;
}

bool FileWriteAble::IsFileAt(const std::string& aPath) const {
  struct stat mine, named;
  return ::fstat(FHandle, &mine) == 0 && ::lstat(aPath.c_str(), &named) == 0 && mine.st_dev == named.st_dev &&
         mine.st_ino == named.st_ino;
}
