#include "http/clHttpRequest.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "common/clDateTime.h"
#include "common/clTranslator.h"
#include "http/clHeaderFieldList.h"

namespace {

const char* const cMultipartType = "multipart/form-data";
const char* const cUrlEncodedType = "application/x-www-form-urlencoded";
// A part header that never ends is treated as data beyond this size, so hostile input stays bounded.
constexpr size_t cMaxPartHeader = 65536;
constexpr int64_t cFirstLineLimit = 250;

// A read-only stream that joins parts of known sizes, opening each one only when reading reaches it.
class TPartsStream : public TStream {
public:
  using TOpen = std::function<std::unique_ptr<TStream>()>;

  void AddBytes(std::string aBytes) {
    const int64_t size = int64_t(aBytes.size());
    if (size > 0) AddPart(size, [bytes = std::move(aBytes)] { return std::make_unique<TMemoryStream>(bytes); });
  }
  void AddPart(int64_t aSize, TOpen aOpen) {
    if (aSize <= 0) return;
    FParts.push_back({FSize, aSize, std::move(aOpen)});
    FSize += aSize;
  }

  int64_t Read(void* aBuffer, int64_t aCount) override {
    char* out = static_cast<char*>(aBuffer);
    int64_t done = 0;
    while (done < aCount && FPosition < FSize) {
      size_t k = 0;
      while (FParts[k].Start + FParts[k].Size <= FPosition) ++k;
      const TPart& part = FParts[k];
      if (FCurrent != k || !FOpened) {
        FOpened = part.Open();
        FCurrent = k;
      }
      const int64_t offset = FPosition - part.Start;
      FOpened->Seek(offset, soBeginning);
      const int64_t got = FOpened->Read(out + done, std::min(aCount - done, part.Size - offset));
      // A file that shrank after its size was taken would silently shorten the body.
      if (got <= 0) throw EStreamError("A part of the request body ended before its size");
      done += got;
      FPosition += got;
    }
    return done;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t aOffset, TSeekOrigin aOrigin) override {
    const int64_t base = aOrigin == soBeginning ? 0 : aOrigin == soCurrent ? FPosition : FSize;
    FPosition = std::clamp<int64_t>(base + aOffset, 0, FSize);
    return FPosition;
  }
  void SetSize(int64_t) override { throw EStreamError("The request body cannot be resized"); }

private:
  struct TPart {
    int64_t Start;
    int64_t Size;
    TOpen Open;
  };
  std::vector<TPart> FParts;
  int64_t FSize = 0;
  int64_t FPosition = 0;
  size_t FCurrent = 0;
  std::unique_ptr<TStream> FOpened;
};

// Reads a stream that stays its owner's, from that stream's start.
class TStreamView : public TStream {
public:
  explicit TStreamView(TStream* aSource) : FSource(aSource) {}
  int64_t Read(void* aBuffer, int64_t aCount) override {
    FSource->SetPosition(FPosition);
    int64_t got = FSource->Read(aBuffer, aCount);
    FPosition += std::max<int64_t>(got, 0);
    return got;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t aOffset, TSeekOrigin aOrigin) override {
    const int64_t size = FSource->Size();
    const int64_t base = aOrigin == soBeginning ? 0 : aOrigin == soCurrent ? FPosition : size;
    FPosition = std::clamp<int64_t>(base + aOffset, 0, size);
    return FPosition;
  }
  void SetSize(int64_t) override { throw EStreamError("The item data cannot be resized"); }

private:
  TStream* FSource;
  int64_t FPosition = 0;
};

// Form text: reserved and unsafe characters as %XX, spaces as "+".
const std::array<bool, 256> cFormEscaped = [] {
  std::array<bool, 256> set{};
  for (unsigned char c : std::string("!#$%&'()+,/:;<=>?[\\]^{|}~\"@`")) set[c] = true;
  return set;
}();

std::string EncodeFormText(const std::string& aText, const std::string& aCharSet) {
  static const char hex[] = "0123456789ABCDEF";
  std::string result;
  for (char ch : TclTranslator::GetBytes(aText, aCharSet)) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == ' ') {
      result += '+';
    } else if (c < 32 || c > 126 || cFormEscaped[c]) {
      result += '%';
      result += hex[c >> 4];
      result += hex[c & 15];
    } else {
      result += ch;
    }
  }
  return result;
}

