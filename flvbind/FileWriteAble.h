#pragma once
// A writable FLV file: an unbuffered file handle, created anew (an existing file is truncated);
// every write is one system write. Positions are 64-bit.
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
  int64_t Size();
  int64_t SetSize(int64_t aSize);  // ends the file at aSize and moves back to position 0
  int64_t Tell();
  int64_t Seek(int64_t aDistance, int aOrigin);
  void Write(const void* aBuffer, int64_t aCount);  // all of aCount bytes, or an error
  // Appends aCount bytes of aSource from aPosition, copied inside the kernel where it can.
  void CopyFrom(FileReadAble& aSource, int64_t aPosition, int64_t aCount);

private:
  explicit FileWriteAble(int aHandle) : FHandle(aHandle) {}
  int FHandle;
};
