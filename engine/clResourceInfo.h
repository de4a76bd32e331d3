#pragma once
// What the engine learned about a remote resource from the server's reply: size, date, type and
// whether it can be fetched in pieces.
#include <cstdint>
#include <memory>
#include <string>

#include "common/clDateTime.h"

class TclResourceInfo {
public:
  // Size 0, Date now, everything else empty.
  TclResourceInfo();

  // Copies every field; random access as the source answers it. Null resets every field, Date
  // included (to 0).
  void Assign(const TclResourceInfo* aSource);

  int64_t Size() const { return FSize; }
  void SetSize(int64_t aValue) { FSize = aValue; }
  // The path part of the URL.
  const std::string& Name() const { return FName; }
  void SetName(const std::string& aValue) { FName = aValue; }
  TDateTime Date() const { return FDate; }
  void SetDate(TDateTime aValue) { FDate = aValue; }
  const std::string& ContentType() const { return FContentType; }
  void SetContentType(const std::string& aValue) { FContentType = aValue; }
  int32_t StatusCode() const { return FStatusCode; }
  void SetStatusCode(int32_t aValue) { FStatusCode = aValue; }
  // Only a resource of known size can be fetched from any offset.
  bool AllowsRandomAccess() const { return FAllowsRandomAccess && FSize > 0; }
  void SetAllowsRandomAccess(bool aValue) { FAllowsRandomAccess = aValue; }
  const std::string& ContentDisposition() const { return FContentDisposition; }
  void SetContentDisposition(const std::string& aValue) { FContentDisposition = aValue; }
  // The reply body is gzip-encoded.
  bool Compressed() const { return FCompressed; }
  void SetCompressed(bool aValue) { FCompressed = aValue; }
  const std::string& StatusText() const { return FStatusText; }
  void SetStatusText(const std::string& aValue) { FStatusText = aValue; }

private:
  int64_t FSize = 0;
  std::string FName;
  TDateTime FDate = 0;
  std::string FContentType;
  int32_t FStatusCode = 0;
  bool FAllowsRandomAccess = false;
  std::string FContentDisposition;
  bool FCompressed = false;
  std::string FStatusText;
};

// A worker's resource info: the one its item gave it (not owned), else one of its own, made on
// first need and named after the URL's path.
class TclResourceInfoHolder {
public:
  // The given info, else the own one; null while there is neither.
  TclResourceInfo* Get() const { return FGiven ? FGiven : FOwn.get(); }
  TclResourceInfo& Ensure();
  // Giving one frees the own one.
  void SetGiven(TclResourceInfo* aInfo);
  void FreeOwn() { FOwn.reset(); }
  // The name an own info gets.
  void SetName(const std::string& aName) { FName = aName; }

private:
  TclResourceInfo* FGiven = nullptr;
  std::unique_ptr<TclResourceInfo> FOwn;
  std::string FName;
};
