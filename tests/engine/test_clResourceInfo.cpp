#include "engine/clResourceInfo.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/clInternetError.h"
#include "engine/clReplyInfo.h"
#include "http/clHttpDate.h"
#include "tests/engine/EngineRequest.h"
#include "tests/support/HttpFixture.h"

using namespace zvtest;

TEST(TclResourceInfo, AssignCopiesWhatTheSourceAnswers) {
  TclResourceInfo fresh;
  EXPECT_NEAR(fresh.Date(), TclDateTime::Now(), 1.0 / 86400 * 5);
  EXPECT_EQ(fresh.Size(), 0);

  TclResourceInfo source;
  source.SetSize(1000);
  source.SetName("/a.flv");
  source.SetDate(45000.5);
  source.SetContentType("video/x-flv");
  source.SetStatusCode(206);
  source.SetAllowsRandomAccess(true);
  source.SetContentDisposition("attachment");
  source.SetCompressed(true);
  source.SetStatusText("Partial Content");
  TclResourceInfo copy;
  copy.Assign(&source);
  EXPECT_EQ(copy.Size(), 1000);
  EXPECT_EQ(copy.Name(), "/a.flv");
  EXPECT_EQ(copy.Date(), 45000.5);
  EXPECT_EQ(copy.ContentType(), "video/x-flv");
  EXPECT_EQ(copy.StatusCode(), 206);
  EXPECT_TRUE(copy.AllowsRandomAccess());
  EXPECT_EQ(copy.ContentDisposition(), "attachment");
  EXPECT_TRUE(copy.Compressed());
  EXPECT_EQ(copy.StatusText(), "Partial Content");

  // Without a size there is no random access, and the copy keeps none even when a size comes.
  source.SetSize(0);
  copy.Assign(&source);
  EXPECT_FALSE(copy.AllowsRandomAccess());
  copy.SetSize(1000);
  EXPECT_FALSE(copy.AllowsRandomAccess());

  copy.Assign(nullptr);
  EXPECT_EQ(copy.Date(), 0);
  EXPECT_EQ(copy.Size(), 0);
  EXPECT_EQ(copy.Name(), "");
  EXPECT_FALSE(copy.Compressed());
  EXPECT_EQ(copy.StatusCode(), 0);
}

TEST(TclResourceInfoHolder, AGivenInfoDestroyedFirstIsUnlinked) {
  TclResourceInfoHolder holder;
  holder.SetName("/own.flv");
  holder.Ensure().SetSize(5);  // an own one, freed by the giving
  auto given = std::make_unique<TclResourceInfo>();
  holder.SetGiven(given.get());
  EXPECT_EQ(holder.Get(), given.get());
  given.reset();
  EXPECT_EQ(holder.Get(), nullptr);
  TclResourceInfo& own = holder.Ensure();
  EXPECT_EQ(own.Name(), "/own.flv");
  EXPECT_EQ(own.Size(), 0);
  EXPECT_EQ(holder.Get(), &own);

  // A holder that goes first leaves the info it was given as it was.
  TclResourceInfo outliving;
  {
    TclResourceInfoHolder shortLived;
    shortLived.SetGiven(&outliving);
  }
  outliving.SetSize(7);
  EXPECT_EQ(outliving.Size(), 7);
}

TEST(EclInternetError, ErrorTextNeverEndsInAPeriodOrLineBreak) {
  struct {
    const char* System;
    int32_t Code;
    const char* Response;
    const char* Expected;
  } cases[] = {
      {"An extended error was returned from the server.\r\n", 12003, "550 No such file",
       "An extended error was returned from the server; Additional info: 550 No such file"},
      {"", 12003, "550 No such file", "550 No such file"},
      {"The operation timed out. . \r\n", 12002, "", "The operation timed out"},
      {"", 4711, "", "Unknown error, code = 4711"},
      {" .\n", -3, "", "Unknown error, code = -3"},
  };
  for (auto& c : cases)
    EXPECT_EQ(EclInternetError::ComposeErrorText(c.System, c.Code, c.Response), c.Expected) << c.System;
}

TEST(EclInternetError, PlatformNumbersReadAsTheirText) {
  SetLastError(ERROR_INTERNET_TIMEOUT);
  EclInternetError error = EclInternetError::CreateByLastError();
  EXPECT_EQ(error.ErrorCode(), int32_t(ERROR_INTERNET_TIMEOUT));
  const std::string text = error.what();
  EXPECT_EQ(text, EclInternetError::ComposeErrorText(FormatInternetMessage(ERROR_INTERNET_TIMEOUT), 12002, ""));
  EXPECT_EQ(text.find("Unknown error"), std::string::npos) << text;
  EXPECT_EQ(EclInternetError::GetLastErrorText(98765), "Unknown error, code = 98765");
}

