#include <gtest/gtest.h>

#include <regex>

#include "tests/support/TestSupport.h"
#include "http/clHttpRequest.h"

namespace {

std::string ReadAll(TStream& aStream) {
  std::string data;
  char buffer[7];  // small reads cross part borders
  int64_t got;
  while ((got = aStream.Read(buffer, sizeof buffer)) > 0) data.append(buffer, size_t(got));
  return data;
}

std::string Body(TclHttpRequest& aRequest) { return ReadAll(*aRequest.RequestStream()); }

// Hands out at most FLimit bytes per read, so delimiters arrive split across reads.
class TTrickleStream : public TMemoryStream {
public:
  TTrickleStream(std::string aData, int64_t aLimit) : TMemoryStream(std::move(aData)), FLimit(aLimit) {}
  int64_t Read(void* aBuffer, int64_t aCount) override { return TMemoryStream::Read(aBuffer, std::min(aCount, FLimit)); }

private:
  int64_t FLimit;
};

}  // namespace

TEST(HttpRequest, TheSharedRequestWritesAcceptAndReferer) {
  TclHttpRequest request;
  request.Header().SetAccept("*/*");
  request.Header().SetReferer("https://www.zentavo.example/");
  EXPECT_EQ(request.HeaderSource(), (TStrings{"Accept: */*", "Referer: https://www.zentavo.example/"}));
  EXPECT_EQ(request.TotalSize(), 0);
  EXPECT_EQ(Body(request), "");
  EXPECT_TRUE(request.RequestSource().empty());
}

TEST(HttpRequest, FormFieldsMakeAnUrlEncodedBody) {
  TclHttpRequest request;
  request.AddFormField("a", "1");
  request.AddFormField("b", "x y");
  EXPECT_EQ(request.AddFormFieldIfNeed("c", ""), nullptr);
  EXPECT_EQ(request.HeaderSource(),
            (TStrings{"Accept: */*", "Content-Length: 9", "Content-Type: application/x-www-form-urlencoded"}));
  EXPECT_EQ(Body(request), "a=1&b=x+y");
  EXPECT_EQ(request.RequestSource(), TStrings{"a=1&b=x+y"});
  EXPECT_EQ(request.FormFields("B")->FieldValue(), "x y");
  EXPECT_TRUE(request.IsFormFieldRequest());
}

TEST(HttpRequest, EncodesFormTextBytewiseInTheCharSet) {
  const struct {
    const char* CharSet;
    const char* Value;
    const char* Encoded;
  } cases[] = {
      {"utf-8", "\xD0\xB6\xE8\xA7\x86", "v=%D0%B6%E8%A7%86"},
      {"windows-1251", "\xD0\xB6", "v=%E6"},
      {"gbk", "\xE8\xA7\x86", "v=%CA%D3"},
      {"utf-8", "!#$%&'()+,/:;<=>?[\\]^{|}~\"@` -_.*az09", "v=%21%23%24%25%26%27%28%29%2B%2C%2F%3A%3B%3C%3D%3E%3F%5B%5C%5D%5E%7B%7C%7D%7E%22%40%60+-_.*az09"},
      {"utf-8", "a\r\nb\x7F", "v=a%0D%0Ab%7F"},
  };
  for (const auto& c : cases) {
    TclHttpRequest request;
    request.Header().SetCharSet(c.CharSet);
    request.AddFormField("v", c.Value);
    EXPECT_EQ(Body(request), c.Encoded) << c.CharSet;
  }
  TclHttpRequest raw;
  raw.AddFormField("v", "a b%41")->SetCanonicalized(false);
  EXPECT_EQ(Body(raw), "v=a b%41");
}

TEST(HttpRequest, TextAndBinaryItemsGoAsTheyAre) {
  TclHttpRequest request;
  TMemoryStream binary(std::string("\x00\x01\xFF", 3));
  request.OnLoadData = [&](TclHttpRequest*, TclHttpRequestItem*, TStream*& aData) { aData = &binary; };
  request.AddTextData("text \xD0\xB6;");
  request.AddFormField("ignored", "x");
  request.AddBinaryData();
  EXPECT_EQ(request.Header().ContentType(), "");
  EXPECT_EQ(Body(request), std::string("text \xD0\xB6;\x00\x01\xFF", 11));
  EXPECT_EQ(request.HeaderSource(), (TStrings{"Accept: */*", "Content-Length: 11"}));
}

