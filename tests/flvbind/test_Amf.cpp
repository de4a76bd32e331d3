// AMF0 values: their serialized forms, parsing and the ECMA array's order.
#include <gtest/gtest.h>

#include "flvbind/Amf.h"

namespace {

std::string Bytes(const AmfValue& aValue) {
  std::string s(aValue.Size(), '\0');
  aValue.Write(reinterpret_cast<uint8_t*>(s.data()));
  return s;
}

template <class T>
bool ParseInto(T& aValue, const std::string& aBytes, size_t* aUsed = nullptr) {
  size_t used = 0;
  bool ok = aValue.Parse(reinterpret_cast<const uint8_t*>(aBytes.data()), aBytes.size(), used);
  if (aUsed) *aUsed = used;
  return ok;
}

TEST(Amf, WritesEachKind) {
  EXPECT_EQ(Bytes(AmfNumber(1.5)), std::string("\x00\x3F\xF8\0\0\0\0\0\0", 9));
  EXPECT_EQ(Bytes(AmfBoolean(true)), std::string("\x01\x01", 2));
  EXPECT_EQ(Bytes(AmfString("ab")), std::string("\x02\x00\x02" "ab", 5));
  EXPECT_EQ(Bytes(AmfDate(2, -60)), std::string("\x0B\x40\x9F\x40\0\0\0\0\0\xFF\xC4", 11));  // 2000 ms
  AmfEcmaArray array;
  array.Set("b", std::make_unique<AmfBoolean>(false));
  array.Set("a", std::make_unique<AmfNumber>(0));
  array.Set("b", std::make_unique<AmfString>("x"));  // replaced in place
  EXPECT_EQ(array.Keys(), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(Bytes(array), std::string("\x08\0\0\0\x02" "\0\x01" "b\x02\0\x01x" "\0\x01" "a", 15) +
                              std::string(9, '\0') + std::string("\0\0\x09", 3));
  EXPECT_EQ(array.Size(), 27u);
}

TEST(Amf, ParsesWhatItWritesAndNestedArrays) {
  AmfEcmaArray inner;
  inner.Set("when", std::make_unique<AmfDate>(1234, 60));
  AmfEcmaArray outer;
  outer.Set("n", std::make_unique<AmfNumber>(-2.25));
  outer.Set("inner", inner.Clone());
  outer.Set("s", std::make_unique<AmfString>("text"));
  const std::string bytes = Bytes(outer) + "trailing";
  AmfEcmaArray parsed;
  size_t used = 0;
  ASSERT_TRUE(ParseInto(parsed, bytes, &used));
  EXPECT_EQ(used, outer.Size());
  EXPECT_EQ(Bytes(parsed), Bytes(outer));
  const auto* date = static_cast<const AmfEcmaArray*>(parsed.Get("inner"))->Get("when");
  EXPECT_EQ(static_cast<const AmfDate*>(date)->Seconds(), 1234);
}

TEST(Amf, DatesKeepWholeSeconds) {
  AmfDate date;
  ASSERT_TRUE(ParseInto(date, std::string("\x0B\x40\x9F\x41\0\0\0\0\0\0\0", 11)));  // 2000.25 ms
  EXPECT_EQ(date.Seconds(), 2);
  EXPECT_EQ(Bytes(date), std::string("\x0B\x40\x9F\x40\0\0\0\0\0\0\0", 11));
}

TEST(Amf, RefusesMalformedInput) {
  const std::string good = std::string("\x08\0\0\0\x01\0\x01k\x01\x01\0\0\x09", 13);
  AmfEcmaArray array;
  ASSERT_TRUE(ParseInto(array, good));
  for (size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(ParseInto(array, good.substr(0, n))) << n;
  std::string bad[] = {
      std::string("\x08\0\0\0\x01\0\x01k\x03\0\0\x09\0\0\x09", 15),  // an object value
      std::string("\x08\0\0\0\x01\0\x01k\x01\x01\0\0\x08", 13),      // wrong end marker
      std::string("\x08\0\0\0\x02\0\x01k\x01\x01\0\0\x09", 13),      // fewer entries than counted
      std::string("\x03\0\0\0\0\0\0\x09", 8),                         // not an ECMA array
  };
  for (const auto& b : bad) EXPECT_FALSE(ParseInto(array, b)) << ::testing::PrintToString(b);
  EXPECT_EQ(array.Keys(), std::vector<std::string>{"k"});  // a failed parse changes nothing

  std::string deep;
  for (int i = 0; i < 10000; ++i) deep += std::string("\x08\0\0\0\x01\0\x01k", 8);
  EXPECT_FALSE(ParseInto(array, deep));

  AmfString text;
  EXPECT_FALSE(ParseInto(text, std::string("\x02\x00\x05" "abc", 6)));
  AmfNumber number;
  EXPECT_FALSE(ParseInto(number, std::string("\x00\x01", 2)));
}

TEST(Amf, ScriptDataObjectIsANameThenAnArray) {
  ScriptDataObject object("onMetaData");
  object.Array().Set("duration", std::make_unique<AmfNumber>(3));
  std::string bytes(object.Size(), '\0');
  object.Write(reinterpret_cast<uint8_t*>(bytes.data()));
  EXPECT_EQ(bytes.substr(0, 13), std::string("\x02\x00\x0AonMetaData", 13));
  ScriptDataObject parsed;
  ASSERT_TRUE(parsed.Parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  EXPECT_EQ(parsed.Name().Value(), "onMetaData");
  EXPECT_EQ(parsed.Array().Keys(), std::vector<std::string>{"duration"});
  EXPECT_FALSE(parsed.Parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size() - 1));
}

}  // namespace
