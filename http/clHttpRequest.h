#pragma once
// What a request sends besides its method and URL: a request header and an ordered list of body
// items. From them it produces, each cached until something changes, the header lines to send
// (HeaderSource), the body as one lazily read stream (RequestStream) and the body as text lines
// (RequestSource). Form fields make an application/x-www-form-urlencoded body; a file item turns
// the body into multipart/form-data; text and binary items are sent as they are. A body can also
// be parsed back into items.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/clLink.h"
#include "common/clStreams.h"
#include "common/clStringsUtils.h"
#include "http/clHttpHeader.h"

class TclHttpRequest;
class TclHttpRequestItemList;

class TclHttpRequestItem {
public:
  // Items belong to a list; a missing owner is refused with EclAssertionError.
  explicit TclHttpRequestItem(TclHttpRequestItemList* aOwner);
  virtual ~TclHttpRequestItem() = default;
  TclHttpRequestItem(const TclHttpRequestItem&) = delete;
  TclHttpRequestItem& operator=(const TclHttpRequestItem&) = delete;

  virtual void Assign(const TclHttpRequestItem& aSource);
  // A new item of the same class with the same properties, owned by aOwner.
  virtual std::unique_ptr<TclHttpRequestItem> Clone(TclHttpRequestItemList* aOwner) const = 0;

  // A new stream of the item's bytes in the body's current kind; caches the size.
  std::unique_ptr<TStream> GetData();
  // The cached size, computed through GetData when not known yet.
  int64_t GetSize();

  TclHttpRequestItemList* Owner() const { return FOwner; }
  TclHttpRequest* Request() const;
  int32_t Tag() const { return FTag; }
  void SetTag(int32_t aValue) { FTag = aValue; }
  // True: form fields are URL-encoded in url-encoded bodies.
  bool Canonicalized() const { return FCanonicalized; }
  void SetCanonicalized(bool aValue);

protected:
  virtual std::unique_ptr<TStream> CreateData() = 0;
  // Stores a changed value and tells the request.
  void SetProperty(std::string& aField, const std::string& aValue);
  void Changed();

private:
  friend class TclHttpRequest;
  TclHttpRequestItemList* FOwner;
  int32_t FTag = 0;
  bool FCanonicalized = true;
  int64_t FSize = 0;  // 0: not computed
};

// Gives each item class its Clone.
template <class TItem>
class TclHttpRequestItemOf : public TclHttpRequestItem {
public:
  using TclHttpRequestItem::TclHttpRequestItem;
  std::unique_ptr<TclHttpRequestItem> Clone(TclHttpRequestItemList* aOwner) const override {
    auto item = std::make_unique<TItem>(aOwner);
    item->Assign(*this);
    return item;
  }
};

class TclFormFieldRequestItem : public TclHttpRequestItemOf<TclFormFieldRequestItem> {
public:
  using TclHttpRequestItemOf::TclHttpRequestItemOf;
  void Assign(const TclHttpRequestItem& aSource) override;
  const std::string& FieldName() const { return FFieldName; }
  void SetFieldName(const std::string& aValue) { SetProperty(FFieldName, aValue); }
  const std::string& FieldValue() const { return FFieldValue; }
  void SetFieldValue(const std::string& aValue) { SetProperty(FFieldValue, aValue); }

protected:
  std::unique_ptr<TStream> CreateData() override;

private:
  std::string FFieldName;
  std::string FFieldValue;
};

class TclTextRequestItem : public TclHttpRequestItemOf<TclTextRequestItem> {
public:
  using TclHttpRequestItemOf::TclHttpRequestItemOf;
  void Assign(const TclHttpRequestItem& aSource) override;
  const std::string& TextData() const { return FTextData; }
  void SetTextData(const std::string& aValue) { SetProperty(FTextData, aValue); }

protected:
  std::unique_ptr<TStream> CreateData() override;

private:
  std::string FTextData;
};

class TclSubmitFileRequestItem : public TclHttpRequestItemOf<TclSubmitFileRequestItem> {
public:
  using TclHttpRequestItemOf::TclHttpRequestItemOf;
  void Assign(const TclHttpRequestItem& aSource) override;
  const std::string& FieldName() const { return FFieldName; }
  void SetFieldName(const std::string& aValue) { SetProperty(FFieldName, aValue); }
  // Read when the body is built unless OnLoadData supplies the bytes; only its name is sent.
  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& aValue) { SetProperty(FFileName, aValue); }
  const std::string& ContentType() const { return FContentType; }
  void SetContentType(const std::string& aValue) { SetProperty(FContentType, aValue); }

protected:
  std::unique_ptr<TStream> CreateData() override;

private:
  std::string FFieldName;
  std::string FFileName;
  std::string FContentType = "application/octet-stream";
};

// Bytes from the stream that OnLoadData supplies.
class TclBinaryRequestItem : public TclHttpRequestItemOf<TclBinaryRequestItem> {
public:
  using TclHttpRequestItemOf::TclHttpRequestItemOf;

protected:
  std::unique_ptr<TStream> CreateData() override;
};

