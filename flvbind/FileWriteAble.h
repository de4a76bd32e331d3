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

  // A gap of aCount bytes at the current position, to be filled once what belongs there is known.
  // When a later write finds no room (a full disk, a size limit), the gap is closed and the write
  // goes on, so the gap never fails a write that would have succeeded without it. No gap in a file
  // that cannot be read back.
  void ReserveGap(int64_t aCount);
  int64_t GapSize() const { return FGapSize; }
  void FillGap(const void* aData);  // GapSize() bytes; the gap is then part of the file
  // Moves everything after the gap down over it, so the file reads as if it had never been there.
  void CloseGap();
  // The file's identity, to tell whether a path still names it.
  bool IsFileAt(const std::string& aPath) const;

private:
  explicit FileWriteAble(int aHandle);
  // Writes every byte of aPieces.
  void WriteAll(iovec* aPieces, int aCount);

  int FHandle;
  std::unique_ptr<char[]> FBuffer;
  int64_t FBuffered = 0;
  int FReadHandle = -1;  // the same file, for reading back
  int64_t FGapStart = 0, FGapSize = 0;
};
