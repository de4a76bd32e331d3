#include "flvbind/Amf.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "flvbind/BigEndian.h"

namespace {

// Hostile files can nest arrays without end; real metadata nests one or two levels.
constexpr int cMaxArrayDepth = 64;
const uint8_t cObjectEnd[3] = {0, 0, 9};

void PutDouble(uint8_t* aDest, double aValue) { PutBigEndian(aDest, std::bit_cast<uint64_t>(aValue), 8); }
double GetDouble(const uint8_t* aSource) { return std::bit_cast<double>(GetBigEndian(aSource, 8)); }

// The value kinds an array entry may hold; null for any other marker.
std::unique_ptr<AmfValue> NewEntryValue(uint8_t aMarker) {
  switch (aMarker) {
    case amNumber: return std::make_unique<AmfNumber>();
    case amBoolean: return std::make_unique<AmfBoolean>();
    case amString: return std::make_unique<AmfString>();
    case amEcmaArray: return std::make_unique<AmfEcmaArray>();
    case amDate: return std::make_unique<AmfDate>();
    default: return nullptr;
  }
}

}  // namespace

void AmfNumber::Write(uint8_t* aBuffer) const {
  aBuffer[0] = amNumber;
  PutDouble(aBuffer + 1, FValue);
}

bool AmfNumber::Parse(const uint8_t* aData, size_t aLeft, size_t& aUsed) {
  if (aLeft < 9 || aData[0] != amNumber) return false;
  FValue = GetDouble(aData + 1);
  aUsed = 9;
  return true;
}

void AmfBoolean::Write(uint8_t* aBuffer) const {
  aBuffer[0] = amBoolean;
  aBuffer[1] = FValue ? 1 : 0;
}

bool AmfBoolean::Parse(const uint8_t* aData, size_t aLeft, size_t& aUsed) {
  if (aLeft < 2 || aData[0] != amBoolean) return false;
  FValue = aData[1] != 0;
  aUsed = 2;
  return true;
}

AmfString::AmfString(std::string aValue) : FValue(std::move(aValue)) {
  if (FValue.size() > 0xFFFF) FValue.resize(0xFFFF);
}

void AmfString::Write(uint8_t* aBuffer) const {
  aBuffer[0] = amString;
  PutBigEndian(aBuffer + 1, FValue.size(), 2);
  std::memcpy(aBuffer + 3, FValue.data(), FValue.size());
}

bool AmfString::Parse(const uint8_t* aData, size_t aLeft, size_t& aUsed) {
  if (aLeft < 3 || aData[0] != amString) return false;
  size_t length = GetBigEndian(aData + 1, 2);
  if (aLeft - 3 < length) return false;
  FValue.assign(reinterpret_cast<const char*>(aData + 3), length);
  aUsed = 3 + length;
  return true;
}

void AmfDate::Write(uint8_t* aBuffer) const {
  aBuffer[0] = amDate;
  PutDouble(aBuffer + 1, FSeconds * 1000);
  PutBigEndian(aBuffer + 9, static_cast<uint16_t>(FTimeZone), 2);
}

bool AmfDate::Parse(const uint8_t* aData, size_t aLeft, size_t& aUsed) {
  if (aLeft < 11 || aData[0] != amDate) return false;
  FSeconds = std::trunc(GetDouble(aData + 1) * 0.001);
  FTimeZone = static_cast<int16_t>(GetBigEndian(aData + 9, 2));
  aUsed = 11;
  return true;
}

AmfEcmaArray::AmfEcmaArray(const AmfEcmaArray& aOther) : AmfValue(), FKeys(aOther.FKeys) {
  for (const auto& [key, value] : aOther.FValues) FValues.emplace(key, value->Clone());
}

AmfEcmaArray& AmfEcmaArray::operator=(const AmfEcmaArray& aOther) {
  if (this != &aOther) *this = AmfEcmaArray(aOther);
  return *this;
}

void AmfEcmaArray::Set(const std::string& aKey, std::unique_ptr<AmfValue> aValue) {
  auto [it, inserted] = FValues.insert_or_assign(aKey.substr(0, 0xFFFF), std::move(aValue));
  if (inserted) FKeys.push_back(it->first);
}

const AmfValue* AmfEcmaArray::Get(const std::string& aKey) const {
  auto it = FValues.find(aKey);
  return it == FValues.end() ? nullptr : it->second.get();
}

size_t AmfEcmaArray::Size() const {
  size_t size = 8;
  for (const auto& key : FKeys) size += 2 + key.size() + FValues.at(key)->Size();
  return size;
}

void AmfEcmaArray::Write(uint8_t* aBuffer) const {
  uint8_t* p = aBuffer;
  *p++ = amEcmaArray;
  PutBigEndian(p, FValues.size(), 4);
  p += 4;
  for (const auto& key : FKeys) {
    PutBigEndian(p, key.size(), 2);
    std::memcpy(p + 2, key.data(), key.size());
    p += 2 + key.size();
    const AmfValue& value = *FValues.at(key);
    value.Write(p);
    p += value.Size();
  }
  std::memcpy(p, cObjectEnd, sizeof cObjectEnd);
}

bool AmfEcmaArray::Parse(const uint8_t* aData, size_t aLeft, size_t& aUsed) {
  return ParseNested(aData, aLeft, aUsed, 0);
}

bool AmfEcmaArray::ParseNested(const uint8_t* aData, size_t aLeft, size_t& aUsed, int aDepth) {
  if (aDepth > cMaxArrayDepth || aLeft < 8 || aData[0] != amEcmaArray) return false;
  const uint8_t* p = aData + 5;
  const uint8_t* end = aData + aLeft;
  AmfEcmaArray parsed;
  for (uint32_t count = static_cast<uint32_t>(GetBigEndian(aData + 1, 4)); count > 0; --count) {
    if (end - p < 3) return false;
    size_t keyLength = GetBigEndian(p, 2);
    p += 2;
    if (static_cast<size_t>(end - p) < keyLength + 1) return false;
    std::string key(reinterpret_cast<const char*>(p), keyLength);
    p += keyLength;
    std::unique_ptr<AmfValue> value = NewEntryValue(*p);
    if (!value) return false;
    size_t used = 0;
    bool ok = value->Marker() == amEcmaArray
                  ? static_cast<AmfEcmaArray&>(*value).ParseNested(p, end - p, used, aDepth + 1)
                  : value->Parse(p, end - p, used);
    if (!ok) return false;
    p += used;
    parsed.Set(key, std::move(value));
  }
  if (end - p < 3 || std::memcmp(p, cObjectEnd, sizeof cObjectEnd) != 0) return false;
  aUsed = p + 3 - aData;
  *this = std::move(parsed);
  return true;
}

void ScriptDataObject::Write(uint8_t* aBuffer) const {
  FName.Write(aBuffer);
  FArray.Write(aBuffer + FName.Size());
}

bool ScriptDataObject::Parse(const uint8_t* aData, size_t aLeft) {
  size_t nameSize = 0, arraySize = 0;
  AmfString name;
  AmfEcmaArray array;
  if (!name.Parse(aData, aLeft, nameSize) || !array.Parse(aData + nameSize, aLeft - nameSize, arraySize)) return false;
  FName = std::move(name);
  FArray = std::move(array);
  return true;
}

void ScriptDataObject::Assign(ScriptDataObject&& aOther) {
  FName = std::move(aOther.FName);
  FArray = std::move(aOther.FArray);
}