class TclHttpRequestItemList {
public:
  // A missing owner is refused with EclAssertionError.
  explicit TclHttpRequestItemList(TclHttpRequest* aOwner);
  TclHttpRequestItemList(const TclHttpRequestItemList&) = delete;
  TclHttpRequestItemList& operator=(const TclHttpRequestItemList&) = delete;

  template <class TItem>
  TItem* Add() {
    auto item = std::make_unique<TItem>(this);
    TItem* result = item.get();
    AddItem(std::move(item));
    return result;
  }
  void Delete(int32_t aIndex);
  void Move(int32_t aCurIndex, int32_t aNewIndex);
  void Clear();
  int32_t Count() const { return int32_t(FItems.size()); }
  TclHttpRequestItem* GetItem(int32_t aIndex) const;
  // The first form field whose name matches case-insensitively, or null.
  TclFormFieldRequestItem* FormFieldByName(const std::string& aFieldName) const;
  // Replaces the items with copies of aSource's (same classes and properties).
  void Assign(const TclHttpRequestItemList& aSource);
  TclHttpRequest* Owner() const { return FOwner; }

private:
  void AddItem(std::unique_ptr<TclHttpRequestItem> aItem);

  TclHttpRequest* FOwner;
  std::vector<std::unique_ptr<TclHttpRequestItem>> FItems;
};

class TclHttpRequest : public TclLinkTarget {
public:
  TclHttpRequest();
  ~TclHttpRequest();
  TclHttpRequest(const TclHttpRequest&) = delete;
  TclHttpRequest& operator=(const TclHttpRequest&) = delete;

  TclHttpRequestItemList& Items() { return FItems; }
  const TclHttpRequestItemList& Items() const { return FItems; }
  TclHttpRequestHeader& Header() { return FHeader; }
  const TclHttpRequestHeader& Header() const { return FHeader; }

  TclFormFieldRequestItem* AddFormField(const std::string& aFieldName, const std::string& aFieldValue);
  // Adds only a non-empty value; null otherwise.
  TclFormFieldRequestItem* AddFormFieldIfNeed(const std::string& aFieldName, const std::string& aFieldValue);
  TclSubmitFileRequestItem* AddSubmitFile(const std::string& aFieldName, const std::string& aFileName);
  TclTextRequestItem* AddTextData(const std::string& aTextData);
  TclBinaryRequestItem* AddBinaryData();

  // Removes every item and clears the header (Accept becomes "*/*").
  void Clear();
  void Assign(const TclHttpRequest& aSource);
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();
  // Drops the cached header, body text and item sizes (and an unused boundary) and fires OnChanged.
  void Update();

  // The header lines to send, with Content-Length and, for multipart bodies, the boundary.
  const TStrings& HeaderSource();
  // The body as a new stream that reads files only when it reaches them. It refers to the items:
  // read it while they exist, and without changing the request in between HeaderSource and it.
  std::unique_ptr<TStream> RequestStream();
  // Parses a body (read from its start) back into items.
  void SetRequestStream(TStream& aSource);
  const TStrings& RequestSource();
  void SetRequestSource(const TStrings& aSource);
  // The exact byte count RequestStream yields.
  int64_t TotalSize();
  void SaveRequest(const std::string& aFileName);
  void LoadRequest(const std::string& aFileName);
  // One text item with the JSON text, sent as application/json in utf-8.
  void BuildJSONRequest(const std::string& aJson);

  TclFormFieldRequestItem* FormFields(const std::string& aFieldName) const { return FItems.FormFieldByName(aFieldName); }
  bool IsMultiPartContent() const;
  bool IsFormFieldRequest() const;
  int32_t BatchSize() const { return FBatchSize; }
  void SetBatchSize(int32_t aValue) {
    if (aValue > 0) FBatchSize = aValue;
  }

  std::function<void(TclHttpRequest* aSender)> OnChanged;
  // Asked for a stream (kept by the handler) to receive a file or binary item's bytes while a body is parsed.
  std::function<void(TclHttpRequest* aSender, TclHttpRequestItem* aItem, TStream*& aData)> OnSaveData;
  // Asked for a stream (kept by the handler, read from its start) holding a file or binary item's bytes.
  std::function<void(TclHttpRequest* aSender, TclHttpRequestItem* aItem, TStream*& aData)> OnLoadData;
  // After each item of a parsed body is complete; aData is the OnSaveData stream, if any.
  std::function<void(TclHttpRequest* aSender, TclHttpRequestItem* aItem, TStream* aData)> OnDataAdded;

private:
  friend class TclHttpRequestItemList;
  friend class TclHttpRequestItem;
  friend class TclSubmitFileRequestItem;
  friend class TclBinaryRequestItem;
  class TBodyParser;

  void ItemsChanged();
  std::string ContentTypeFromItems() const;
  void PrepareBoundary();
  // The stream OnLoadData supplies for an item, or null.
  TStream* LoadData(TclHttpRequestItem* aItem);

  TclHttpRequestItemList FItems;
  TclHttpRequestHeader FHeader;
  int32_t FUpdateCount = 0;
  TStrings FRequestSource;
  bool FRequestSourceValid = false;
  TStrings FHeaderSource;
  bool FHeaderSourceValid = false;
  // Set while the request produces or parses its own header or body.
  bool FIsParse = false;
  bool FDestroying = false;
  int32_t FBatchSize = 8192;
};
