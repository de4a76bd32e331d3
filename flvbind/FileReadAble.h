#pragma once
// A readable FLV file: a buffered standard I/O stream with the size measured once at opening.
// Positions are 64-bit, so files of 2 GiB and more read like any other. The position is kept
// here, so that telling it costs no system call.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "flvbind/FLVLib.h"

struct FileReadAble {
public:
  // Null when the file cannot be opened for reading.
  static std::unique_ptr<FileReadAble> Open(const std::string& aPath);
  ~FileReadAble();
  FileReadAble(const FileReadAble&) = delete;
  FileReadAble& operator=(const FileReadAble&) = delete;

  int64_t Size() const { return FSize; }
  int64_t Tell();
  // aOrigin: 0 from the start, 1 from the current position, 2 from the end; returns the new position.
  int64_t Seek(int64_t aOffset, int aOrigin);
  // Delivers exactly aCount bytes or raises EclFlvFileError ("feof" or "ferror").
  void Read(void* aBuffer, int64_t aCount);
  // Moves aCount bytes forward, as Seek(aCount, 1) does. A stretch shorter than the buffer is read
  // through it: skipping the data of small tags then costs no system call of its own, where a
  // seek would cost one.
  void Skip(int64_t aCount);
  uint8_t ReadByte();
  // Big-endian unsigned integer of aBytes (1..4) bytes.
  uint32_t ReadUInt(int aBytes);
  // The file's system handle, for copies that bypass the stream (they leave its position alone).
  int Handle() const { return fileno(FStream); }

private:
  explicit FileReadAble(FILE* aStream);
  std::unique_ptr<char[]> FBuffer;  // outlives the stream, which is closed first
  FILE* FStream;
  int64_t FSize = 0;
  int64_t FPosition = 0;
};
