#pragma once
// AMF0 values of FLV script data: number, boolean, string, ECMA array and date, and the
// ScriptDataObject (a name and an array) that an FLV script data tag carries.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

enum TAmfMarker : uint8_t { amNumber = 0, amBoolean = 1, amString = 2, amEcmaArray = 8, amDate = 11 };

class AmfValue {
public:
  virtual ~AmfValue() = default;
  virtual size_t Size() const = 0;  // serialized size in bytes
  virtual TAmfMarker Marker() const = 0;
  virtual std::unique_ptr<AmfValue> Clone() const = 0;
  // aBuffer holds at least Size() bytes.
  virtual void Write(uint8_t* aBuffer) const = 0;
  // Parses the value at aData (aLeft bytes available); aUsed tells how many bytes it took.
  virtual bool Parse(const uint8_t* aData, size_t aLeft, size_t& aUsed) = 0;
};

class AmfNumber : public AmfValue {
public:
  explicit AmfNumber(double aValue = 0) : FValue(aValue) {}
  double Value() const { return FValue; }
  size_t Size() const override { return 9; }
  TAmfMarker Marker() const override { return amNumber; }
  std::unique_ptr<AmfValue> Clone() const override { return std::make_unique<AmfNumber>(*this); }
  void Write(uint8_t* aBuffer) const override;
  bool Parse(const uint8_t* aData, size_t aLeft, size_t& aUsed) override;

private:
  double FValue;
};

class AmfBoolean : public AmfValue {
public:
  explicit AmfBoolean(bool aValue = false) : FValue(aValue) {}
  bool Value() const { return FValue; }
  size_t Size() const override { return 2; }
  TAmfMarker Marker() const override { return amBoolean; }
  std::unique_ptr<AmfValue> Clone() const override { return std::make_unique<AmfBoolean>(*this); }
  void Write(uint8_t* aBuffer) const override;
  bool Parse(const uint8_t* aData, size_t aLeft, size_t& aUsed) override;

private:
  bool FValue;
};

class AmfString : public AmfValue {
public:
  // Longer texts are cut to the 65535 bytes that the 16-bit length can carry.
  explicit AmfString(std::string aValue = "");
  const std::string& Value() const { return FValue; }
  size_t Size() const override { return 3 + FValue.size(); }
  TAmfMarker Marker() const override { return amString; }
  std::unique_ptr<AmfValue> Clone() const override { return std::make_unique<AmfString>(*this); }
  void Write(uint8_t* aBuffer) const override;
  bool Parse(const uint8_t* aData, size_t aLeft, size_t& aUsed) override;

private:
  std::string FValue;
};

class AmfDate : public AmfValue {
public:
  // Held as whole seconds.
  explicit AmfDate(double aSeconds = 0, int16_t aTimeZone = 0) : FSeconds(aSeconds), FTimeZone(aTimeZone) {}
  double Seconds() const { return FSeconds; }
  int16_t TimeZone() const { return FTimeZone; }
  size_t Size() const override { return 11; }
  TAmfMarker Marker() const override { return amDate; }
  std::unique_ptr<AmfValue> Clone() const override { return std::make_unique<AmfDate>(*this); }
  void Write(uint8_t* aBuffer) const override;
  bool Parse(const uint8_t* aData, size_t aLeft, size_t& aUsed) override;

private:
  double FSeconds;
  int16_t FTimeZone;
};

// Entries keyed by name, written in the order the keys were first set.
class AmfEcmaArray : public AmfValue {
public:
  AmfEcmaArray() = default;
  AmfEcmaArray(const AmfEcmaArray& aOther);
  AmfEcmaArray& operator=(const AmfEcmaArray& aOther);
  AmfEcmaArray(AmfEcmaArray&&) = default;
  AmfEcmaArray& operator=(AmfEcmaArray&&) = default;

  // An existing key keeps its position; a new one goes last.
  void Set(const std::string& aKey, std::unique_ptr<AmfValue> aValue);
  const AmfValue* Get(const std::string& aKey) const;
  const std::vector<std::string>& Keys() const { return FKeys; }
  size_t Count() const { return FKeys.size(); }

  size_t Size() const override;
  TAmfMarker Marker() const override { return amEcmaArray; }
  std::unique_ptr<AmfValue> Clone() const override { return std::make_unique<AmfEcmaArray>(*this); }
  void Write(uint8_t* aBuffer) const override;
  bool Parse(const uint8_t* aData, size_t aLeft, size_t& aUsed) override;

private:
  bool ParseNested(const uint8_t* aData, size_t aLeft, size_t& aUsed, int aDepth);
  std::map<std::string, std::unique_ptr<AmfValue>> FValues;
  std::vector<std::string> FKeys;
};

// The data of an FLV script data tag: a name, then an ECMA array.
class ScriptDataObject {
public:
  explicit ScriptDataObject(std::string aName = "") : FName(std::move(aName)) {}
  const AmfString& Name() const { return FName; }
  AmfEcmaArray& Array() { return FArray; }
  const AmfEcmaArray& Array() const { return FArray; }
  size_t Size() const { return FName.Size() + FArray.Size(); }
  void Write(uint8_t* aBuffer) const;
  bool Parse(const uint8_t* aData, size_t aLeft);
  // Takes over the name and array of aOther.
  void Assign(ScriptDataObject&& aOther);

private:
  AmfString FName;
  AmfEcmaArray FArray;
};
