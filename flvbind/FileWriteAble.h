#pragma once
// A writable FLV file: a file handle, created anew (an existing file is truncated), written
// through a large buffer so that a join of many small tags costs few system calls. A failed
// write shows at the write that sends the buffer on, or at Flush. Positions are 64-bit.
#include <sys/uio.h>

#include <cstdint>
#include <memory>
#include <string>

#include "flvbind/FLVLib.h"

struct FileReadAble;

struct FileWriteAble {
public:
  // Null when the file cannot be created.
  static std::unique_ptr<FileWriteAble> Create(const std::string& aPath);
  ~FileWriteAble();
  FileWriteAble(const FileWriteAble&) = delete;
  FileWriteAble& operator=(const FileWriteAble&) = delete;

  // Each raises EclFlvFileError ("error") when the system reports one.
  // Writes what the buffer holds.
  void Flush();
  int64_t Size();
  int64_t SetSize(int64_t aSize);  // ends the file at aSize and moves back to position 0
  int64_t Tell();
  int64_t Seek(int64_t aDistance, int aOrigin);
  void Write(const void* aBuffer, int64_t aCount);  // all of aCount bytes, or an error
  // Appends aCount bytes of aSource from aPosition, copied inside the kernel where it can.
  void CopyFrom(FileReadAble& aSource, int64_t aPosition, int64_t aCount);

private:
  explicit FileWriteAble(int aHandle);
  // Writes every byte of aPieces.
  void WriteAll(iovec* aPieces, int aCount);

  int FHandle;
  std::unique_ptr<char[]> FBuffer;
  int64_t FBuffered = 0;
};
