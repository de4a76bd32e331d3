#pragma once
// Byte streams shared by the whole component set: callers hand them to the HTTP client, the
// request object and the download engine, which read or write them without owning them.
#include <cstdint>
#include <string>
#include <vector>

#include "common/clErrors.h"

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class EStreamError : public EclError {
public:
  explicit EStreamError(const std::string& aMessage) : EclError(aMessage, -1) {}
};

class TStream {
public:
  virtual ~TStream() = default;
  // Read/Write move at most aCount bytes and return how many moved.
  virtual int64_t Read(void* aBuffer, int64_t aCount) = 0;
  virtual int64_t Write(const void* aBuffer, int64_t aCount) = 0;
  virtual int64_t Seek(int64_t aOffset, TSeekOrigin aOrigin) = 0;
  virtual void SetSize(int64_t aSize) = 0;

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t aPosition) { Seek(aPosition, soBeginning); }
  int64_t Size();
  // Exact forms: raise EStreamError when fewer bytes moved.
  void ReadBuffer(void* aBuffer, int64_t aCount);
  void WriteBuffer(const void* aBuffer, int64_t aCount);
  // Copies aCount bytes from aSource (0: all of it from its start); returns the count copied.
  int64_t CopyFrom(TStream& aSource, int64_t aCount);
};

class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string aData) : FData(std::move(aData)) {}
  int64_t Read(void* aBuffer, int64_t aCount) override;
  int64_t Write(const void* aBuffer, int64_t aCount) override;
  int64_t Seek(int64_t aOffset, TSeekOrigin aOrigin) override;
  void SetSize(int64_t aSize) override;
  void Clear();
  const std::string& Data() const { return FData; }

private:
  std::string FData;
  int64_t FPosition = 0;
};

// Takes and drops everything written to it (a body nobody asked for, a benchmark's sink).
class TclNullStream : public TStream {
public:
  int64_t Read(void* aBuffer, int64_t aCount) override { return 0; }
  int64_t Write(const void* aBuffer, int64_t aCount) override;
  // Every position is the count of bytes written.
  int64_t Seek(int64_t aOffset, TSeekOrigin aOrigin) override { return FWritten; }
  void SetSize(int64_t aSize) override {}
  int64_t Written() const { return FWritten; }

private:
  int64_t FWritten = 0;
};

enum TFileMode { fmOpenRead, fmOpenReadWrite, fmCreate };

class TFileStream : public TStream {
public:
  // fmCreate truncates or creates; the others open an existing file. Raises EStreamError.
  TFileStream(const std::string& aFileName, TFileMode aMode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  int64_t Read(void* aBuffer, int64_t aCount) override;
  // Raises EStreamError naming the file and the system's reason when the write fails.
  int64_t Write(const void* aBuffer, int64_t aCount) override;
  int64_t Seek(int64_t aOffset, TSeekOrigin aOrigin) override;
  void SetSize(int64_t aSize) override;
  // Makes the file at least aSize bytes long with all of its space allocated on disk, so that no
  // write inside it can run out of room later; a disk without the room raises EStreamError.
  void Reserve(int64_t aSize);
  const std::string& FileName() const { return FFileName; }

private:
  std::string FFileName;
  int FHandle = -1;
  // Kept here rather than in the file handle: a positioned write is one system call, not two.
  int64_t FPosition = 0;
};
