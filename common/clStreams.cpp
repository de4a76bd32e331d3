#include "common/clStreams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::ReadBuffer(void* aBuffer, int64_t aCount) {
  auto* p = static_cast<char*>(aBuffer);
  while (aCount > 0) {
    int64_t n = Read(p, aCount);
    if (n <= 0) throw EStreamError("Stream read error");
    p += n;
    aCount -= n;
  }
}

void TStream::WriteBuffer(const void* aBuffer, int64_t aCount) {
  auto* p = static_cast<const char*>(aBuffer);
  while (aCount > 0) {
    int64_t n = Write(p, aCount);
    if (n <= 0) throw EStreamError("Stream write error");
    p += n;
    aCount -= n;
  }
}

int64_t TStream::CopyFrom(TStream& aSource, int64_t aCount) {
  if (aCount == 0) {
    aSource.SetPosition(0);
    aCount = aSource.Size();
  }
  char buf[65536];
  int64_t done = 0;
  while (done < aCount) {
    int64_t n = aSource.Read(buf, std::min<int64_t>(sizeof buf, aCount - done));
    if (n <= 0) throw EStreamError("Stream read error");
    WriteBuffer(buf, n);
    done += n;
  }
  return done;
}

int64_t TMemoryStream::Read(void* aBuffer, int64_t aCount) {
  int64_t n = std::min<int64_t>(aCount, int64_t(FData.size()) - FPosition);
  if (n <= 0) return 0;
  std::memcpy(aBuffer, FData.data() + FPosition, size_t(n));
  FPosition += n;
  return n;
}

int64_t TMemoryStream::Write(const void* aBuffer, int64_t aCount) {
  if (aCount <= 0) return 0;
  if (FPosition + aCount > int64_t(FData.size())) FData.resize(size_t(FPosition + aCount));
  std::memcpy(FData.data() + FPosition, aBuffer, size_t(aCount));
  FPosition += aCount;
  return aCount;
}

int64_t TMemoryStream::Seek(int64_t aOffset, TSeekOrigin aOrigin) {
  int64_t base = aOrigin == soBeginning ? 0 : aOrigin == soCurrent ? FPosition : int64_t(FData.size());
  FPosition = std::max<int64_t>(0, base + aOffset);
  return FPosition;
}

void TMemoryStream::SetSize(int64_t aSize) {
  FData.resize(size_t(std::max<int64_t>(0, aSize)));
  FPosition = std::min<int64_t>(FPosition, aSize);
}

void TMemoryStream::Clear() {
  FData.clear();
  FPosition = 0;
}

int64_t TclNullStream::Write(const void* aBuffer, int64_t aCount) {
  if (aCount <= 0) return 0;
  FWritten += aCount;
  return aCount;
}

TFileStream::TFileStream(const std::string& aFileName, TFileMode aMode) : FFileName(aFileName) {
  int flags = aMode == fmOpenRead ? O_RDONLY : aMode == fmOpenReadWrite ? O_RDWR : (O_RDWR | O_CREAT | O_TRUNC);
  FHandle = ::open(aFileName.c_str(), flags | O_CLOEXEC, 0644);
  if (FHandle < 0)
    throw EStreamError("Cannot open file \"" + aFileName + "\". " + std::strerror(errno));
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* aBuffer, int64_t aCount) {
  ssize_t n;
  do n = ::pread(FHandle, aBuffer, size_t(aCount), FPosition); while (n < 0 && errno == EINTR);
  if (n <= 0) return 0;
  FPosition += n;
  return n;
}

int64_t TFileStream::Write(const void* aBuffer, int64_t aCount) {
  ssize_t n;
  do n = ::pwrite(FHandle, aBuffer, size_t(aCount), FPosition); while (n < 0 && errno == EINTR);
  // The reason (a full disk, a file size limit) is known only here.
  if (n < 0) throw EStreamError("Cannot write file \"" + FFileName + "\". " + std::strerror(errno));
  if (n == 0) return 0;
  FPosition += n;
  return n;
}

int64_t TFileStream::Seek(int64_t aOffset, TSeekOrigin aOrigin) {
  int64_t base = aOrigin == soBeginning ? 0 : FPosition;
  if (aOrigin == soEnd) {
    struct stat info {};
    if (::fstat(FHandle, &info) != 0) return -1;
    base = info.st_size;
  }
  if (base + aOffset < 0) return -1;
  FPosition = base + aOffset;
  return FPosition;
}

void TFileStream::SetSize(int64_t aSize) {
  if (::ftruncate(FHandle, aSize) != 0)
    throw EStreamError("Cannot resize file \"" + FFileName + "\". " + std::strerror(errno));
}

void TFileStream::Reserve(int64_t aSize) {
  if (aSize <= 0) return;
  const int error = ::posix_fallocate(FHandle, 0, aSize);
  if (error != 0)
    throw EStreamError("Cannot reserve " + std::to_string(aSize) + " bytes for file \"" + FFileName + "\". " +
                       std::strerror(error));
}
