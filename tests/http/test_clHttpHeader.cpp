#include <gtest/gtest.h>

#include "http/clHttpHeader.h"

TEST(HttpHeader, ParsesAResponseHeader) {
  TclHttpResponseHeader header;
  header.ParseHeader({"HTTP/1.1 401 Unauthorized", "Content-Type: text/html; charset=UTF-8",
                      "Content-Length:   1234  ", "WWW-Authenticate: Digest realm=\"r\"", "Set-Cookie: a=1; Path=/",
                      "WWW-Authenticate: Basic realm=\"r\"", "Set-Cookie: b=2", "X-Folded: one", "\ttwo",
                      "Proxy-Authenticate: Basic", "ETag: \"abc\"", "Location: /next", "", "body: ignored"});
  EXPECT_EQ(header.ContentType(), "text/html");
  EXPECT_EQ(header.CharSet(), "UTF-8");
  EXPECT_EQ(header.ContentLength(), "1234");
  EXPECT_EQ(header.Authenticate(), (TStrings{"Digest realm=\"r\"", "Basic realm=\"r\""}));
  EXPECT_EQ(header.ProxyAuthenticate(), TStrings{"Basic"});
  EXPECT_EQ(header.ETag(), "\"abc\"");
  EXPECT_EQ(header.Location(), "/next");
  EXPECT_EQ(header.ExtraFields(), (TStrings{"Set-Cookie: a=1; Path=/", "Set-Cookie: b=2", "X-Folded: onetwo"}));
}

TEST(HttpHeader, ReadsTheItemsOfContentType) {
  const struct {
    const char* Line;
    const char* Type;
    const char* Boundary;
    const char* CharSet;
  } cases[] = {
      {"Content-Type: multipart/form-data; boundary=\"--x;y\"", "multipart/form-data", "--x;y", ""},
      {"content-type: text/plain;charset='koi8-r'", "text/plain", "", "koi8-r"},
      {"Content-Type: application/json, charset=utf-8", "application/json", "", "utf-8"},
      {"Content-Type:", "", "", ""},
  };
  for (const auto& c : cases) {
    TclHttpEntityHeader header;
    header.ParseHeader({c.Line});
    EXPECT_EQ(header.ContentType(), c.Type) << c.Line;
    EXPECT_EQ(header.Boundary(), c.Boundary) << c.Line;
    EXPECT_EQ(header.CharSet(), c.CharSet) << c.Line;
  }
}

TEST(HttpHeader, WritesFieldsInTheirOrder) {
  TclHttpRequestHeader request;
  request.SetReferer("https://www.zentavo.example/");
  TStrings lines;
  request.AssignHeader(lines);
  EXPECT_EQ(lines, (TStrings{"Accept: */*", "Referer: https://www.zentavo.example/"}));

  request.SetUserAgent("UA");
  request.SetHost("h");
  request.SetRange("bytes=0-");
  request.SetAuthorization("Basic x");
  request.SetContentType("application/x-www-form-urlencoded");
  request.SetCharSet("utf-8");
  request.SetContentLength("9");
  request.SetConnection("Keep-Alive");
  request.SetExtraFields({"Cookie: a=1"});
  lines = {"POST / HTTP/1.1", "", "body"};
  request.AssignHeader(lines);
  EXPECT_EQ(lines, (TStrings{"POST / HTTP/1.1", "Accept: */*", "Range: bytes=0-", "Referer: https://www.zentavo.example/",
                             "Host: h", "User-Agent: UA", "Authorization: Basic x", "Content-Length: 9",
                             "Content-Type: application/x-www-form-urlencoded; charset=utf-8", "Connection: Keep-Alive",
                             "Cookie: a=1", "", "body"}));
}

TEST(HttpHeader, WritesAResponseHeaderBackAsParsed) {
  const TStrings source = {"Allow: GET", "Accept-Ranges: bytes", "Content-Disposition: attachment; filename=\"a b\"",
                           "Server: fixture", "WWW-Authenticate: Basic realm=\"a\"", "WWW-Authenticate: Digest",
                           "Content-Length: 5", "Content-Type: multipart/mixed; boundary=xyz; charset=gbk",
                           "Date: Thu, 10 Dec 2026 03:00:00 GMT", "Transfer-Encoding: chunked", "X-Unknown:   spaced",
                           "Set-Cookie: a=1"};
  TclHttpResponseHeader header;
  header.ParseHeader(source);
  TStrings written;
  header.AssignHeader(written);
  TStrings expected = source;
  expected[10] = "X-Unknown: spaced";
  EXPECT_EQ(written, expected);
}

TEST(HttpHeader, SkipsContentTypeItemsWithoutAMediaType) {
  TclHttpEntityHeader header;
  header.SetCharSet("utf-8");
  header.SetBoundary("b");
  TStrings lines;
  header.AssignHeader(lines);
  EXPECT_TRUE(lines.empty());
}

TEST(HttpHeader, ClearLeavesOnlyAcceptOnARequest) {
  TclHttpRequestHeader request;
  request.ParseHeader({"GET / HTTP/1.1", "Accept: text/html", "Host: h", "X-A: 1"});
  EXPECT_EQ(request.Accept(), "text/html");
  request.Clear();
  TStrings lines;
  request.AssignHeader(lines);
  EXPECT_EQ(lines, TStrings{"Accept: */*"});
}

TEST(HttpHeader, AssignCopiesTheSharedClasses) {
  TclHttpResponseHeader response;
  response.ParseHeader({"Content-Type: text/xml", "Location: /x", "X-A: 1"});
  TclHttpRequestHeader request;
  request.SetReferer("r");
  request.Assign(response);
  EXPECT_EQ(request.ContentType(), "text/xml");
  EXPECT_EQ(request.ExtraFields(), TStrings{"X-A: 1"});
  EXPECT_EQ(request.Referer(), "r");
  TclHttpResponseHeader copy;
  copy.Assign(response);
  EXPECT_EQ(copy.Location(), "/x");
}

TEST(HttpHeader, NotifiesChangesOutsideUpdateBrackets) {
  TclHttpRequestHeader header;
  int changes = 0;
  header.OnChanged = [&](TclHttpEntityHeader* aSender) {
    EXPECT_EQ(aSender, &header);
    ++changes;
  };
  header.SetAccept("*/*");
  EXPECT_EQ(changes, 0);
  header.SetAccept("text/html");
  EXPECT_EQ(changes, 1);
  header.SetExtraFields({"X: 1"});
  EXPECT_EQ(changes, 2);
  header.BeginUpdate();
  header.BeginUpdate();
  header.SetHost("a");
  header.SetHost("b");
  header.EndUpdate();
  EXPECT_EQ(changes, 2);
  header.EndUpdate();
  EXPECT_EQ(changes, 3);
  header.EndUpdate();
  EXPECT_EQ(changes, 3);
  header.ParseHeader({"Host: c"});
  EXPECT_EQ(changes, 4);
}

TEST(HttpHeader, RefusesFieldValuesThatWouldSplitTheHeader) {
  TclHttpRequestHeader header;
  header.SetUserAgent("x\r\nInjected: 1");
  TStrings lines;
  EXPECT_THROW(header.AssignHeader(lines), EclAssertionError);
  header.SetUserAgent("x");
  header.SetExtraFields({"X: 1\nInjected: 1"});
  EXPECT_THROW(header.AssignHeader(lines), EclAssertionError);
}