namespace {

struct TReplyCase {
  const char* Name;
  std::vector<std::string> Headers;
  int64_t Size;
  bool RandomAccess;
};

// The facts a worker learns from a real reply of the fixture server.
void Evaluate(HttpFixture& aServer, const std::string& aRawReply, TStrings& aHeader, TclResourceInfoHolder& aInfo) {
  aServer.Reply(aRawReply);
  TclInternetConnection connection;
  TEngineRequest request(connection, aServer.Port(), "/file.flv");
  request.Send();
  aInfo.SetName("/file.flv");
  EXPECT_TRUE(ReadReplyStatus(request.Handle(), aHeader, aInfo));
  EvaluateReplyHeaders(request.Handle(), aHeader, aInfo);
}

}  // namespace

TEST(ReplyInfo, HeaderFieldsDecideSizeAndRandomAccess) {
  const std::string lastModified = "Last-Modified: Wed, 09 Jun 2021 18:18:14 +0800";
  const TReplyCase cases[] = {
      {"complete", {lastModified, "Content-Type: video/x-flv", "Accept-Ranges: bytes"}, 1000, true},
      {"no type", {lastModified, "Accept-Ranges: bytes"}, 0, false},
      {"no date, no ranges", {"Content-Type: video/x-flv", "Accept-Ranges: none"}, 0, false},
      {"no date but ranges", {"Content-Type: video/x-flv", "Accept-Ranges: BYTES"}, 1000, true},
      {"server date", {"Date: Wed, 09 Jun 2021 10:18:14 GMT", "Content-Type: video/x-flv"}, 1000, false},
  };
  HttpFixture server;
  for (const TReplyCase& c : cases) {
    TStrings header;
    TclResourceInfoHolder info;
    Evaluate(server, HttpResponse(200, "OK", c.Headers, std::string(1000, 'v')), header, info);
    ASSERT_TRUE(info.Get()) << c.Name;
    EXPECT_EQ(info.Get()->Name(), "/file.flv");
    EXPECT_EQ(info.Get()->Size(), c.Size) << c.Name;
    EXPECT_EQ(info.Get()->AllowsRandomAccess(), c.RandomAccess) << c.Name;
    EXPECT_EQ(info.Get()->StatusCode(), 200);
    EXPECT_EQ(info.Get()->StatusText(), "OK");
    EXPECT_EQ(header.front(), "HTTP/1.1 200 OK") << c.Name;
  }

  TStrings header;
  TclResourceInfoHolder info;
  Evaluate(server,
           HttpResponse(200, "OK",
                        {lastModified, "Content-Type: text/xml; charset=utf-8", "Content-Encoding: GZIP",
                         "Content-Disposition: attachment; filename=\"c.xml\""},
                        Gzip("<i/>")),
           header, info);
  TDateTime expected;
  ASSERT_TRUE(TclHttpDate::TryRead("Wed, 09 Jun 2021 10:18:14 GMT", expected));
  EXPECT_DOUBLE_EQ(info.Get()->Date(), expected);
  EXPECT_EQ(info.Get()->ContentType(), "text/xml");
  EXPECT_TRUE(info.Get()->Compressed());
  EXPECT_EQ(info.Get()->ContentDisposition(), "attachment; filename=\"c.xml\"");
}

TEST(ReplyInfo, RefusedStatusRaisesItsCode) {
  HttpFixture server;
  server.Reply(HttpResponse(404, "Not Found", {"Content-Type: text/html"}, "<h1>gone</h1>"));
  TclInternetConnection connection;
  TEngineRequest request(connection, server.Port(), "/missing.flv");
  request.Send();
  TStrings header;
  TclResourceInfoHolder info;
  try {
    ReadReplyStatus(request.Handle(), header, info);
    FAIL() << "a 404 reply was accepted";
  } catch (const EclInternetError& e) {
    EXPECT_STREQ(e.what(), "HTTP resource access error occured, code = 404");
    EXPECT_EQ(e.ErrorCode(), 404);
  }
  ASSERT_TRUE(info.Get());
  EXPECT_EQ(info.Get()->StatusCode(), 404);
  EXPECT_EQ(info.Get()->StatusText(), "Not Found");
  EXPECT_EQ(header.front(), "HTTP/1.1 404 Not Found");
}
