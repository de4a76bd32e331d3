#include <gtest/gtest.h>

#include "http/clHeaderFieldList.h"

namespace {

// A header list bound to its own lines.
struct THeader {
  TStrings Lines;
  TclHeaderFieldList List;
  explicit THeader(TStrings aLines, int32_t aStart = 0) : Lines(std::move(aLines)) { List.Parse(aStart, &Lines); }
};

}  // namespace

TEST(HeaderFieldList, IndexesFieldsUpToTheFirstEmptyLine) {
  THeader h({"GET / HTTP/1.1", "content-type: text/html", "Set-Cookie: a=1", "X-Long: first", "\tsecond",
             " third", "Set-Cookie: b=2", "", "Body: not a field"});
  EXPECT_EQ(h.List.HeaderEnd(), 7);
  ASSERT_EQ(h.List.FieldList().size(), 4u);
  EXPECT_EQ(h.List.GetFieldIndex("Content-Type"), 0);
  EXPECT_EQ(h.List.GetFieldName("Content-Type"), "content-type");
  EXPECT_EQ(h.List.GetFieldValue("SET-COOKIE"), "a=1");
  EXPECT_EQ(h.List.GetFieldValue(3), "b=2");
  EXPECT_EQ(h.List.GetFieldStart("x-long"), 3);
  EXPECT_EQ(h.List.GetFieldEnd("x-long"), 5);
  // A leading tab goes, a leading space stays.
  EXPECT_EQ(h.List.GetFieldValue("X-Long"), "firstsecond third");
  EXPECT_EQ(h.List.GetFieldIndex("Body"), -1);
  TStrings source;
  h.List.GetFieldSource("x-long", source);
  EXPECT_EQ(source, (TStrings{"X-Long: first", "\tsecond", " third"}));
}

TEST(HeaderFieldList, OutOfRangeAndAbsentGiveEmptyResults) {
  THeader h({"A: 1"});
  EXPECT_EQ(h.List.GetFieldStart(5), -1);
  EXPECT_EQ(h.List.GetFieldEnd(-1), -1);
  EXPECT_EQ(h.List.GetFieldName(1), "");
  EXPECT_EQ(h.List.GetFieldValue("B"), "");
  EXPECT_EQ(h.List.GetFieldEnd(0), 0);
  h.List.RemoveField("B");
  h.List.AddFieldItem("B", "x", "1");
  EXPECT_EQ(h.Lines, TStrings{"A: 1"});
  TclHeaderFieldList unbound;
  EXPECT_EQ(unbound.GetFieldValue("A"), "");
}