// A name inside a quoted Content-Disposition item: quotes and line breaks would end the item or
// the part header, so they go as %XX.
std::string QuotedPartValue(const std::string& aText) {
  std::string result;
  for (char c : aText) {
    if (c == '"')
      result += "%22";
    else if (c == '\r')
      result += "%0D";
    else if (c == '\n')
      result += "%0A";
    else
      result += c;
  }
  return result;
}

std::string NewBoundary() {
  const TclLocalTime now = TclDateTime::NowLocal();
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "%02X%02X%02X%02X%02X%02X", now.Month, now.Day, now.Hour, now.Minute, now.Second,
                now.Millisecond);
  return std::string(27, '-') + std::string(suffix).substr(0, 12);
}

std::string FileNameOnly(const std::string& aPath) {
  const size_t slash = aPath.rfind('/');
  return slash == std::string::npos ? aPath : aPath.substr(slash + 1);
}

// Restores the producing-or-parsing flag on every way out.
class TParseGuard {
public:
  explicit TParseGuard(bool& aFlag) : FFlag(aFlag), FOld(aFlag) { FFlag = true; }
  ~TParseGuard() { FFlag = FOld; }

private:
  bool& FFlag;
  bool FOld;
};

}  // namespace

// ---- items ----

TclHttpRequestItem::TclHttpRequestItem(TclHttpRequestItemList* aOwner) : FOwner(aOwner) {
  if (!FOwner) throw EclAssertionError("A request item needs an owning item list");
}

TclHttpRequest* TclHttpRequestItem::Request() const { return FOwner->Owner(); }

void TclHttpRequestItem::Assign(const TclHttpRequestItem& aSource) {
  FTag = aSource.FTag;
  SetCanonicalized(aSource.FCanonicalized);
}

void TclHttpRequestItem::SetCanonicalized(bool aValue) {
  if (FCanonicalized == aValue) return;
  FCanonicalized = aValue;
  Changed();
}

void TclHttpRequestItem::SetProperty(std::string& aField, const std::string& aValue) {
  if (aField == aValue) return;
  aField = aValue;
  Changed();
}

void TclHttpRequestItem::Changed() { Request()->Update(); }

std::unique_ptr<TStream> TclHttpRequestItem::GetData() {
  std::unique_ptr<TStream> data = CreateData();
  FSize = data->Size();
  return data;
}

int64_t TclHttpRequestItem::GetSize() {
  if (FSize == 0) GetData();
  return FSize;
}

void TclFormFieldRequestItem::Assign(const TclHttpRequestItem& aSource) {
  TclHttpRequestItem::Assign(aSource);
  if (auto* source = dynamic_cast<const TclFormFieldRequestItem*>(&aSource)) {
    SetFieldName(source->FFieldName);
    SetFieldValue(source->FFieldValue);
  }
}

std::unique_ptr<TStream> TclFormFieldRequestItem::CreateData() {
  TclHttpRequest* request = Request();
  const std::string& charSet = request->Header().CharSet();
  std::string bytes;
  if (request->IsMultiPartContent()) {
    bytes = TclTranslator::GetBytes(
        "Content-Disposition: form-data; name=\"" + QuotedPartValue(FFieldName) + "\"\r\n\r\n" + FFieldValue, charSet);
  } else if (request->IsFormFieldRequest()) {
    bytes = Canonicalized() ? EncodeFormText(FFieldName, charSet) + "=" + EncodeFormText(FFieldValue, charSet)
                            : TclTranslator::GetBytes(FFieldName + "=" + FFieldValue, charSet);
  }
  return std::make_unique<TMemoryStream>(std::move(bytes));
}

void TclTextRequestItem::Assign(const TclHttpRequestItem& aSource) {
  TclHttpRequestItem::Assign(aSource);
  if (auto* source = dynamic_cast<const TclTextRequestItem*>(&aSource)) SetTextData(source->FTextData);
}