TEST(HttpRequest, AFileItemSwitchesTheBodyToMultipart) {
  zvtest::TempDir dir;
  zvtest::WriteFile(dir.File("photo.bin"), std::string("\x89PNG\r\n--\0data", 13));
  TclHttpRequest request;
  request.Header().SetCharSet("utf-8");
  request.AddFormField("title", "\xD0\xB6 x");
  request.AddSubmitFile("upload", dir.File("photo.bin"));
  EXPECT_TRUE(request.IsMultiPartContent());
  const TStrings header = request.HeaderSource();
  const std::string boundary = request.Header().Boundary();
  EXPECT_TRUE(std::regex_match(boundary, std::regex("-{27}[0-9A-F]{12}"))) << boundary;
  const std::string expected = "--" + boundary + "\r\n" +
                               "Content-Disposition: form-data; name=\"title\"\r\n\r\n\xD0\xB6 x\r\n--" + boundary +
                               "\r\nContent-Disposition: form-data; name=\"upload\"; filename=\"photo.bin\"\r\n"
                               "Content-Type: application/octet-stream\r\n\r\n" +
                               std::string("\x89PNG\r\n--\0data", 13) + "\r\n--" + boundary + "--\r\n";
  EXPECT_EQ(Body(request), expected);
  EXPECT_EQ(header, (TStrings{"Accept: */*", "Content-Length: " + std::to_string(expected.size()),
                              "Content-Type: multipart/form-data; boundary=" + boundary + "; charset=utf-8"}));
}

TEST(HttpRequest, TotalSizeIsWhatTheBodyYields) {
  zvtest::TempDir dir;
  zvtest::WriteFile(dir.File("f.txt"), std::string(20000, 'z'));
  TMemoryStream binary(std::string(777, 'b'));
  const std::function<void(TclHttpRequest&)> builds[] = {
      [](TclHttpRequest&) {},
      [](TclHttpRequest& r) { r.AddFormField("only", ""); },
      [](TclHttpRequest& r) {
        r.AddFormField("a", "1");
        r.AddFormField("\xD0\xB6", "x y&z");
      },
      [&](TclHttpRequest& r) {
        r.AddFormField("a", "1");
        r.AddSubmitFile("f", dir.File("f.txt"));
        r.AddTextData("raw part");
      },
      [](TclHttpRequest& r) { r.AddTextData("\xE8\xA7\x86\xE9\xA2\x91"); },
      [](TclHttpRequest& r) {
        r.AddBinaryData();
        r.AddTextData("t");
      },
      [](TclHttpRequest& r) { r.BuildJSONRequest("{\"k\":\"\xD0\xB6\"}"); },
  };
  for (const char* charSet : {"utf-8", "gbk"}) {
    for (size_t i = 0; i < std::size(builds); ++i) {
      SCOPED_TRACE(std::string(charSet) + " body " + std::to_string(i));
      TclHttpRequest request;
      request.OnLoadData = [&](TclHttpRequest*, TclHttpRequestItem*, TStream*& aData) { aData = &binary; };
      request.Header().SetCharSet(charSet);
      builds[i](request);
      const int64_t total = request.TotalSize();
      EXPECT_EQ(int64_t(Body(request).size()), total);
      EXPECT_EQ(request.RequestStream()->Size(), total);
    }
  }
}