TEST(HeaderFieldList, ReadsItemsOfAValue) {
  TclHeaderFieldList list;
  const struct {
    const char* Source;
    const char* Item;
    const char* Value;
  } cases[] = {
      {"text/html; charset=\"utf-8\"", "charset", "utf-8"},
      {"text/html; charset=\"utf-8\"", "", "text/html"},
      {"text/html;charset = 'x;y' ; b=2", "charset", "x;y"},
      {"multipart/form-data; boundary=\"--a,b\"", "boundary", "--a,b"},
      {"a=1, b=2", "b", "2"},
      {"ccharset=x", "charset", "x"},
      {"form-data; filename=\"a.txt\"; name=\"f\"", "name", "a.txt"},
      {"text/html", "charset", ""},
      {"charset=\"unclosed; x", "charset", "\"unclosed; x"},
      {"Charset=UTF-8", "charset", "UTF-8"},
      {"x=\"", "x", ""},
      {"", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(list.GetFieldValueItem(c.Source, c.Item), c.Value) << c.Source;
}

TEST(HeaderFieldList, BuildsPairs) {
  EXPECT_EQ(TclHeaderFieldList::GetNameValuePair("Accept", "*/*"), "Accept: */*");
  EXPECT_EQ(TclHeaderFieldList::GetNameValuePair("Accept", ""), "Accept:");
  EXPECT_EQ(TclHeaderFieldList::GetItemNameValuePair("charset", "utf-8"), "charset=utf-8");
  EXPECT_EQ(TclHeaderFieldList::GetItemNameValuePair("charset=", "utf-8"), "charset=utf-8");
  EXPECT_EQ(TclHeaderFieldList::GetItemNameValuePair("", "utf-8"), "utf-8");
}

TEST(HeaderFieldList, AddsFieldsAtTheEndOfTheHeader) {
  THeader h({"HTTP/1.1 200 OK", "A: 1", "", "body"});
  h.List.AddField("B", "2");
  h.List.AddField("Skipped", "");
  h.List.AddEmptyField("C");
  h.List.AddFieldIfNotExist("a", "again");
  h.List.AddFieldIfNotExist("D", "4");
  h.List.AddNonFoldedField("E", "5");
  h.List.AddFields({"F: 6", "", "G: 7"});
  h.List.AddArrayField("H", {"x", "", "y", "z"});
  h.List.AddArrayField("I", {"only"});
  h.List.InsertField(-3, "Z", "0");
  h.List.InsertEmptyField(100, "Last");
  EXPECT_EQ(h.Lines, (TStrings{"Z: 0", "HTTP/1.1 200 OK", "A: 1", "B: 2", "C:", "D: 4", "E: 5", "F: 6", "G: 7",
                               "H: x,", "\ty,", "\tz", "I: only", "Last:", "", "body"}));
  EXPECT_EQ(h.List.GetFieldValue("H"), "x,y,z");
  EXPECT_EQ(h.List.HeaderEnd(), 14);
}

TEST(HeaderFieldList, EndsTheHeaderOnce) {
  THeader open({"A: 1"});
  open.List.AddEndOfHeader();
  open.List.AddEndOfHeader();
  EXPECT_EQ(open.Lines, (TStrings{"A: 1", ""}));
  THeader empty({});
  empty.List.AddEndOfHeader();
  EXPECT_TRUE(empty.Lines.empty());
}

TEST(HeaderFieldList, RemovesFieldsWithTheirContinuations) {
  THeader h({"A: 1", "B: x,", "\ty,", " z", "C: 3", "B: again"});
  h.List.RemoveField("b");
  EXPECT_EQ(h.Lines, (TStrings{"A: 1", "C: 3", "B: again"}));
  h.List.RemoveField(2);
  h.List.RemoveField(0);
  EXPECT_EQ(h.Lines, TStrings{"C: 3"});
  EXPECT_EQ(h.List.GetFieldIndex("C"), 0);
}

TEST(HeaderFieldList, AddsItemsToAField) {
  const struct {
    const char* Line;
    const char* Item;
    const char* Value;
    const char* Result;
  } cases[] = {
      {"Content-Type: text/plain", "charset", "utf-8", "Content-Type: text/plain; charset=utf-8"},
      {"Content-Type: text/plain;", "charset", " utf-8 ", "Content-Type: text/plain; charset=utf-8"},
      {"Content-Type: text/plain; ", "charset", "utf-8", "Content-Type: text/plain; charset=utf-8"},
      {"Content-Type:", "", "text/plain", "Content-Type: text/plain"},
      {"Content-Type: text/plain", "charset", "", "Content-Type: text/plain"},
  };
  for (const auto& c : cases) {
    THeader h({c.Line});
    h.List.AddFieldItem("content-type", c.Item, c.Value);
    EXPECT_EQ(h.Lines, TStrings{c.Result}) << c.Line;
  }
  THeader h({"Content-Disposition: form-data", "X: 1"});
  h.List.AddQuotedFieldItem("Content-Disposition", "name", "f");
  h.List.AddQuotedFieldItem(0, "filename", "\"a b.txt\"");
  h.List.AddEmptyFieldItem(0, "inline");
  EXPECT_EQ(h.Lines[0], "Content-Disposition: form-data; name=\"f\"; filename=\"a b.txt\"; inline");
  h.List.AddFieldItem(0, "size", "10", true);
  EXPECT_EQ(h.Lines, (TStrings{"Content-Disposition: form-data; name=\"f\"; filename=\"a b.txt\"; inline;",
                               "\tsize=10", "X: 1"}));
  h.List.AddFieldItem(0, "more", "1");
  // The continuation stays a continuation when an item is appended to it.
  EXPECT_EQ(h.Lines[1], "\tsize=10; more=1");
  EXPECT_EQ(h.List.GetFieldValueItem(h.List.GetFieldValue(0), "more"), "1");
  EXPECT_EQ(h.List.GetFieldIndex("X"), 1);
}

TEST(HeaderFieldList, RemovesAndClearsItems) {
  const struct {
    const char* Item;
    bool Clear;
    TStrings Result;
  } cases[] = {
      {"charset", false, {"Content-Type: text/plain; format=flowed", "X: 1"}},
      {"format", false, {"Content-Type: text/plain; charset=\"a;b\"", "X: 1"}},
      {"", false, {"Content-Type: charset=\"a;b\"; format=flowed", "X: 1"}},
      {"missing", false, {"Content-Type: text/plain; charset=\"a;b\"; format=flowed", "X: 1"}},
      {"charset", true, {"Content-Type: text/plain; charset=; format=flowed", "X: 1"}},
  };
  for (const auto& c : cases) {
    THeader h({"Content-Type: text/plain; charset=\"a;b\"; format=flowed", "X: 1"});
    if (c.Clear)
      h.List.ClearFieldItem("Content-Type", c.Item);
    else
      h.List.RemoveFieldItem("Content-Type", c.Item);
    EXPECT_EQ(h.Lines, c.Result) << c.Item;
  }
  THeader folded({"A: x=1;", "\ty=2", "B: 2"});
  folded.List.RemoveFieldItem(0, "y");
  EXPECT_EQ(folded.Lines, (TStrings{"A: x=1", "B: 2"}));
  EXPECT_EQ(folded.List.GetFieldIndex("B"), 1);
}

TEST(HeaderFieldList, FoldsLongLinesAndReadsThemBackWhole) {
  for (int32_t width : {1, 5, 8, 13, 100}) {
    SCOPED_TRACE(width);
    THeader h({"Start: 1"});
    h.List.SetCharsPerLine(width);
    const std::string value = "some long value, with (parts); and <more> text";
    h.List.AddField("Folded", value);
    h.List.AddField("After", "x");
    EXPECT_EQ(h.List.GetFieldValue("Folded"), value);
    EXPECT_EQ(h.List.GetFieldValue("After"), "x");
    EXPECT_EQ(h.List.GetFieldName(1), "Folded");
    TStrings folded;
    h.List.GetFieldSource("Folded", folded);
    EXPECT_EQ(folded.size() > 1, width < 100);
    h.List.AddFieldItem("Folded", "item", "value");
    EXPECT_EQ(h.List.GetFieldValueItem(h.List.GetFieldValue("Folded"), "item"), "value");
    h.List.RemoveField("Folded");
    EXPECT_EQ(h.List.GetFieldStart("After"), 1);
    EXPECT_EQ(h.List.GetFieldValue("After"), "x");
  }
}

TEST(HeaderFieldList, FoldingKeepsPunctuationWithThePreviousLine) {
  THeader h({});
  h.List.SetCharsPerLine(2);
  h.List.AddNonFoldedField("A", "0123456789");
  h.List.AddField("B", "abc;");
  EXPECT_EQ(h.Lines, (TStrings{"A: 0123456789", "B:", "\t a", "\tbc;"}));
  EXPECT_EQ(h.List.GetFieldValue("B"), "abc;");
}

TEST(HeaderFieldList, RefusesLineBreaksAndUnboundWrites) {
  THeader h({"A: 1"});
  for (const char* value : {"x\r\nInjected: 1", "x\nInjected: 1", "x\rInjected: 1"}) {
    EXPECT_THROW(h.List.AddField("B", value), EclAssertionError) << value;
    EXPECT_THROW(h.List.AddFieldItem("A", "b", value), EclAssertionError) << value;
    EXPECT_THROW(h.List.AddFields({value}), EclAssertionError) << value;
  }
  EXPECT_THROW(h.List.AddEmptyField("B\r\nC"), EclAssertionError);
  EXPECT_EQ(h.Lines, TStrings{"A: 1"});
  TclHeaderFieldList unbound;
  EXPECT_THROW(unbound.AddField("A", "1"), EclAssertionError);
  EXPECT_THROW(unbound.AddEndOfHeader(), EclAssertionError);
}

TEST(HeaderFieldList, ParsesFromAStartLine) {
  THeader h({"Ignored: 0", "A: 1", "", "B: 2"}, 1);
  EXPECT_EQ(h.List.HeaderStart(), 1);
  EXPECT_EQ(h.List.GetFieldIndex("Ignored"), -1);
  h.List.InsertField(0, "Z", "9");
  EXPECT_EQ(h.Lines, (TStrings{"Z: 9", "Ignored: 0", "A: 1", "", "B: 2"}));
  EXPECT_EQ(h.List.GetFieldValue("A"), "1");
}