std::unique_ptr<TStream> TclTextRequestItem::CreateData() {
  return std::make_unique<TMemoryStream>(TclTranslator::GetBytes(FTextData, Request()->Header().CharSet()));
}

void TclSubmitFileRequestItem::Assign(const TclHttpRequestItem& aSource) {
  TclHttpRequestItem::Assign(aSource);
  if (auto* source = dynamic_cast<const TclSubmitFileRequestItem*>(&aSource)) {
    SetFieldName(source->FFieldName);
    SetFileName(source->FFileName);
    SetContentType(source->FContentType);
  }
}

std::unique_ptr<TStream> TclSubmitFileRequestItem::CreateData() {
  TclHttpRequest* request = Request();
  auto data = std::make_unique<TPartsStream>();
  if (!request->IsMultiPartContent()) return data;
  data->AddBytes(TclTranslator::GetBytes("Content-Disposition: form-data; name=\"" + QuotedPartValue(FFieldName) +
                                             "\"; filename=\"" + QuotedPartValue(FileNameOnly(FFileName)) +
                                             "\"\r\nContent-Type: " + QuotedPartValue(FContentType) + "\r\n\r\n",
                                         request->Header().CharSet()));
  if (TStream* supplied = request->LoadData(this)) {
    data->AddPart(supplied->Size(), [supplied] { return std::make_unique<TStreamView>(supplied); });
  } else {
    // Opened now, so a missing file fails while the body is built; read again only when reached.
    const int64_t size = TFileStream(FFileName, fmOpenRead).Size();
    data->AddPart(size, [fileName = FFileName] { return std::make_unique<TFileStream>(fileName, fmOpenRead); });
  }
  return data;
}

std::unique_ptr<TStream> TclBinaryRequestItem::CreateData() {
  auto data = std::make_unique<TPartsStream>();
  if (TStream* supplied = Request()->LoadData(this))
    data->AddPart(supplied->Size(), [supplied] { return std::make_unique<TStreamView>(supplied); });
  return data;
}

// ---- item list ----

TclHttpRequestItemList::TclHttpRequestItemList(TclHttpRequest* aOwner) : FOwner(aOwner) {
  if (!FOwner) throw EclAssertionError("A request item list needs an owning request");
}

void TclHttpRequestItemList::AddItem(std::unique_ptr<TclHttpRequestItem> aItem) {
  FItems.push_back(std::move(aItem));
  FOwner->ItemsChanged();
}

void TclHttpRequestItemList::Delete(int32_t aIndex) {
  if (aIndex < 0 || aIndex >= Count()) return;
  FItems.erase(FItems.begin() + aIndex);
  FOwner->ItemsChanged();
}

void TclHttpRequestItemList::Move(int32_t aCurIndex, int32_t aNewIndex) {
  if (aCurIndex < 0 || aCurIndex >= Count() || aNewIndex < 0 || aNewIndex >= Count() || aCurIndex == aNewIndex) return;
  auto item = std::move(FItems[size_t(aCurIndex)]);
  FItems.erase(FItems.begin() + aCurIndex);
  FItems.insert(FItems.begin() + aNewIndex, std::move(item));
  FOwner->Update();
}

void TclHttpRequestItemList::Clear() {
  FItems.clear();
  FOwner->ItemsChanged();
}

TclHttpRequestItem* TclHttpRequestItemList::GetItem(int32_t aIndex) const {
  return aIndex >= 0 && aIndex < Count() ? FItems[size_t(aIndex)].get() : nullptr;
}

TclFormFieldRequestItem* TclHttpRequestItemList::FormFieldByName(const std::string& aFieldName) const {
  for (const auto& item : FItems)
    if (auto* field = dynamic_cast<TclFormFieldRequestItem*>(item.get()))
      if (TclStringsUtils::SameText(field->FieldName(), aFieldName)) return field;
  return nullptr;
}

void TclHttpRequestItemList::Assign(const TclHttpRequestItemList& aSource) {
  if (&aSource == this) return;
  FOwner->BeginUpdate();
  FItems.clear();
  for (const auto& item : aSource.FItems) FItems.push_back(item->Clone(this));
  FOwner->ItemsChanged();
  FOwner->EndUpdate();
}

