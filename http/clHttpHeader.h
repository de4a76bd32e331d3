#pragma once
// Typed HTTP header fields. TclHttpEntityHeader holds the fields both directions share,
// TclHttpRequestHeader and TclHttpResponseHeader add their own. Values are kept as the wire text
// (trimmed, unfolded); fields a class does not know survive in ExtraFields as whole lines, so a
// header parsed and written again loses nothing.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/clStringsUtils.h"
#include "http/clHeaderFieldList.h"

class TclHttpEntityHeader {
public:
  TclHttpEntityHeader();
  virtual ~TclHttpEntityHeader() = default;
  TclHttpEntityHeader(const TclHttpEntityHeader&) = delete;
  TclHttpEntityHeader& operator=(const TclHttpEntityHeader&) = delete;

  // Copies the properties of every class both objects share.
  virtual void Assign(const TclHttpEntityHeader& aSource);
  virtual void Clear();
  // Fills the properties from header lines; a status or request line on top is skipped.
  void ParseHeader(const TStrings& aHeader);
  // Appends one line per non-empty property to aHeader (before its empty end line, if any).
  void AssignHeader(TStrings& aHeader) const;

  // Nested brackets defer OnChanged to the last EndUpdate.
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();
  void Update();
  std::function<void(TclHttpEntityHeader* aSender)> OnChanged;

  const std::string& CacheControl() const { return FCacheControl; }
  void SetCacheControl(const std::string& aValue) { SetField(FCacheControl, aValue); }
  const std::string& ProxyConnection() const { return FProxyConnection; }
  void SetProxyConnection(const std::string& aValue) { SetField(FProxyConnection, aValue); }
  const std::string& Connection() const { return FConnection; }
  void SetConnection(const std::string& aValue) { SetField(FConnection, aValue); }
  const std::string& ContentEncoding() const { return FContentEncoding; }
  void SetContentEncoding(const std::string& aValue) { SetField(FContentEncoding, aValue); }
  const std::string& LastModified() const { return FLastModified; }
  void SetLastModified(const std::string& aValue) { SetField(FLastModified, aValue); }
  // The media type of Content-Type only; its boundary and charset items are Boundary and CharSet.
  const std::string& ContentType() const { return FContentType; }
  void SetContentType(const std::string& aValue) { SetField(FContentType, aValue); }
  const std::string& ContentLanguage() const { return FContentLanguage; }
  void SetContentLanguage(const std::string& aValue) { SetField(FContentLanguage, aValue); }
  const std::string& ContentVersion() const { return FContentVersion; }
  void SetContentVersion(const std::string& aValue) { SetField(FContentVersion, aValue); }
  // Decimal text, as on the wire.
  const std::string& ContentLength() const { return FContentLength; }
  void SetContentLength(const std::string& aValue) { SetField(FContentLength, aValue); }
  const std::string& Expires() const { return FExpires; }
  void SetExpires(const std::string& aValue) { SetField(FExpires, aValue); }
  const std::string& Date() const { return FDate; }
  void SetDate(const std::string& aValue) { SetField(FDate, aValue); }
  // Every other field as one line "Name: value".
  const TStrings& ExtraFields() const { return FExtraFields; }
  void SetExtraFields(const TStrings& aValue) { SetLines(FExtraFields, aValue); }
  const std::string& TransferEncoding() const { return FTransferEncoding; }
  void SetTransferEncoding(const std::string& aValue) { SetField(FTransferEncoding, aValue); }
  const std::string& Boundary() const { return FBoundary; }
  void SetBoundary(const std::string& aValue) { SetField(FBoundary, aValue); }
  const std::string& CharSet() const { return FCharSet; }
  void SetCharSet(const std::string& aValue) { SetField(FCharSet, aValue); }

protected:
  // Registers field names this class reads itself; they never go to ExtraFields.
  void RegisterFields(std::initializer_list<const char*> aNames);
  virtual void ParseFields(const TclHeaderFieldList& aList);
  virtual void WriteFields(TclHeaderFieldList& aList) const;
  virtual void ParseContentType(const TclHeaderFieldList& aList);
  virtual void WriteContentType(TclHeaderFieldList& aList) const;
  // Stores a value that differs and notifies the change.
  void SetField(std::string& aField, const std::string& aValue);
  void SetLines(TStrings& aLines, const TStrings& aValue);

private:
  using TFieldTable = std::vector<std::pair<const char*, std::string TclHttpEntityHeader::*>>;
  // Plain fields in the order they are written; Content-Type goes after the first four.
  static const TFieldTable& Fields();
  bool IsKnownField(const std::string& aName) const;

  std::string FCacheControl;
  std::string FProxyConnection;
  std::string FConnection;
  std::string FContentEncoding;
  std::string FLastModified;
  std::string FContentType;
  std::string FContentLanguage;
  std::string FContentVersion;
  std::string FContentLength;
  std::string FExpires;
  std::string FDate;
  TStrings FExtraFields;
  std::string FTransferEncoding;
  std::string FBoundary;
  int32_t FUpdateCount = 0;
  TStrings FKnownFields;  // lower-cased
  std::string FCharSet;
};

