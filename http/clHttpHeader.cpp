#include "http/clHttpHeader.h"

#include <algorithm>

// ---- TclHttpEntityHeader ----

const TclHttpEntityHeader::TFieldTable& TclHttpEntityHeader::Fields() {
  static const TFieldTable fields = {
      {"Content-Encoding", &TclHttpEntityHeader::FContentEncoding},
      {"Content-Language", &TclHttpEntityHeader::FContentLanguage},
      {"Content-Length", &TclHttpEntityHeader::FContentLength},
      {"Content-Version", &TclHttpEntityHeader::FContentVersion},
      {"Date", &TclHttpEntityHeader::FDate},
      {"Expires", &TclHttpEntityHeader::FExpires},
      {"Last-Modified", &TclHttpEntityHeader::FLastModified},
      {"Transfer-Encoding", &TclHttpEntityHeader::FTransferEncoding},
      {"Cache-Control", &TclHttpEntityHeader::FCacheControl},
      {"Connection", &TclHttpEntityHeader::FConnection},
      {"Proxy-Connection", &TclHttpEntityHeader::FProxyConnection},
  };
  return fields;
}

TclHttpEntityHeader::TclHttpEntityHeader() {
  for (const auto& [name, member] : Fields()) RegisterFields({name});
  RegisterFields({"Content-Type"});
  TclHttpEntityHeader::Clear();
}

void TclHttpEntityHeader::RegisterFields(std::initializer_list<const char*> aNames) {
  for (const char* name : aNames) FKnownFields.push_back(TclStringsUtils::LowerCase(name));
}

bool TclHttpEntityHeader::IsKnownField(const std::string& aName) const {
  return std::find(FKnownFields.begin(), FKnownFields.end(), TclStringsUtils::LowerCase(aName)) != FKnownFields.end();
}

void TclHttpEntityHeader::SetField(std::string& aField, const std::string& aValue) {
  if (aField == aValue) return;
  aField = aValue;
  Update();
}

void TclHttpEntityHeader::SetLines(TStrings& aLines, const TStrings& aValue) {
  if (aLines == aValue) return;
  aLines = aValue;
  Update();
}

void TclHttpEntityHeader::EndUpdate() {
  if (FUpdateCount <= 0) return;
  --FUpdateCount;
  Update();
}

void TclHttpEntityHeader::Update() {
  if (FUpdateCount == 0 && OnChanged) OnChanged(this);
}

void TclHttpEntityHeader::Clear() {
  BeginUpdate();
  for (const auto& [name, member] : Fields()) SetField(this->*member, std::string());
  SetContentType(std::string());
  SetBoundary(std::string());
  SetCharSet(std::string());
  SetExtraFields(TStrings());
  EndUpdate();
}

void TclHttpEntityHeader::Assign(const TclHttpEntityHeader& aSource) {
  BeginUpdate();
  for (const auto& [name, member] : Fields()) SetField(this->*member, aSource.*member);
  SetContentType(aSource.FContentType);
  SetBoundary(aSource.FBoundary);
  SetCharSet(aSource.FCharSet);
  SetExtraFields(aSource.FExtraFields);
  EndUpdate();
}

void TclHttpEntityHeader::ParseHeader(const TStrings& aHeader) {
  BeginUpdate();
  Clear();
  TStrings lines = aHeader;
  TclHeaderFieldList list;
  list.Parse(0, &lines);
  ParseFields(list);
  TStrings extra;
  for (int32_t i = 0; i < int32_t(list.FieldList().size()); ++i)
    if (!IsKnownField(list.FieldList()[size_t(i)].Name))
      extra.push_back(TclHeaderFieldList::GetNameValuePair(list.GetFieldName(i), list.GetFieldValue(i)));
  SetExtraFields(extra);
  EndUpdate();
}

void TclHttpEntityHeader::ParseFields(const TclHeaderFieldList& aList) {
  for (const auto& [name, member] : Fields()) SetField(this->*member, aList.GetFieldValue(name));
  ParseContentType(aList);
}

void TclHttpEntityHeader::ParseContentType(const TclHeaderFieldList& aList) {
  const std::string value = aList.GetFieldValue("Content-Type");
  SetContentType(aList.GetFieldValueItem(value, ""));
  SetBoundary(aList.GetFieldValueItem(value, "boundary"));
  SetCharSet(aList.GetFieldValueItem(value, "charset"));
}

void TclHttpEntityHeader::AssignHeader(TStrings& aHeader) const {
  TclHeaderFieldList list;
  list.Parse(0, &aHeader);
  WriteFields(list);
}

void TclHttpEntityHeader::WriteFields(TclHeaderFieldList& aList) const {
  const TFieldTable& fields = Fields();
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i == 4) WriteContentType(aList);
    aList.AddField(fields[i].first, this->*fields[i].second);
  }
  aList.AddFields(FExtraFields);
}

void TclHttpEntityHeader::WriteContentType(TclHeaderFieldList& aList) const {
  if (FContentType.empty()) return;
  aList.AddField("Content-Type", FContentType);
  // The field just added is the last one: earlier Content-Type lines of the target stay untouched.
  const int32_t field = int32_t(aList.FieldList().size()) - 1;
  aList.AddFieldItem(field, "boundary", FBoundary);
  aList.AddFieldItem(field, "charset", FCharSet);
}

// ---- TclHttpRequestHeader ----