// ---- request ----

TclHttpRequest::TclHttpRequest() : FItems(this) {
  FHeader.OnChanged = [this](TclHttpEntityHeader*) { Update(); };
}

TclHttpRequest::~TclHttpRequest() {
  FDestroying = true;
  FHeader.OnChanged = nullptr;
}

TclFormFieldRequestItem* TclHttpRequest::AddFormField(const std::string& aFieldName, const std::string& aFieldValue) {
  BeginUpdate();
  auto* item = FItems.Add<TclFormFieldRequestItem>();
  item->SetFieldName(aFieldName);
  item->SetFieldValue(aFieldValue);
  EndUpdate();
  return item;
}

TclFormFieldRequestItem* TclHttpRequest::AddFormFieldIfNeed(const std::string& aFieldName,
                                                           const std::string& aFieldValue) {
  return aFieldValue.empty() ? nullptr : AddFormField(aFieldName, aFieldValue);
}

TclSubmitFileRequestItem* TclHttpRequest::AddSubmitFile(const std::string& aFieldName, const std::string& aFileName) {
  BeginUpdate();
  auto* item = FItems.Add<TclSubmitFileRequestItem>();
  item->SetFieldName(aFieldName);
  item->SetFileName(aFileName);
  EndUpdate();
  return item;
}

TclTextRequestItem* TclHttpRequest::AddTextData(const std::string& aTextData) {
  BeginUpdate();
  auto* item = FItems.Add<TclTextRequestItem>();
  item->SetTextData(aTextData);
  EndUpdate();
  return item;
}

TclBinaryRequestItem* TclHttpRequest::AddBinaryData() { return FItems.Add<TclBinaryRequestItem>(); }

void TclHttpRequest::Clear() {
  BeginUpdate();
  FItems.Clear();
  FHeader.Clear();
  EndUpdate();
}

void TclHttpRequest::Assign(const TclHttpRequest& aSource) {
  if (&aSource == this) return;
  BeginUpdate();
  Clear();
  FItems.Assign(aSource.FItems);
  FHeader.Assign(aSource.FHeader);
  EndUpdate();
}

void TclHttpRequest::EndUpdate() {
  if (FUpdateCount > 0) --FUpdateCount;
  Update();
}

void TclHttpRequest::Update() {
  if (FDestroying || FUpdateCount > 0) return;
  if (!FIsParse && !FHeader.Boundary().empty()) {
    // The header's change notification comes back here and does the rest.
    FHeader.SetBoundary(std::string());
    return;
  }
  FHeaderSource.clear();
  FHeaderSourceValid = false;
  FRequestSource.clear();
  FRequestSourceValid = false;
  for (int32_t i = 0; i < FItems.Count(); ++i) FItems.GetItem(i)->FSize = 0;
  if (OnChanged) OnChanged(this);
}

std::string TclHttpRequest::ContentTypeFromItems() const {
  bool allFields = FItems.Count() > 0;
  for (int32_t i = 0; i < FItems.Count(); ++i) {
    if (dynamic_cast<TclSubmitFileRequestItem*>(FItems.GetItem(i))) return cMultipartType;
    if (!dynamic_cast<TclFormFieldRequestItem*>(FItems.GetItem(i))) allFields = false;
  }
  return allFields ? cUrlEncodedType : "";
}

void TclHttpRequest::ItemsChanged() {
  BeginUpdate();
  if (!FIsParse) FHeader.SetContentType(ContentTypeFromItems());
  EndUpdate();
}

bool TclHttpRequest::IsMultiPartContent() const {
  return TclStringsUtils::LowerCase(FHeader.ContentType()).find("multipart/") != std::string::npos;
}

bool TclHttpRequest::IsFormFieldRequest() const { return TclStringsUtils::SameText(FHeader.ContentType(), cUrlEncodedType); }

TStream* TclHttpRequest::LoadData(TclHttpRequestItem* aItem) {
  TStream* data = nullptr;
  if (OnLoadData) OnLoadData(this, aItem, data);
  return data;
}