class TclHttpRequestHeader : public TclHttpEntityHeader {
public:
  // A fresh request header has Accept "*/*" and nothing else.
  TclHttpRequestHeader();
  void Assign(const TclHttpEntityHeader& aSource) override;
  void Clear() override;

  const std::string& Referer() const { return FReferer; }
  void SetReferer(const std::string& aValue) { SetField(FReferer, aValue); }
  const std::string& AcceptEncoding() const { return FAcceptEncoding; }
  void SetAcceptEncoding(const std::string& aValue) { SetField(FAcceptEncoding, aValue); }
  const std::string& Accept() const { return FAccept; }
  void SetAccept(const std::string& aValue) { SetField(FAccept, aValue); }
  const std::string& UserAgent() const { return FUserAgent; }
  void SetUserAgent(const std::string& aValue) { SetField(FUserAgent, aValue); }
  const std::string& AcceptLanguage() const { return FAcceptLanguage; }
  void SetAcceptLanguage(const std::string& aValue) { SetField(FAcceptLanguage, aValue); }
  const std::string& AcceptCharSet() const { return FAcceptCharSet; }
  void SetAcceptCharSet(const std::string& aValue) { SetField(FAcceptCharSet, aValue); }
  const std::string& Authorization() const { return FAuthorization; }
  void SetAuthorization(const std::string& aValue) { SetField(FAuthorization, aValue); }
  const std::string& ProxyAuthorization() const { return FProxyAuthorization; }
  void SetProxyAuthorization(const std::string& aValue) { SetField(FProxyAuthorization, aValue); }
  const std::string& Range() const { return FRange; }
  void SetRange(const std::string& aValue) { SetField(FRange, aValue); }
  const std::string& Host() const { return FHost; }
  void SetHost(const std::string& aValue) { SetField(FHost, aValue); }

protected:
  void ParseFields(const TclHeaderFieldList& aList) override;
  void WriteFields(TclHeaderFieldList& aList) const override;

private:
  using TFieldTable = std::vector<std::pair<const char*, std::string TclHttpRequestHeader::*>>;
  static const TFieldTable& Fields();

  std::string FReferer;
  std::string FAcceptEncoding;
  std::string FAccept;
  std::string FUserAgent;
  std::string FAcceptLanguage;
  std::string FAcceptCharSet;
  std::string FAuthorization;
  std::string FProxyAuthorization;
  std::string FRange;
  std::string FHost;
};

class TclHttpResponseHeader : public TclHttpEntityHeader {
public:
  TclHttpResponseHeader();
  void Assign(const TclHttpEntityHeader& aSource) override;
  void Clear() override;

  const std::string& Age() const { return FAge; }
  void SetAge(const std::string& aValue) { SetField(FAge, aValue); }
  const std::string& AcceptRanges() const { return FAcceptRanges; }
  void SetAcceptRanges(const std::string& aValue) { SetField(FAcceptRanges, aValue); }
  const std::string& RetryAfter() const { return FRetryAfter; }
  void SetRetryAfter(const std::string& aValue) { SetField(FRetryAfter, aValue); }
  // One entry per WWW-Authenticate field, in order.
  const TStrings& Authenticate() const { return FAuthenticate; }
  void SetAuthenticate(const TStrings& aValue) { SetLines(FAuthenticate, aValue); }
  const std::string& Allow() const { return FAllow; }
  void SetAllow(const std::string& aValue) { SetField(FAllow, aValue); }
  // One entry per Proxy-Authenticate field, in order.
  const TStrings& ProxyAuthenticate() const { return FProxyAuthenticate; }
  void SetProxyAuthenticate(const TStrings& aValue) { SetLines(FProxyAuthenticate, aValue); }
  const std::string& ContentRange() const { return FContentRange; }
  void SetContentRange(const std::string& aValue) { SetField(FContentRange, aValue); }
  const std::string& ETag() const { return FETag; }
  void SetETag(const std::string& aValue) { SetField(FETag, aValue); }
  const std::string& Server() const { return FServer; }
  void SetServer(const std::string& aValue) { SetField(FServer, aValue); }
  const std::string& Location() const { return FLocation; }
  void SetLocation(const std::string& aValue) { SetField(FLocation, aValue); }
  const std::string& ContentDisposition() const { return FContentDisposition; }
  void SetContentDisposition(const std::string& aValue) { SetField(FContentDisposition, aValue); }

protected:
  void ParseFields(const TclHeaderFieldList& aList) override;
  void WriteFields(TclHeaderFieldList& aList) const override;

private:
  using TFieldTable = std::vector<std::pair<const char*, std::string TclHttpResponseHeader::*>>;
  static const TFieldTable& Fields();

  std::string FAge;
  std::string FAcceptRanges;
  std::string FRetryAfter;
  TStrings FAuthenticate;
  std::string FAllow;
  TStrings FProxyAuthenticate;
  std::string FContentRange;
  std::string FETag;
  std::string FServer;
  std::string FLocation;
  std::string FContentDisposition;
};