const TclHttpRequestHeader::TFieldTable& TclHttpRequestHeader::Fields() {
  static const TFieldTable fields = {
      {"Accept", &TclHttpRequestHeader::FAccept},
      {"Accept-Charset", &TclHttpRequestHeader::FAcceptCharSet},
      {"Accept-Encoding", &TclHttpRequestHeader::FAcceptEncoding},
      {"Accept-Language", &TclHttpRequestHeader::FAcceptLanguage},
      {"Range", &TclHttpRequestHeader::FRange},
      {"Referer", &TclHttpRequestHeader::FReferer},
      {"Host", &TclHttpRequestHeader::FHost},
      {"User-Agent", &TclHttpRequestHeader::FUserAgent},
      {"Authorization", &TclHttpRequestHeader::FAuthorization},
      {"Proxy-Authorization", &TclHttpRequestHeader::FProxyAuthorization},
  };
  return fields;
}

TclHttpRequestHeader::TclHttpRequestHeader() {
  for (const auto& [name, member] : Fields()) RegisterFields({name});
  TclHttpRequestHeader::Clear();
}

void TclHttpRequestHeader::Clear() {
  BeginUpdate();
  TclHttpEntityHeader::Clear();
  for (const auto& [name, member] : Fields()) SetField(this->*member, std::string());
  SetAccept("*/*");
  EndUpdate();
}

void TclHttpRequestHeader::Assign(const TclHttpEntityHeader& aSource) {
  BeginUpdate();
  TclHttpEntityHeader::Assign(aSource);
  if (auto* source = dynamic_cast<const TclHttpRequestHeader*>(&aSource))
    for (const auto& [name, member] : Fields()) SetField(this->*member, source->*member);
  EndUpdate();
}

void TclHttpRequestHeader::ParseFields(const TclHeaderFieldList& aList) {
  TclHttpEntityHeader::ParseFields(aList);
  for (const auto& [name, member] : Fields()) SetField(this->*member, aList.GetFieldValue(name));
}

void TclHttpRequestHeader::WriteFields(TclHeaderFieldList& aList) const {
  for (const auto& [name, member] : Fields()) aList.AddField(name, this->*member);
  TclHttpEntityHeader::WriteFields(aList);
}

// ---- TclHttpResponseHeader ----

namespace {

const char* const cWwwAuthenticate = "WWW-Authenticate";
const char* const cProxyAuthenticate = "Proxy-Authenticate";

// The values of every field of that name, in order.
TStrings AllFieldValues(const TclHeaderFieldList& aList, const std::string& aName) {
  const std::string name = TclStringsUtils::LowerCase(aName);
  TStrings values;
  for (size_t i = 0; i < aList.FieldList().size(); ++i)
    if (aList.FieldList()[i].Name == name) values.push_back(aList.GetFieldValue(int32_t(i)));
  return values;
}

}  // namespace

const TclHttpResponseHeader::TFieldTable& TclHttpResponseHeader::Fields() {
  static const TFieldTable fields = {
      {"Allow", &TclHttpResponseHeader::FAllow},
      {"Accept-Ranges", &TclHttpResponseHeader::FAcceptRanges},
      {"Age", &TclHttpResponseHeader::FAge},
      {"Content-Range", &TclHttpResponseHeader::FContentRange},
      {"Content-Disposition", &TclHttpResponseHeader::FContentDisposition},
      {"ETag", &TclHttpResponseHeader::FETag},
      {"Location", &TclHttpResponseHeader::FLocation},
      {"Retry-After", &TclHttpResponseHeader::FRetryAfter},
      {"Server", &TclHttpResponseHeader::FServer},
  };
  return fields;
}

TclHttpResponseHeader::TclHttpResponseHeader() {
  for (const auto& [name, member] : Fields()) RegisterFields({name});
  RegisterFields({cWwwAuthenticate, cProxyAuthenticate});
  TclHttpResponseHeader::Clear();
}

void TclHttpResponseHeader::Clear() {
  BeginUpdate();
  TclHttpEntityHeader::Clear();
  for (const auto& [name, member] : Fields()) SetField(this->*member, std::string());
  SetAuthenticate(TStrings());
  SetProxyAuthenticate(TStrings());
  EndUpdate();
}

void TclHttpResponseHeader::Assign(const TclHttpEntityHeader& aSource) {
  BeginUpdate();
  TclHttpEntityHeader::Assign(aSource);
  if (auto* source = dynamic_cast<const TclHttpResponseHeader*>(&aSource)) {
    for (const auto& [name, member] : Fields()) SetField(this->*member, source->*member);
    SetAuthenticate(source->FAuthenticate);
    SetProxyAuthenticate(source->FProxyAuthenticate);
  }
  EndUpdate();
}

void TclHttpResponseHeader::ParseFields(const TclHeaderFieldList& aList) {
  TclHttpEntityHeader::ParseFields(aList);
  for (const auto& [name, member] : Fields()) SetField(this->*member, aList.GetFieldValue(name));
  SetAuthenticate(AllFieldValues(aList, cWwwAuthenticate));
  SetProxyAuthenticate(AllFieldValues(aList, cProxyAuthenticate));
}

void TclHttpResponseHeader::WriteFields(TclHeaderFieldList& aList) const {
  for (const auto& [name, member] : Fields()) aList.AddField(name, this->*member);
  for (const auto& value : FAuthenticate) aList.AddField(cWwwAuthenticate, value);
  for (const auto& value : FProxyAuthenticate) aList.AddField(cProxyAuthenticate, value);
  TclHttpEntityHeader::WriteFields(aList);
}