void TclHttpRequest::PrepareBoundary() {
  TParseGuard guard(FIsParse);
  if (!IsMultiPartContent())
    FHeader.SetBoundary(std::string());
  else if (FHeader.Boundary().empty())
    FHeader.SetBoundary(NewBoundary());
}

int64_t TclHttpRequest::TotalSize() {
  TParseGuard guard(FIsParse);
  PrepareBoundary();
  const int64_t count = FItems.Count();
  if (count == 0) return 0;
  int64_t total = 0;
  for (int32_t i = 0; i < FItems.Count(); ++i) total += FItems.GetItem(i)->GetSize();
  if (IsMultiPartContent()) total += (count + 1) * (int64_t(FHeader.Boundary().size()) + 6);
  if (IsFormFieldRequest()) total += count - 1;
  return total;
}

const TStrings& TclHttpRequest::HeaderSource() {
  if (!FHeaderSourceValid) {
    TParseGuard guard(FIsParse);
    const int64_t total = TotalSize();
    FHeader.SetContentLength(total == 0 ? std::string() : std::to_string(total));
    TStrings lines;
    FHeader.AssignHeader(lines);
    FHeaderSource = std::move(lines);
    FHeaderSourceValid = true;
  }
  return FHeaderSource;
}

std::unique_ptr<TStream> TclHttpRequest::RequestStream() {
  TParseGuard guard(FIsParse);
  PrepareBoundary();
  auto body = std::make_unique<TPartsStream>();
  const bool multipart = IsMultiPartContent();
  const bool urlEncoded = IsFormFieldRequest();
  const std::string& boundary = FHeader.Boundary();
  for (int32_t i = 0; i < FItems.Count(); ++i) {
    if (multipart) body->AddBytes((i > 0 ? "\r\n--" : "--") + boundary + "\r\n");
    if (urlEncoded && i > 0) body->AddBytes("&");
    TclHttpRequestItem* item = FItems.GetItem(i);
    body->AddPart(item->GetSize(), [item] { return item->GetData(); });
  }
  if (multipart && FItems.Count() > 0) body->AddBytes("\r\n--" + boundary + "--\r\n");
  return body;
}

const TStrings& TclHttpRequest::RequestSource() {
  if (!FRequestSourceValid) {
    TStrings lines;
    TclStringsUtils::LoadStrings(*RequestStream(), lines, FHeader.CharSet());
    FRequestSource = std::move(lines);
    FRequestSourceValid = true;
  }
  return FRequestSource;
}

void TclHttpRequest::SetRequestSource(const TStrings& aSource) {
  std::string text;
  for (size_t i = 0; i < aSource.size(); ++i) text += (i > 0 ? "\r\n" : "") + aSource[i];
  TMemoryStream stream(TclTranslator::GetBytes(text, FHeader.CharSet()));
  SetRequestStream(stream);
}

void TclHttpRequest::SaveRequest(const std::string& aFileName) {
  std::unique_ptr<TStream> body = RequestStream();
  TFileStream file(aFileName, fmCreate);
  file.CopyFrom(*body, 0);
}

void TclHttpRequest::LoadRequest(const std::string& aFileName) {
  TFileStream file(aFileName, fmOpenRead);
  SetRequestStream(file);
}

void TclHttpRequest::BuildJSONRequest(const std::string& aJson) {
  BeginUpdate();
  const std::string charSet = FHeader.CharSet();
  Clear();
  FHeader.SetCharSet(charSet);
  AddTextData(aJson);
  FHeader.SetContentType("application/json");
  FHeader.SetCharSet("utf-8");
  EndUpdate();
}

// ---- parsing a body back into items ----

// Splits a multipart body at its delimiters while reading, so file parts go to their streams
// without the whole body in memory.
class TclHttpRequest::TBodyParser {
public:
  TBodyParser(TclHttpRequest& aRequest, TStream& aSource, const std::string& aBoundary, std::string aPending)
      : FRequest(aRequest), FSource(aSource), FDelimiter("\r\n--" + aBoundary), FBuffer(std::move(aPending)) {
    FBatch = std::max<int64_t>(aRequest.BatchSize(), int64_t(aBoundary.size()));
  }