TEST(HttpRequest, ParsesAMultipartBodyBackIntoEqualItems) {
  zvtest::TempDir dir;
  const std::string fileData = std::string("line\r\n--not a boundary\r\n\0\xFF", 27) + std::string(30000, 'q');
  zvtest::WriteFile(dir.File("data.bin"), fileData);
  TclHttpRequest source;
  source.Header().SetCharSet("utf-8");
  source.AddFormField("name", "\xD0\xB6 value");
  source.AddSubmitFile("file", dir.File("data.bin"))->SetContentType("image/png");
  source.AddFormField("empty", "");
  const std::string body = Body(source);

  for (int64_t trickle : {1, 2, 5, 64, 100000}) {
    SCOPED_TRACE(trickle);
    TclHttpRequest parsed;
    parsed.Header().SetCharSet("utf-8");
    parsed.SetBatchSize(3);
    TMemoryStream saved;
    std::vector<std::string> added;
    parsed.OnSaveData = [&](TclHttpRequest*, TclHttpRequestItem*, TStream*& aData) { aData = &saved; };
    parsed.OnDataAdded = [&](TclHttpRequest*, TclHttpRequestItem* aItem, TStream* aData) {
      added.push_back(aData ? "file" : "field");
    };
    TTrickleStream stream(body, trickle);
    parsed.SetRequestStream(stream);
    ASSERT_EQ(parsed.Items().Count(), 3);
    auto* name = dynamic_cast<TclFormFieldRequestItem*>(parsed.Items().GetItem(0));
    auto* file = dynamic_cast<TclSubmitFileRequestItem*>(parsed.Items().GetItem(1));
    auto* empty = dynamic_cast<TclFormFieldRequestItem*>(parsed.Items().GetItem(2));
    ASSERT_TRUE(name && file && empty);
    EXPECT_EQ(name->FieldName(), "name");
    EXPECT_EQ(name->FieldValue(), "\xD0\xB6 value");
    EXPECT_EQ(file->FieldName(), "file");
    EXPECT_EQ(file->FileName(), "data.bin");
    EXPECT_EQ(file->ContentType(), "image/png");
    EXPECT_EQ(empty->FieldName(), "empty");
    EXPECT_EQ(empty->FieldValue(), "");
    EXPECT_EQ(saved.Data(), fileData);
    EXPECT_EQ(added, (std::vector<std::string>{"field", "file", "field"}));
    EXPECT_EQ(parsed.Header().Boundary(), source.Header().Boundary());
    EXPECT_TRUE(parsed.IsMultiPartContent());
  }
}

TEST(HttpRequest, ParsesPartsWithoutFormDataAsRawText) {
  TclHttpRequest request;
  request.SetRequestSource({"--b", "Content-Type: text/plain", "", "hello", "--b", "no header at all", "--b--"});
  ASSERT_EQ(request.Items().Count(), 2);
  EXPECT_EQ(dynamic_cast<TclTextRequestItem*>(request.Items().GetItem(0))->TextData(),
            "Content-Type: text/plain\r\n\r\nhello");
  EXPECT_EQ(dynamic_cast<TclTextRequestItem*>(request.Items().GetItem(1))->TextData(), "no header at all");
  EXPECT_EQ(request.Header().ContentType(), "");
  // A first line with a line break in its boundary is no multipart body.
  TMemoryStream broken("--a\nb\r\nContent-Disposition: form-data; filename=x\r\n\r\n1\r\n--a\nb--");
  request.SetRequestStream(broken);
  ASSERT_EQ(request.Items().Count(), 1);
  EXPECT_NE(dynamic_cast<TclTextRequestItem*>(request.Items().GetItem(0)), nullptr);
  EXPECT_NO_THROW(request.HeaderSource());
}

TEST(HttpRequest, ParsesUrlEncodedBodiesKeepingTheirEncoding) {
  TclHttpRequest request;
  request.Header().SetCharSet("utf-8");
  request.AddFormField("v", "x");
  TMemoryStream stream(" a = 1 &b=x+y&&c=%D0%B6%3D&flag");
  request.SetRequestStream(stream);
  ASSERT_EQ(request.Items().Count(), 4);
  const std::pair<const char*, const char*> fields[] = {{"a", "1"}, {"b", "x+y"}, {"c", "%D0%B6%3D"}, {"flag", ""}};
  for (int32_t i = 0; i < 4; ++i) {
    auto* field = dynamic_cast<TclFormFieldRequestItem*>(request.Items().GetItem(i));
    ASSERT_TRUE(field);
    EXPECT_EQ(field->FieldName(), fields[i].first);
    EXPECT_EQ(field->FieldValue(), fields[i].second);
  }
  EXPECT_EQ(Body(request), "a=1&b=x+y&c=%D0%B6%3D&flag=");
  // Any other body becomes one text item.
  TclHttpRequest text;
  TMemoryStream other("plain \xD0\xB6 text");
  text.SetRequestStream(other);
  ASSERT_EQ(text.Items().Count(), 1);
  EXPECT_EQ(dynamic_cast<TclTextRequestItem*>(text.Items().GetItem(0))->TextData(), "plain \xD0\xB6 text");
}

