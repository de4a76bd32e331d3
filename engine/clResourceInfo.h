#pragma once
// What the engine learned about a remote resource from the server's reply: size, date, type and
// whether it can be fetched in pieces.
#include <cstdint>
#include <memory>
#include <string>

#include "common/clDateTime.h"
#include "common/clLink.h"

// Given to workers, which hold it through a link: one destroyed before them is not used.
class TclResourceInfo : public TclLinkTarget {
public:
  // Size 0, Date now, everything else empty.
  TclResourceInfo();

  // Copies every field; random access as the source answers it. Null resets every field, Date
  // included (to 0).
  void Assign(const TclResourceInfo* aSource);

  int64_t Size() const { return FFields.Size; }
  void SetSize(int64_t aValue) { FFields.Size = aValue; }
  // The path part of the URL.
  const std::string& Name() const { return FFields.Name; }
  void SetName(const std::string& aValue) { FFields.Name = aValue; }
  TDateTime Date() const { return FFields.Date; }
  void SetDate(TDateTime aValue) { FFields.Date = aValue; }
  const std::string& ContentType() const { return FFields.ContentType; }
  void SetContentType(const std::string& aValue) { FFields.ContentType = aValue; }
  int32_t StatusCode() const { return FFields.StatusCode; }
  void SetStatusCode(int32_t aValue) { FFields.StatusCode = aValue; }
  // Only a resource of known size can be fetched from any offset.
  bool AllowsRandomAccess() const { return FFields.AllowsRandomAccess && FFields.Size > 0; }
  void SetAllowsRandomAccess(bool aValue) { FFields.AllowsRandomAccess = aValue; }
  const std::string& ContentDisposition() const { return FFields.ContentDisposition; }
  void SetContentDisposition(const std::string& aValue) { FFields.ContentDisposition = aValue; }
  // The reply body is gzip-encoded.
  bool Compressed() const { return FFields.Compressed; }
  void SetCompressed(bool aValue) { FFields.Compressed = aValue; }
  const std::string& StatusText() const { return FFields.StatusText; }
  void SetStatusText(const std::string& aValue) { FFields.StatusText = aValue; }

private:
  // Kept apart from the link, which an assignment must leave alone.
  struct TFields {
    int64_t Size = 0;
    std::string Name;
    TDateTime Date = 0;
    std::string ContentType;
    int32_t StatusCode = 0;
    bool AllowsRandomAccess = false;
    std::string ContentDisposition;
    bool Compressed = false;
    std::string StatusText;
  };
  TFields FFields;
};

// A worker's resource info: the one its item gave it (linked, not owned), else one of its own,
// made on first need and named after the URL's path.
class TclResourceInfoHolder {
public:
  // The given info while it lives, else the own one; null while there is neither.
  TclResourceInfo* Get() const {
    TclResourceInfo* given = FGiven.Get();
    return given ? given : FOwn.get();
  }
  TclResourceInfo& Ensure();
  // Giving one frees the own one.
  void SetGiven(TclResourceInfo* aInfo);
  void FreeOwn() { FOwn.reset(); }
  // The name an own info gets.
  void SetName(const std::string& aName) { FName = aName; }

private:
  TclLink<TclResourceInfo> FGiven;
  std::unique_ptr<TclResourceInfo> FOwn;
  std::string FName;
};