  void Run() {
    while (true) {
      const size_t delimiter = FBuffer.find(FDelimiter);
      if (delimiter != std::string::npos) {
        Feed(FBuffer.substr(0, delimiter));
        FinishPart();
        FBuffer.erase(0, delimiter + FDelimiter.size());
        if (!SkipDelimiterLine()) return;
        continue;
      }
      // Keep a tail that may be the start of a delimiter split across reads.
      if (FBuffer.size() >= FDelimiter.size()) {
        const size_t safe = FBuffer.size() - (FDelimiter.size() - 1);
        Feed(FBuffer.substr(0, safe));
        FBuffer.erase(0, safe);
      }
      if (!ReadMore()) {
        // A body cut off before its closing delimiter: what arrived is the last part.
        Feed(FBuffer);
        FBuffer.clear();
        FinishPart();
        return;
      }
    }
  }

private:
  bool ReadMore() {
    std::string chunk(size_t(FBatch), '\0');
    const int64_t got = FSource.Read(chunk.data(), FBatch);
    if (got <= 0) return false;
    FBuffer.append(chunk.data(), size_t(got));
    return true;
  }

  // After a delimiter: "--" closes the body, otherwise the rest of the line is skipped.
  bool SkipDelimiterLine() {
    while (FBuffer.size() < 2 && ReadMore()) {
    }
    if (FBuffer.size() < 2 || FBuffer.compare(0, 2, "--") == 0) return false;
    size_t lineEnd;
    while ((lineEnd = FBuffer.find("\r\n")) == std::string::npos && FBuffer.size() < cMaxPartHeader && ReadMore()) {
    }
    if (lineEnd == std::string::npos) return false;
    FBuffer.erase(0, lineEnd + 2);
    FInPart = true;
    return true;
  }

  void Feed(const std::string& aBytes) {
    if (aBytes.empty() && !FInPart) return;
    FInPart = true;
    if (FHeaderDone) {
      Deliver(aBytes);
      return;
    }
    FHeader += aBytes;
    const size_t end = FHeader.compare(0, 2, "\r\n") == 0 ? 0 : FHeader.find("\r\n\r\n");
    if (end != std::string::npos) {
      std::string rest = FHeader.substr(end == 0 ? 2 : end + 4);
      StartItem(FHeader.substr(0, end), FHeader);
      FHeader.clear();
      if (!FRaw) Deliver(rest);
    } else if (FHeader.size() > cMaxPartHeader) {
      StartItem(std::string(), FHeader);
      FHeader.clear();
    }
  }

  // Decides the item from the part header; a text item keeps the whole part as written.
  void StartItem(const std::string& aHeader, const std::string& aRawStart) {
    FHeaderDone = true;
    const std::string& charSet = FRequest.FHeader.CharSet();
    TStrings lines;
    TclStringsUtils::SetText(lines, TclTranslator::GetString(aHeader, charSet));
    TclHeaderFieldList list;
    list.Parse(0, &lines);
    const std::string disposition = list.GetFieldValue("Content-Disposition");
    if (!TclStringsUtils::SameText(list.GetFieldValueItem(disposition, ""), "form-data")) {
      FItem = FRequest.FItems.Add<TclTextRequestItem>();
      FText = aRawStart;
      FRaw = true;
    } else if (list.HasFieldItem(disposition, "filename")) {
      auto* file = FRequest.FItems.Add<TclSubmitFileRequestItem>();
      file->SetFieldName(list.GetFieldValueItem(disposition, "name"));
      file->SetFileName(list.GetFieldValueItem(disposition, "filename"));
      const std::string contentType = list.GetFieldValue("Content-Type");
      if (!contentType.empty()) file->SetContentType(contentType);
      FItem = file;
      if (FRequest.OnSaveData) FRequest.OnSaveData(&FRequest, file, FSink);
    } else {
      auto* field = FRequest.FItems.Add<TclFormFieldRequestItem>();
      field->SetFieldName(list.GetFieldValueItem(disposition, "name"));
      FItem = field;
    }
  }