TEST(HttpRequest, ChangesMakeFreshHeaderLines) {
  TclHttpRequest request;
  int changes = 0;
  request.OnChanged = [&](TclHttpRequest*) { ++changes; };
  zvtest::TempDir dir;
  zvtest::WriteFile(dir.File("f"), "abc");
  request.AddSubmitFile("f", dir.File("f"));
  const TStrings first = request.HeaderSource();
  EXPECT_FALSE(request.Header().Boundary().empty());
  const int before = changes;
  request.Header().SetUserAgent("UA");
  EXPECT_GT(changes, before);
  EXPECT_TRUE(request.Header().Boundary().empty());
  const TStrings second = request.HeaderSource();
  EXPECT_NE(std::find(second.begin(), second.end(), "User-Agent: UA"), second.end());
  EXPECT_FALSE(request.Header().Boundary().empty());

  request.BeginUpdate();
  const int during = changes;
  request.AddFormField("a", "1");
  dynamic_cast<TclFormFieldRequestItem*>(request.Items().GetItem(1))->SetFieldValue("2");
  EXPECT_EQ(changes, during);
  request.EndUpdate();
  EXPECT_EQ(changes, during + 1);
  const std::string body = Body(request);
  EXPECT_NE(body.find("name=\"a\"\r\n\r\n2\r\n"), std::string::npos);
}

TEST(HttpRequest, ItemListOperations) {
  TclHttpRequest request;
  request.AddFormField("a", "1");
  request.AddFormField("b", "2");
  request.AddFormField("c", "3");
  request.Items().Move(2, 0);
  request.Items().Delete(1);
  request.Items().Delete(7);
  EXPECT_EQ(Body(request), "c=3&b=2");
  TclHttpRequest copy;
  copy.Header().SetReferer("r");
  copy.Assign(request);
  EXPECT_EQ(Body(copy), "c=3&b=2");
  EXPECT_EQ(copy.Header().Referer(), "");
  request.AddTextData("t");
  EXPECT_EQ(request.Header().ContentType(), "");
  request.Clear();
  EXPECT_EQ(request.Items().Count(), 0);
  EXPECT_EQ(request.HeaderSource(), TStrings{"Accept: */*"});
  EXPECT_THROW(TclHttpRequestItemList(nullptr), EclAssertionError);
  EXPECT_THROW(TclTextRequestItem(nullptr), EclAssertionError);
}

TEST(HttpRequest, BuildsAJsonRequest) {
  TclHttpRequest request;
  request.Header().SetCharSet("gbk");
  request.AddFormField("a", "1");
  request.BuildJSONRequest("{\"k\":\"\xD0\xB6\"}");
  EXPECT_EQ(request.HeaderSource(),
            (TStrings{"Accept: */*", "Content-Length: 10", "Content-Type: application/json; charset=utf-8"}));
  EXPECT_EQ(Body(request), "{\"k\":\"\xD0\xB6\"}");
}

TEST(HttpRequest, SavesAndLoadsABody) {
  zvtest::TempDir dir;
  zvtest::WriteFile(dir.File("in.txt"), "file body");
  TclHttpRequest request;
  request.AddFormField("a", "1");
  request.AddSubmitFile("f", dir.File("in.txt"));
  request.SaveRequest(dir.File("body"));
  EXPECT_EQ(zvtest::ReadFile(dir.File("body")), Body(request));
  TclHttpRequest loaded;
  TMemoryStream saved;
  loaded.OnSaveData = [&](TclHttpRequest*, TclHttpRequestItem*, TStream*& aData) { aData = &saved; };
  loaded.LoadRequest(dir.File("body"));
  EXPECT_EQ(loaded.Items().Count(), 2);
  EXPECT_EQ(saved.Data(), "file body");
}

TEST(HttpRequest, RefusesBrokenFilesAndEscapesNames) {
  zvtest::TempDir dir;
  TclHttpRequest missing;
  missing.AddSubmitFile("f", dir.File("absent"));
  EXPECT_THROW(missing.HeaderSource(), EStreamError);

  // A file that shrinks after its size was taken cannot silently shorten the body.
  zvtest::WriteFile(dir.File("shrinks"), std::string(100, 'x'));
  TclHttpRequest shrinking;
  shrinking.AddSubmitFile("f", dir.File("shrinks"));
  auto body = shrinking.RequestStream();
  zvtest::WriteFile(dir.File("shrinks"), "x");
  EXPECT_THROW(ReadAll(*body), EStreamError);

  // Quotes and line breaks in names cannot end the item or inject part headers.
  zvtest::WriteFile(dir.File("a\"b\r\nX: y"), "1");
  TclHttpRequest odd;
  odd.AddSubmitFile("f\"\n", dir.File("a\"b\r\nX: y"));
  EXPECT_NE(Body(odd).find("name=\"f%22%0A\"; filename=\"a%22b%0D%0AX: y\"\r\n"), std::string::npos);
}