  void Deliver(const std::string& aBytes) {
    if (FRaw) {
      FText += aBytes;
    } else if (dynamic_cast<TclSubmitFileRequestItem*>(FItem)) {
      if (FSink && !aBytes.empty()) FSink->WriteBuffer(aBytes.data(), int64_t(aBytes.size()));
    } else {
      FText += aBytes;
    }
  }

  void FinishPart() {
    if (!FInPart) return;
    if (!FHeaderDone) {
      // No empty line: the part has no header, all of it is text.
      StartItem(std::string(), FHeader);
      FHeader.clear();
    }
    const std::string& charSet = FRequest.FHeader.CharSet();
    if (auto* text = dynamic_cast<TclTextRequestItem*>(FItem))
      text->SetTextData(TclTranslator::GetString(FText, charSet));
    else if (auto* field = dynamic_cast<TclFormFieldRequestItem*>(FItem))
      field->SetFieldValue(TclTranslator::GetString(FText, charSet));
    if (FRequest.OnDataAdded) FRequest.OnDataAdded(&FRequest, FItem, FSink);
    FInPart = false;
    FHeaderDone = false;
    FRaw = false;
    FItem = nullptr;
    FSink = nullptr;
    FText.clear();
  }

  TclHttpRequest& FRequest;
  TStream& FSource;
  const std::string FDelimiter;
  std::string FBuffer;
  int64_t FBatch;
  bool FInPart = true;
  bool FHeaderDone = false;
  bool FRaw = false;
  std::string FHeader;
  std::string FText;
  TclHttpRequestItem* FItem = nullptr;
  TStream* FSink = nullptr;
};

void TclHttpRequest::SetRequestStream(TStream& aSource) {
  TParseGuard guard(FIsParse);
  BeginUpdate();
  try {
    FItems.Clear();
    aSource.SetPosition(0);
    std::string first;
    size_t lineEnd = std::string::npos;
    char buffer[cFirstLineLimit];
    int64_t got;
    while (lineEnd == std::string::npos && int64_t(first.size()) < cFirstLineLimit &&
           (got = aSource.Read(buffer, cFirstLineLimit - int64_t(first.size()))) > 0) {
      first.append(buffer, size_t(got));
      lineEnd = first.find("\r\n");
    }
    std::string boundary =
        lineEnd != std::string::npos && first.compare(0, 2, "--") == 0 ? TclStringsUtils::Trim(first.substr(2, lineEnd - 2)) : "";
    // A boundary must fit into the Content-Type line: one with control characters makes no multipart body.
    if (std::any_of(boundary.begin(), boundary.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }))
      boundary.clear();
    if (!boundary.empty()) {
      FHeader.SetBoundary(boundary);
      TBodyParser(*this, aSource, boundary, first.substr(lineEnd + 2)).Run();
    } else {
      std::string bytes = first;
      while ((got = aSource.Read(buffer, sizeof buffer)) > 0) bytes.append(buffer, size_t(got));
      const std::string text = TclTranslator::GetString(bytes, FHeader.CharSet());
      if (IsFormFieldRequest()) {
        size_t start = 0;
        while (start <= text.size()) {
          size_t amp = text.find('&', start);
          if (amp == std::string::npos) amp = text.size();
          const std::string pair = text.substr(start, amp - start);
          if (!TclStringsUtils::Trim(pair).empty()) {
            const size_t equals = pair.find('=');
            // Values stay encoded as received, so the item sends them back unchanged.
            auto* field = AddFormField(TclStringsUtils::Trim(pair.substr(0, equals)),
                                       equals == std::string::npos ? "" : TclStringsUtils::Trim(pair.substr(equals + 1)));
            field->SetCanonicalized(false);
          }
          start = amp + 1;
        }
      } else if (!text.empty()) {
        AddTextData(text);
      }
    }
    FHeader.SetContentType(ContentTypeFromItems());
  } catch (...) {
    EndUpdate();
    throw;
  }
  // Still inside the guard, so the boundary just read survives the change notification.
  EndUpdate();
}
