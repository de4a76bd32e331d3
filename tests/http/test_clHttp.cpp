// The HTTP client against real servers on 127.0.0.1: the scripted fixture (exact bytes on the
// wire, every response shape), nginx and tinyproxy.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <thread>

#include "common/clMessagePump.h"
#include "http/clHttp.h"
#include "tests/support/HttpFixture.h"
#include "tests/support/WebServers.h"

using namespace zvtest;

namespace {

const std::string cIPhone = "Mozilla/5.0 (iPhone; CPU iPhone OS 9_1 like Mac OS X)";

// A client with a short time-out, so that a test that goes wrong ends soon.
struct TestHttp : TclHttp {
  TestHttp() { SetTimeOut(5000); }
};

// A client whose authorization schemes answer every challenge with a fixed value.
struct AnsweringHttp : TestHttp {
  std::string Value = "Scheme token";
  bool NewConnection = false;
  std::vector<TStrings> Challenges;
  bool Authorize(const std::string&, const std::string& aUser, const std::string& aPassword, const TStrings& aChallenge,
                 bool& aStartNewConnection, std::string& aAuthValue) override {
    Challenges.push_back(aChallenge);
    aStartNewConnection = NewConnection;
    aAuthValue = Value + " " + aUser + ":" + aPassword;
    return true;
  }
};

std::string Get(TclHttp& aHttp, const std::string& aUrl, const TStrings& aHeader = {}) {
  TMemoryStream body;
  aHttp.SendRequest("GET", aUrl, aHeader, nullptr, nullptr, &body);
  return body.Data();
}

// A test CA that the TLS layer trusts, and a server certificate for localhost from it.
struct TrustedCa {
  TestCa Ca;
  TestCert Cert = Ca.Server();
  TrustedCa() { setenv("SSL_CERT_FILE", Ca.CertFile().c_str(), 1); }
};

std::string HeaderValue(const std::string& aHead, const std::string& aName) {
  size_t pos = aHead.find("\r\n" + aName + ": ");
  if (pos == std::string::npos) return "<none>";
  pos += aName.size() + 4;
  return aHead.substr(pos, aHead.find("\r\n", pos) - pos);
}

}  // namespace

TEST(Http, WritesTheExactRequestOnTheWire) {
  HttpFixture server;
  server.Reply(HttpResponse(200, "OK", {"Set-Cookie: sid=42; Path=/", "Set-Cookie: lang=zh; Path=/video"}, "page"));
  server.Reply(HttpResponse(200, "OK", {}, "again"));
  // As the main window sets it up: a shared request object with Accept and Referer.
  TclHttpRequest request;
  request.Header().SetAccept("*/*");
  request.Header().SetReferer("https://www.zentavo.example/");
  TestHttp http;
  http.SetRequest(&request);
  http.SetUserAgent(cIPhone);
  TStrings responseHeader;
  TMemoryStream body;
  http.Get(server.Url("/video/av1/index.html?x=1#part2"), &responseHeader, &body);
  EXPECT_EQ(body.Data(), "page");
  EXPECT_EQ(responseHeader, (TStrings{"HTTP/1.1 200 OK", "Set-Cookie: sid=42; Path=/",
                                      "Set-Cookie: lang=zh; Path=/video", "Content-Length: 4"}));
  ASSERT_EQ(http.ResponseCookies().Count(), 2);
  EXPECT_EQ(http.ResponseCookies().Items(0)->Name(), "sid");
  EXPECT_EQ(http.StatusCode(), 200);
  EXPECT_EQ(http.StatusText(), "OK");
  TStrings text;
  http.Get(server.Url("/video/av2/"), text);
  EXPECT_EQ(text, TStrings{"again"});
  http.SetRequest(nullptr);

  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string common = "Accept: */*\r\n"
                             "Referer: https://www.zentavo.example/\r\n"
                             "Accept-Encoding: gzip\r\n"
                             "Host: " + server.HostPort() + "\r\n"
                             "User-Agent: " + cIPhone + "\r\n"
                             "Connection: Keep-Alive\r\n";
  EXPECT_EQ(requests[0].Raw, "GET /video/av1/index.html?x=1 HTTP/1.1\r\n" + common + "\r\n");
  EXPECT_EQ(requests[1].Raw, "GET /video/av2/ HTTP/1.1\r\n" + common + "Cookie: lang=zh; sid=42\r\n\r\n");
}

TEST(Http, EachOperationSendsItsMethodHeaderAndBody) {
  HttpFixture server;
  server.Route("/", {fx::Send(HttpResponse(200, "OK", {"Content-Type: text/plain; charset=gbk"}, "\xCA\xD3\xC6\xB5"))});
  TestHttp http;
  http.SetAllowCompression(false);
  http.SetCharSet("utf-8");
  TclHttpRequest form;
  form.AddFormField("a", "1");
  form.AddFormField("b", "x y");
  TStrings text;
  http.Get(server.Url("/"), &form, nullptr, nullptr);
  http.Post(server.Url("/"), &form, text);
  EXPECT_EQ(text, TStrings{"视频"});  // decoded in the response's charset
  http.Put(server.Url("/"), "text/plain", TStrings{"один", "два"});
  TMemoryStream patch("{}");
  TStrings patchHeader{"Content-Type: application/json"};
  http.Patch(server.Url("/"), &patchHeader, &patch);
  http.Delete(server.Url("/"));
  TStrings header;
  http.Head(server.Url("/"), &header);
  EXPECT_EQ(header.front(), "HTTP/1.1 200 OK");
  http.Post(server.Url("/"), text);

  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 7u);
  std::string host = "Host: " + server.HostPort() + "\r\nUser-Agent: Mozilla/4.0 (compatible; Varnelo Net Toolkit)\r\n";
  // The form went into the query: the body's Content-Length and Content-Type are dropped.
  EXPECT_EQ(requests[0].Raw, "GET /?a=1&b=x+y HTTP/1.1\r\nAccept: */*\r\n" + host + "Connection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(requests[1].RequestLine(), "POST / HTTP/1.1");
  EXPECT_EQ(requests[1].Body(), "a=1&b=x+y");
  EXPECT_EQ(HeaderValue(requests[1].Head(), "Content-Length"), "9");
  EXPECT_EQ(requests[2].Raw, "PUT / HTTP/1.1\r\nContent-Type: text/plain; charset=utf-8\r\n" + host +
                             "Content-Length: 18\r\nConnection: Keep-Alive\r\n\r\nодин\r\nдва\r\n");
  EXPECT_EQ(requests[3].Raw, "PATCH / HTTP/1.1\r\nContent-Type: application/json\r\n" + host +
                             "Content-Length: 2\r\nConnection: Keep-Alive\r\n\r\n{}");
  EXPECT_EQ(requests[4].Raw, "DELETE / HTTP/1.1\r\nAccept: */*\r\n" + host + "Connection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(requests[5].RequestLine(), "HEAD / HTTP/1.1");
  // The client's own request object is cleared before each use: the form is gone.
  EXPECT_EQ(requests[6].Raw, "POST / HTTP/1.1\r\nAccept: */*\r\n" + host +
                             "Content-Length: 0\r\nConnection: Keep-Alive\r\n\r\n");
}

TEST(Http, CookiesCanBeSwitchedOffOrKeptInAnExternalStore) {
  HttpFixture server;
  server.Route("/", {fx::Send(HttpResponse(200, "OK", {"Set-Cookie: a=1"}))});
  TestHttp http;
  http.SetAllowCookies(false);
  http.SendRequest("GET", server.Url("/"), {"Cookie: mine=1"}, nullptr, nullptr, nullptr);
  http.SendRequest("GET", server.Url("/"), {"Cookie: mine=1"}, nullptr, nullptr, nullptr);
  EXPECT_EQ(http.ResponseCookies().Count(), 1);  // still read, but neither stored nor sent
  EXPECT_EQ(HeaderValue(server.Requests()[1].Head(), "Cookie"), "mine=1");

  TclCookieManager store;
  http.SetCookieManager(&store);
  http.SetAllowCookies(true);
  http.SendRequest("GET", server.Url("/"), {}, nullptr, nullptr, nullptr);
  EXPECT_EQ(store.Cookies().Count(), 1);
  http.SendRequest("GET", server.Url("/"), {}, nullptr, nullptr, nullptr);
  EXPECT_EQ(HeaderValue(server.Requests()[3].Head(), "Cookie"), "a=1");
  http.SetCookieManager(nullptr);
}

TEST(Http, FallsBackToItsOwnRequestAndCookieStoreWhenTheGivenOnesAreDestroyed) {
  HttpFixture server;
  server.Route("/", {fx::Send(HttpResponse(200, "OK", {"Set-Cookie: a=1"}))});
  TestHttp http;
  auto request = std::make_unique<TclHttpRequest>();
  request->Header().SetReferer("https://given.example/");
  auto store = std::make_unique<TclCookieManager>();
  http.SetRequest(request.get());
  http.SetCookieManager(store.get());
  TMemoryStream body;
  http.Get(server.Url("/"), &body);
  EXPECT_EQ(store->Cookies().Count(), 1);

  request.reset();
  store.reset();
  EXPECT_EQ(http.Request(), nullptr);
  EXPECT_EQ(http.CookieManager(), nullptr);
  http.Get(server.Url("/"), &body);
  http.Get(server.Url("/"), &body);
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(HeaderValue(requests[0].Head(), "Referer"), "https://given.example/");
  // The destroyed store's cookie is gone with it; the client's own store keeps the next one.
  EXPECT_EQ(HeaderValue(requests[1].Head(), "Referer"), "<none>");
  EXPECT_EQ(HeaderValue(requests[1].Head(), "Cookie"), "<none>");
  EXPECT_EQ(HeaderValue(requests[2].Head(), "Cookie"), "a=1");
}

TEST(Http, KeepsTheCallersOwnFieldsAndAddsTheOptionalOnes) {
  HttpFixture server;
  server.Reply(HttpResponse(200, "OK"));
  TestHttp http;
  http.SetAllowCaching(false);
  http.SetHttpVersion(hvHttp1_0);
  TMemoryStream body("abc");
  http.SetExpect100Continue(true);
  http.SendRequest("PUT", server.Url("/p"),
                   {"Accept-Encoding: identity", "User-Agent: mine", "Connection: close", "Host: wrong",
                    "Expect: nothing"},
                   &body, nullptr, nullptr);
  EXPECT_EQ(server.Requests()[0].Raw,
            "PUT /p HTTP/1.0\r\nAccept-Encoding: identity\r\nUser-Agent: mine\r\nConnection: close\r\n"
            "Host: " + server.HostPort() + "\r\nContent-Length: 3\r\nPragma: no-cache\r\n"
            "Expect: 100-continue\r\n\r\nabc");
}

TEST(Http, DecodesEveryBodyShape) {
  const std::string text(3000, 'z');
  const std::string gz = Gzip(text);
  struct Case {
    const char* Name;
    std::vector<FixtureStep> Steps;
    std::string Body;
    int32_t Status;
  };
  const std::vector<Case> cases = {
      {"length", {fx::Send(HttpResponse(200, "OK", {}, text), 1000, 5)}, text, 200},
      {"chunked with extensions, a byte at a time",
       {fx::Send(HttpResponse(200, "OK", {"Transfer-Encoding: chunked"}, Chunked("hello world", 4, ";a=b")), 1)},
       "hello world", 200},
      {"gzip inside chunked",
       {fx::Send(HttpResponse(200, "OK", {"Content-Encoding: gzip", "Transfer-Encoding: chunked"}, Chunked(gz, 100)))},
       text, 200},
      {"gzip with a length", {fx::Send(HttpResponse(200, "OK", {"Content-Encoding: gzip"}, gz))}, text, 200},
      {"read until close",
       {fx::Send(HttpResponse(200, "OK", {}, "until close", false)), fx::Sleep(50), fx::Send(" and more"), fx::Close()},
       "until close and more", 200},
      {"HTTP/1.0 without length",
       {fx::Send("HTTP/1.0 200 OK\r\nServer: old\r\n\r\nold body"), fx::Close()}, "old body", 200},
      {"interim 100 in the same read",
       {fx::Send("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\nX: y\r\n\r\n" + HttpResponse(200, "OK", {}, "final"))},
       "final", 200},
      {"other interim responses, in pieces",
       {fx::Send("HTTP/1.1 103 Early Hints\r\nLink: </s.css>; rel=preload\r\n\r\n"), fx::Sleep(50),
        fx::Send("HTTP/1.1 102 Processing\r\n\r\n" + HttpResponse(200, "OK", {}, "final"))},
       "final", 200},
      {"switching protocols is final", {fx::Send("HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n")}, "", 101},
      {"line feeds only", {fx::Send("HTTP/1.1 200 OK\nContent-Length: 2\n\nok")}, "ok", 200},
      {"status line without reason", {fx::Send("HTTP/1.1 201\r\nContent-Length: 1\r\n\r\nx")}, "x", 201},
      {"no content", {fx::Send("HTTP/1.1 204 No Content\r\nTransfer-Encoding: chunked\r\n\r\n")}, "", 204},
  };
  for (const auto& c : cases) {
    HttpFixture server;
    server.Script(c.Steps);
    TestHttp http;
    EXPECT_EQ(Get(http, server.Url("/")), c.Body) << c.Name;
    EXPECT_EQ(http.StatusCode(), c.Status) << c.Name;
  }
}

TEST(Http, KeepsOrClosesTheConnectionAsTheResponseSays) {
  struct Case {
    const char* Name;
    std::string Response;
    bool Reused;
  };
  const std::vector<Case> cases = {
      {"HTTP/1.1 default", HttpResponse(200, "OK", {}, "a"), true},
      {"HTTP/1.1 close", HttpResponse(200, "OK", {"Connection: close"}, "a"), false},
      {"HTTP/1.0 default", "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\na", false},
      {"HTTP/1.0 keep-alive", "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 1\r\n\r\na", true},
  };
  for (const auto& c : cases) {
    HttpFixture server;
    server.Reply(c.Response);
    server.Reply(HttpResponse(200, "OK", {}, "b"));
    TestHttp http;
    EXPECT_EQ(Get(http, server.Url("/1")), "a");
    EXPECT_EQ(http.Active(), c.Reused) << c.Name;
    EXPECT_EQ(Get(http, server.Url("/2")), "b");
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Connection, c.Reused ? 1 : 2) << c.Name;
  }
  // KeepConnection false asks for nothing and closes after every call.
  HttpFixture server;
  server.Reply(HttpResponse(200, "OK", {}, "a"));
  TestHttp http;
  http.SetKeepConnection(false);
  Get(http, server.Url("/"));
  EXPECT_FALSE(http.Active());
  EXPECT_EQ(HeaderValue(server.Requests()[0].Head(), "Connection"), "<none>");
}

TEST(Http, SendsTheRequestAgainWhenAReusedConnectionWasDropped) {
  for (auto drop : {fx::Close(), fx::Reset()}) {
    HttpFixture server;
    server.Reply(HttpResponse(200, "OK", {}, "first"));
    server.Script({drop});
    server.Reply(HttpResponse(200, "OK", {}, "again"));
    TestHttp http;
    EXPECT_EQ(Get(http, server.Url("/1")), "first");
    EXPECT_EQ(Get(http, server.Url("/2")), "again");
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].Connection, 1);
    EXPECT_EQ(requests[2].Connection, 2);
    EXPECT_EQ(requests[2].RequestLine(), "GET /2 HTTP/1.1");
  }
  // A fresh connection that fails the same way is not tried again.
  HttpFixture server;
  server.Script({fx::Close()});
  TestHttp http;
  EXPECT_THROW(Get(http, server.Url("/")), EclSocketError);
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(Http, ReportsABodyCutShortInsteadOfSuccess) {
  const std::vector<std::vector<FixtureStep>> cases = {
      {fx::Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this"), fx::Close()},
      {fx::Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n"), fx::Close()},
  };
  for (const auto& steps : cases) {
    HttpFixture server;
    server.Script(steps);
    TestHttp http;
    TMemoryStream body;
    EXPECT_THROW(http.SendRequest("GET", server.Url("/"), {}, nullptr, nullptr, &body), EclSocketError);
    EXPECT_FALSE(http.Active());
  }
}

TEST(Http, EndsOnSilenceAndOnResponsesThatAreNotHttp) {
  HttpFixture server;
  server.Script({fx::Sleep(1500), fx::Send(HttpResponse(200, "OK"))});
  server.Reply("SSH-2.0-OpenSSH\r\n\r\n");
  server.Script({fx::Send("HTTP/1.1 200 OK\r\n" + std::string(1100000, 'h')), fx::Sleep(1000)});
  TestHttp http;
  http.SetTimeOut(300);
  try {
    Get(http, server.Url("/slow"));
    ADD_FAILURE();
  } catch (const EclSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), -1);
  }
  EXPECT_FALSE(http.Active());  // a connection left inside an exchange is not reused
  http.SetTimeOut(5000);
  try {
    Get(http, server.Url("/ssh"));
    ADD_FAILURE();
  } catch (const EclHttpError& e) {
    EXPECT_STREQ(e.what(), "SSH-2.0-OpenSSH");
    EXPECT_EQ(e.ErrorCode(), 0);
  }
  EXPECT_FALSE(http.Active());
  EXPECT_THROW(Get(http, server.Url("/endless")), EclHttpError);
}

TEST(Http, FollowsRedirectsWithTheRightMethodAndBody) {
  struct Case {
    int32_t Status;
    std::string SecondMethod;
    bool BodyKept;
  };
  for (const auto& c : std::vector<Case>{{301, "POST", true}, {302, "GET", false}, {303, "GET", false},
                                         {307, "POST", true}, {308, "POST", true}}) {
    HttpFixture server;
    server.Reply(HttpResponse(c.Status, "Moved", {"Location: ../b/next?q=2"}, "moved"));
    server.Reply(HttpResponse(200, "OK", {}, "there"));
    TestHttp http;
    TMemoryStream form("a=1&b=2");
    form.SetPosition(0);
    TMemoryStream body;
    std::vector<std::string> sent;
    int64_t sentBytes = 0;
    http.OnSendRequest = [&](TclHttp*, const std::string& aMethod, const std::string& aUrl, const TStrings&) {
      sent.push_back(aMethod + " " + aUrl);
    };
    http.OnSendProgress = [&](TclHttp*, int64_t aDone, int64_t) { sentBytes = aDone; };
    int redirects = 0;
    http.OnRedirect = [&](TclHttp*, const TStrings&, int32_t aStatus, const TclHttpResponseHeader& aHeader,
                          const TStrings& aText, std::string& aMethod, bool& aCanRedirect, bool& aHandled) {
      ++redirects;
      EXPECT_EQ(aStatus, c.Status);
      EXPECT_EQ(aHeader.Location(), "../b/next?q=2");
      EXPECT_EQ(aText, TStrings{"moved"});
      EXPECT_EQ(aMethod, "POST");
      EXPECT_FALSE(aCanRedirect || aHandled);
    };
    http.SendRequest("POST", server.Url("/a/first"), {"Content-Type: application/x-www-form-urlencoded"}, &form,
                     nullptr, &body);
    EXPECT_EQ(body.Data(), "there");
    EXPECT_EQ(redirects, 1);
    EXPECT_EQ(sent, (std::vector<std::string>{"POST " + server.Url("/a/first"),
                                              c.SecondMethod + " " + server.Url("/b/next?q=2")}));
    EXPECT_EQ(sentBytes, 7);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].RequestLine(), c.SecondMethod + " /b/next?q=2 HTTP/1.1") << c.Status;
    EXPECT_EQ(requests[1].Body(), c.BodyKept ? "a=1&b=2" : "") << c.Status;
    EXPECT_EQ(HeaderValue(requests[1].Head(), "Content-Length"), c.BodyKept ? "7" : "<none>") << c.Status;
    EXPECT_EQ(HeaderValue(requests[1].Head(), "Content-Type"),
              c.BodyKept ? "application/x-www-form-urlencoded" : "<none>")
        << c.Status;
  }
}

TEST(Http, LimitsRedirectsPerCall) {
  HttpFixture server;
  server.Route("/loop", {fx::Send(HttpResponse(302, "Found", {"Location: /loop"}, "again"))});
  TestHttp http;
  try {
    Get(http, server.Url("/loop"));
    ADD_FAILURE() << "the 16th redirect must fail";
  } catch (const EclHttpError& e) {
    EXPECT_STREQ(e.what(), "HTTP/1.1 302 Found");
    EXPECT_EQ(e.ErrorCode(), 302);
    EXPECT_EQ(e.ResponseText(), "again");
  }
  EXPECT_EQ(server.Requests().size(), 16u);

  HttpFixture unlimited;
  for (int i = 0; i < 20; ++i)
    unlimited.Reply(HttpResponse(301, "Moved", {"Location: /r" + std::to_string(i + 1)}));
  unlimited.Reply(HttpResponse(200, "OK", {}, "end"));
  http.SetMaxRedirects(0);
  EXPECT_EQ(Get(http, unlimited.Url("/r0")), "end");

  // Redirects not allowed: the 3xx ends the call, quietly with SilentHTTP.
  HttpFixture refused;
  refused.Reply(HttpResponse(302, "Found", {"Location: /x"}, "see /x"));
  http.SetAllowRedirects(false);
  http.SetSilentHTTP(true);
  EXPECT_EQ(Get(http, refused.Url("/")), "see /x");
  EXPECT_EQ(http.StatusCode(), 302);
}

TEST(Http, KeepsAuthorizationOnlyWithinItsFolder) {
  struct Case {
    std::string Location;
    bool Kept;
  };
  for (const auto& c : std::vector<Case>{{"/docs/sub/page", true}, {"/docs/other", true}, {"/elsewhere/x", false},
                                         {"http://localhost:1/docs/", false}}) {
    HttpFixture server;
    std::string location = c.Location;
    if (location.find("localhost:1") != std::string::npos)
      location = "http://localhost:" + std::to_string(server.Port()) + "/docs/";
    server.Reply(HttpResponse(301, "Moved", {"Location: " + location}));
    server.Reply(HttpResponse(200, "OK"));
    TestHttp http;
    Get(http, server.Url("/docs/start"), {"Authorization: Basic abc"});
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(HeaderValue(requests[1].Head(), "Authorization"), c.Kept ? "Basic abc" : "<none>") << c.Location;
  }
}

TEST(Http, AnswersChallengesWithTheCallsCredentialsOnlyAtItsOrigin) {
  TrustedCa trust;
  enum Target { tFolder, tFullAddress, tOtherPort, tPlainHttp };
  struct Case {
    std::string Name;
    Target Redirect;
    bool InUrl;  // the credentials come with the URL rather than from UserName and Password
    bool Answered;
  };
  const std::string alice = "Basic YWxpY2U6czNjcmV0";
  for (const auto& c : std::vector<Case>{{"same origin, another folder", tFolder, false, true},
                                         {"same origin by its full address", tFullAddress, true, true},
                                         {"another port", tOtherPort, false, false},
                                         {"https to http", tPlainHttp, false, false}}) {
    HttpFixture server(&trust.Cert);
    HttpFixture other;
    const std::map<Target, std::string> locations = {
        {tFolder, "/other/page"},
        {tFullAddress, server.Url("/page")},
        {tOtherPort, other.Url("/page")},
        {tPlainHttp, "http://localhost:" + std::to_string(server.Port()) + "/page"}};
    HttpFixture& target = c.Redirect == tOtherPort ? other : server;
    server.Reply(HttpResponse(302, "Found", {"Location: " + locations.at(c.Redirect)}));
    target.Reply(HttpResponse(401, "Unauthorized", {"WWW-Authenticate: Basic realm=\"r\""}, "who?"));
    target.Reply(HttpResponse(200, "OK", {}, "welcome"));
    TestHttp http;
    std::string start = c.Redirect == tPlainHttp ? server.TlsUrl("/start") : server.Url("/start");
    if (c.InUrl) {
      start.insert(start.find("//") + 2, "alice:s3cret@");
    } else {
      http.SetUserName("alice");
      http.SetPassword("s3cret");
    }
    std::string body;
    int32_t status = 0;
    try {
      body = Get(http, start);
    } catch (const EclHttpError& e) {
      status = e.ErrorCode();
    }
    EXPECT_EQ(body, c.Answered ? "welcome" : "") << c.Name;
    EXPECT_EQ(status, c.Answered ? 0 : 401) << c.Name;
    int sent = 0;
    for (const auto* fixture : {&server, &other})
      for (const auto& r : fixture->Requests()) sent += HeaderValue(r.Head(), "Authorization") == alice;
    EXPECT_EQ(sent, c.Answered ? 1 : 0) << c.Name;
  }
}

TEST(Http, RaisesErrorStatusesUnlessSilent) {
  HttpFixture server;
  server.Reply(HttpResponse(404, "Not Found", {"Content-Type: text/plain; charset=windows-1251"}, "\xcd\xe5\xf2"));
  server.Reply(HttpResponse(500, "Internal Server Error", {}, "broken"));
  server.Reply("HTTP/1.1 404 Not Found\r\n\r\n");
  server.Reply(HttpResponse(403, "Forbidden", {}, std::string(20 << 20, 'x')));
  server.Reply(HttpResponse(200, "OK", {}, "after"));
  TestHttp http;
  try {
    Get(http, server.Url("/missing"));
    ADD_FAILURE();
  } catch (const EclHttpError& e) {
    EXPECT_STREQ(e.what(), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(e.ErrorCode(), 404);
    EXPECT_EQ(e.ResponseText(), "Нет");
  }
  EXPECT_TRUE(http.Active());  // the error body was read whole: the connection goes on
  http.SetSilentHTTP(true);
  EXPECT_EQ(Get(http, server.Url("/broken")), "broken");
  EXPECT_EQ(http.StatusCode(), 500);
  // An HTTP/1.1 404 without length or chunks has an empty body.
  EXPECT_EQ(Get(http, server.Url("/empty")), "");
  EXPECT_EQ(server.Requests()[2].Connection, 1);
  // A huge error body is read to its end but kept only up to 16 MiB.
  http.SetSilentHTTP(false);
  try {
    Get(http, server.Url("/huge"));
    ADD_FAILURE();
  } catch (const EclHttpError& e) {
    EXPECT_EQ(e.ResponseText().size(), size_t(16 << 20));
  }
  EXPECT_EQ(Get(http, server.Url("/after")), "after");
  EXPECT_EQ(server.Requests()[4].Connection, 1);
}

TEST(Http, AnswersChallengesThroughTheAuthorizationSchemes) {
  HttpFixture server;
  server.Reply(HttpResponse(401, "Unauthorized", {"WWW-Authenticate: Digest realm=\"r\"", "WWW-Authenticate: Basic realm=\"r\""},
                            "who?"));
  server.Reply(HttpResponse(200, "OK", {}, "welcome"));
  AnsweringHttp http;
  http.SetKeepConnection(false);
  http.SetUserName("user");
  http.SetPassword("pw");
  EXPECT_EQ(Get(http, server.Url("/private")), "welcome");
  ASSERT_EQ(http.Challenges.size(), 1u);
  EXPECT_EQ(http.Challenges[0], (TStrings{"Digest realm=\"r\"", "Basic realm=\"r\""}));
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(HeaderValue(requests[1].Head(), "Authorization"), "Scheme token user:pw");
  // An answered challenge switches KeepConnection on for good.
  EXPECT_TRUE(http.KeepConnection());
  EXPECT_EQ(requests[1].Connection, 2);  // the 401 came without keep-alive

  // Too many challenges end the call with the last one.
  HttpFixture stubborn;
  stubborn.Route("/", {fx::Send(HttpResponse(401, "Unauthorized", {"WWW-Authenticate: Basic"}))});
  http.SetMaxAuthRetries(2);
  try {
    Get(http, stubborn.Url("/"));
    ADD_FAILURE();
  } catch (const EclHttpError& e) {
    EXPECT_EQ(e.ErrorCode(), 401);
  }
  EXPECT_EQ(stubborn.Requests().size(), 3u);
}

TEST(Http, AnswersBasicChallengesWithTheRegisteredSchemes) {
  HttpFixture server;
  server.Reply(HttpResponse(401, "Unauthorized", {"WWW-Authenticate: Basic realm=\"r\""}, "no"));
  server.Reply(HttpResponse(200, "OK", {}, "yes"));
  server.Reply(HttpResponse(200, "OK", {}, "at once"));
  TestHttp http;
  http.SetKeepConnection(false);
  EXPECT_EQ(Get(http, "http://u:pw@" + server.HostPort() + "/"), "yes");
  EXPECT_EQ(HeaderValue(server.Requests()[1].Head(), "Authorization"), "Basic dTpwdw==");
  EXPECT_TRUE(http.KeepConnection());

  // Basic credentials with the first request leave KeepConnection as it was.
  http.SetKeepConnection(false);
  http.SetAuthorizationType(atBasic);
  http.SetUserName("name");
  http.SetPassword("word");
  EXPECT_EQ(Get(http, server.Url("/")), "at once");
  EXPECT_EQ(HeaderValue(server.Requests()[2].Head(), "Authorization"), "Basic bmFtZTp3b3Jk");
  EXPECT_FALSE(http.KeepConnection());
}

TEST(Http, EndsTheCallWhenNoSchemeAnswers) {
  HttpFixture server;
  server.Reply(HttpResponse(401, "Unauthorized", {"WWW-Authenticate: Negotiate"}, "no"));
  server.Reply(HttpResponse(407, "Proxy Authentication Required", {"Proxy-Authenticate: Bearer"}, "no"));
  server.Reply(HttpResponse(401, "Unauthorized", {"WWW-Authenticate: Basic"}, "fixed"));
  TestHttp http;
  http.SetAuthorizationType(atBasic);  // without credentials Basic has nothing to send
  for (int32_t status : {401, 407}) {
    try {
      Get(http, server.Url("/"));
      ADD_FAILURE();
    } catch (const EclHttpError& e) {
      EXPECT_EQ(e.ErrorCode(), status);
      EXPECT_EQ(e.ResponseText(), "no");
    }
  }
  EXPECT_EQ(HeaderValue(server.Requests()[0].Head(), "Authorization"), "<none>");
  // A fixed Authorization value is the only answer there is.
  http.SetAuthorizationType(atAutoDetect);
  http.SetAuthorization("Token abc");
  http.SetUserName("u");
  EXPECT_THROW(Get(http, server.Url("/")), EclHttpError);
  EXPECT_EQ(server.Requests().size(), 3u);
  EXPECT_EQ(HeaderValue(server.Requests()[2].Head(), "Authorization"), "Token abc");
}

TEST(Http, ReceiveHeaderCancelEndsTheCallAndClosesTheConnection) {
  HttpFixture server;
  server.Reply(HttpResponse(200, "OK", {}, "unwanted"));
  TestHttp http;
  int received = 0;
  http.OnReceiveHeader = [](TclHttp*, const std::string&, const std::string&, const TStrings& aHeader, const TclCookieList&,
                             bool& aCancel) {
    EXPECT_EQ(aHeader.front(), "HTTP/1.1 200 OK");
    aCancel = true;
  };
  http.OnReceiveResponse = [&](TclHttp*, const std::string&, const std::string&, const TStrings&,
                               const TclCookieList&) { ++received; };
  EXPECT_EQ(Get(http, server.Url("/")), "");
  EXPECT_FALSE(http.Active());
  EXPECT_EQ(received, 0);
  EXPECT_EQ(http.StatusCode(), 200);
}

TEST(Http, AbortEndsTheCallAtOnceInEveryPhase) {
  struct Case {
    std::string Phase;
    std::vector<FixtureStep> Steps;  // the fixture's answer; none: the call goes elsewhere
  };
  // Each body takes 3 s to arrive.
  const std::string slow(30, 'b');
  const std::vector<Case> cases = {
      {"connect", {}},
      {"handshake", {}},
      {"header", {fx::Sleep(3000)}},
      {"body of known length", {fx::Send("HTTP/1.1 200 OK\r\nContent-Length: 30\r\n\r\n"), fx::Send(slow, 1, 100)}},
      {"chunked body", {fx::Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"),
                        fx::Send(Chunked(slow, 1), 6, 100)}},
      {"body until close", {fx::Send("HTTP/1.0 200 OK\r\n\r\n"), fx::Send(slow, 1, 100), fx::Close()}},
  };
  FullListener full;
  for (const auto& c : cases) {
    HttpFixture server;
    std::string url = server.Url("/slow");
    if (c.Phase == "connect") url = "http://127.0.0.1:" + std::to_string(full.Port()) + "/";
    // The plain port never answers the client's first handshake message.
    if (c.Phase == "handshake") url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/";
    if (!c.Steps.empty()) server.Script(c.Steps);
    server.Reply(HttpResponse(200, "OK", {}, "next"));
    TestHttp http;
    http.SetTimeOut(20000);
    int32_t code = 0;
    auto took = TimeStopped(
        [&] {
          try {
            Get(http, url);
          } catch (const EclSocketError& e) {
            code = e.ErrorCode();
          }
        },
        [&] { http.Connection()->Abort(); });
    EXPECT_LT(took, std::chrono::seconds(1)) << c.Phase;
    EXPECT_EQ(code, 10004) << c.Phase;
    EXPECT_FALSE(http.Active()) << c.Phase;
    // The stop ended that call only.
    EXPECT_EQ(Get(http, server.Url("/next")), "next") << c.Phase;
    EXPECT_EQ(server.Requests().size(), c.Steps.empty() ? 1u : 2u) << c.Phase;
  }
}

TEST(Http, ReportsProgressAndServesTheMessagePumpWhileWaiting) {
  HttpFixture server;
  std::string data(100000, 'p');
  server.Script({fx::Sleep(300), fx::Send(HttpResponse(200, "OK", {}, data), 30000, 20)});
  TestHttp http;
  std::vector<std::pair<int64_t, int64_t>> progress;
  http.OnReceiveProgress = [&](TclHttp*, int64_t aDone, int64_t aTotal) { progress.emplace_back(aDone, aTotal); };
  // A message from another thread, queued before the call: only the call's waits can run it.
  auto pump = TclMessagePump::CurrentShared();
  std::atomic<bool> ran{false};
  std::thread([&] { pump->Post([&] { ran = true; }); }).join();
  EXPECT_EQ(Get(http, server.Url("/")).size(), data.size());
  EXPECT_TRUE(ran);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), std::make_pair(int64_t(data.size()), int64_t(data.size())));
}

TEST(Http, GoesThroughAnHttpProxy) {
  HttpFixture server;
  server.Reply(HttpResponse(200, "OK", {}, "proxied"));
  TinyProxy proxy;
  TestHttp http;
  http.ProxySettings().SetServer("127.0.0.1");
  http.ProxySettings().SetPort(proxy.Port());
  EXPECT_EQ(Get(http, server.Url("/via?x=1")), "proxied");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].RequestLine().substr(0, 20), "GET /via?x=1 HTTP/1.");

  // The request the proxy receives, seen by a fixture in its place; a 407 goes to the proxy's
  // credentials.
  HttpFixture fakeProxy;
  fakeProxy.Reply(HttpResponse(407, "Proxy Authentication Required", {"Proxy-Authenticate: Basic realm=\"p\""}));
  fakeProxy.Reply(HttpResponse(200, "OK", {}, "ok"));
  AnsweringHttp answering;
  answering.ProxySettings().SetServer("127.0.0.1");
  answering.ProxySettings().SetPort(fakeProxy.Port());
  answering.ProxySettings().SetUserName("pu");
  answering.ProxySettings().SetPassword("pp");
  EXPECT_EQ(Get(answering, "http://origin.invalid:81/a"), "ok");
  auto seen = fakeProxy.Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Raw,
            "GET http://origin.invalid:81/a HTTP/1.1\r\nAccept-Encoding: gzip\r\nHost: origin.invalid:81\r\n"
            "User-Agent: Mozilla/4.0 (compatible; Varnelo Net Toolkit)\r\nProxy-Connection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(HeaderValue(seen[1].Head(), "Proxy-Authorization"), "Scheme token pu:pp");
}

TEST(Http, AnswersARealProxysChallengeWithBasicCredentials) {
  TrustedCa trust;
  HttpFixture server(&trust.Cert);
  server.Reply(HttpResponse(200, "OK", {}, "plain"));
  server.Reply(HttpResponse(200, "OK", {}, "secure"));
  TinyProxy proxy("BasicAuth pu pp");
  TestHttp http;
  http.ProxySettings().SetServer("127.0.0.1");
  http.ProxySettings().SetPort(proxy.Port());
  http.ProxySettings().SetUserName("pu");
  http.ProxySettings().SetPassword("wrong");
  EXPECT_THROW(Get(http, server.Url("/")), EclHttpError);  // tinyproxy refuses wrong credentials with a 401
  http.ProxySettings().SetPassword("pp");
  EXPECT_EQ(Get(http, server.Url("/")), "plain");
  EXPECT_EQ(Get(http, server.TlsUrl("/")), "secure");
  EXPECT_EQ(server.Requests().size(), 2u);
}

TEST(Http, GetsGzipBodiesFromNginxOnOneConnection) {
  TempDir root;
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
  WriteFile(root.File("a.txt"), text);
  WriteFile(root.File("b.bin"), std::string(300000, '\x01'));
  NginxServer nginx(root.Path());
  TestHttp http;
  EXPECT_EQ(Get(http, nginx.Url("/a.txt")), text);
  EXPECT_EQ(http.ResponseHeader().ContentEncoding(), "gzip");
  EXPECT_EQ(Get(http, nginx.Url("/b.bin")), std::string(300000, '\x01'));
  EXPECT_TRUE(http.Active());
  TStrings header;
  http.SendRequest("HEAD", nginx.Url("/a.txt"), {}, nullptr, &header, nullptr);
  EXPECT_EQ(header.front(), "HTTP/1.1 200 OK");
  EXPECT_THROW(Get(http, nginx.Url("/none")), EclHttpError);
  EXPECT_EQ(Get(http, nginx.Url("/a.txt")), text);
}


TEST(Http, GetsOverTls) {
  TrustedCa trust;
  HttpFixture server(&trust.Cert);
  server.Reply(HttpResponse(200, "OK", {"Content-Encoding: gzip", "Transfer-Encoding: chunked"}, Chunked(Gzip("secret"), 7)));
  server.Reply(HttpResponse(200, "OK", {}, "again"));
  TestHttp http;
  EXPECT_EQ(Get(http, server.TlsUrl("/s")), "secret");
  EXPECT_EQ(Get(http, server.TlsUrl("/t")), "again");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(requests[0].Tls);
  EXPECT_EQ(requests[1].Connection, requests[0].Connection);
  EXPECT_EQ(HeaderValue(requests[0].Head(), "Host"), "localhost:" + std::to_string(server.TlsPort()));

  // The same port over plain HTTP is another connection (and fails the TLS server's way).
  EXPECT_THROW(Get(http, "http://localhost:" + std::to_string(server.TlsPort()) + "/"), EclSocketError);

  // A certificate the TLS layer refuses ends the call with its error.
  TestCert expired = trust.Ca.Expired();
  HttpFixture stale(&expired);
  stale.Reply(HttpResponse(200, "OK"));
  EXPECT_THROW(Get(http, stale.TlsUrl("/")), EclSocketError);
  EXPECT_TRUE(stale.Requests().empty());
}

TEST(Http, TunnelsHttpsThroughAProxy) {
  TrustedCa trust;
  HttpFixture server(&trust.Cert);
  server.Reply(HttpResponse(200, "OK", {}, "tunnelled"));
  server.Reply(HttpResponse(200, "OK", {}, "reused"));
  server.Reply(HttpResponse(200, "OK", {}, "new tunnel"));
  TinyProxy proxy;
  TestHttp http;
  http.ProxySettings().SetServer("127.0.0.1");
  http.ProxySettings().SetPort(proxy.Port());
  EXPECT_EQ(Get(http, server.TlsUrl("/a?b=1")), "tunnelled");
  EXPECT_EQ(Get(http, server.TlsUrl("/c")), "reused");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(requests[0].Tls);
  EXPECT_EQ(requests[0].RequestLine(), "GET /a?b=1 HTTP/1.1");
  EXPECT_EQ(HeaderValue(requests[0].Head(), "Connection"), "Keep-Alive");
  EXPECT_EQ(requests[1].Connection, requests[0].Connection);
  // The tunnel's own settings do not stay.
  http.Close();
  http.SetKeepConnection(false);
  EXPECT_EQ(Get(http, server.TlsUrl("/d")), "new tunnel");
  EXPECT_TRUE(http.AllowCaching());
  EXPECT_TRUE(http.AllowCompression());
  EXPECT_FALSE(http.KeepConnection());
  EXPECT_EQ(http.HttpVersion(), hvHttp1_1);
}

TEST(Http, WritesTheTunnelRequestAndAnswersTheProxysChallenge) {
  TrustedCa trust;
  // A fixture in the proxy's place: it answers CONNECT itself and then speaks TLS as the origin.
  HttpFixture proxy(&trust.Cert);
  proxy.Reply("HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
              "Content-Length: 0\r\n\r\n");
  proxy.Script({fx::Send("HTTP/1.0 200 Connection established\r\n\r\n"), fx::StartTls()});
  proxy.Reply(HttpResponse(200, "OK", {}, "inside"));
  AnsweringHttp http;
  http.ProxySettings().SetServer("127.0.0.1");
  http.ProxySettings().SetPort(proxy.Port());
  http.ProxySettings().SetUserName("pu");
  http.ProxySettings().SetPassword("pp");
  EXPECT_EQ(Get(http, "https://localhost/x"), "inside");
  auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 3u);
  const std::string agent = "User-Agent: Mozilla/4.0 (compatible; Varnelo Net Toolkit)\r\n";
  const std::string tail = "Content-Length: 0\r\nPragma: no-cache\r\nProxy-Connection: Keep-Alive\r\n";
  EXPECT_EQ(requests[0].Raw, "CONNECT localhost:443 HTTP/1.0\r\nHost: localhost\r\n" + agent + tail + "\r\n");
  // The repeated request keeps its fields in place; Host is written anew after them.
  EXPECT_EQ(requests[1].Raw, "CONNECT localhost:443 HTTP/1.0\r\n" + agent + tail +
                                 "Proxy-Authorization: Scheme token pu:pp\r\nHost: localhost\r\n\r\n");
  EXPECT_EQ(requests[1].Connection, 2);  // the 407 came over HTTP/1.0 without keep-alive
  EXPECT_EQ(requests[2].Connection, 2);
  EXPECT_TRUE(requests[2].Tls);
  // Inside the tunnel the origin gets an ordinary request, without the proxy's credentials.
  EXPECT_EQ(requests[2].Raw, "GET /x HTTP/1.1\r\nAccept-Encoding: gzip\r\nHost: localhost\r\n"
                             "User-Agent: Mozilla/4.0 (compatible; Varnelo Net Toolkit)\r\n"
                             "Connection: Keep-Alive\r\n\r\n");
}

TEST(Http, ProxyCredentialsStayOutOfATunnelThatARedirectLeadsInto) {
  TrustedCa trust;
  HttpFixture proxy(&trust.Cert);  // in the proxy's place, and then the origin inside the tunnel
  proxy.Reply(HttpResponse(302, "Found", {"Location: https://localhost/x"}));
  proxy.Script({fx::Send("HTTP/1.0 200 Connection established\r\n\r\n"), fx::StartTls()});
  proxy.Reply(HttpResponse(200, "OK", {}, "inside"));
  TestHttp http;
  http.ProxySettings().SetServer("127.0.0.1");
  http.ProxySettings().SetPort(proxy.Port());
  http.ProxySettings().SetAuthorizationType(atBasic);
  http.ProxySettings().SetUserName("pu");
  http.ProxySettings().SetPassword("pp");
  EXPECT_EQ(Get(http, "http://origin.invalid/a"), "inside");
  auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(HeaderValue(requests[0].Head(), "Proxy-Authorization"), "Basic cHU6cHA=");
  EXPECT_EQ(requests[1].RequestLine(), "CONNECT localhost:443 HTTP/1.0");
  EXPECT_EQ(HeaderValue(requests[1].Head(), "Proxy-Authorization"), "Basic cHU6cHA=");
  EXPECT_TRUE(requests[2].Tls);
  EXPECT_EQ(HeaderValue(requests[2].Head(), "Proxy-Authorization"), "<none>");
}

TEST(Http, HostFieldLeavesOutTheSchemesPorts) {
  struct Case {
    std::string Url;
    std::string Host;
  };
  HttpFixture proxy;
  proxy.Route("/", {fx::Send(HttpResponse(200, "OK"))});
  TestHttp http;
  http.ProxySettings().SetServer("127.0.0.1");
  http.ProxySettings().SetPort(proxy.Port());
  const std::vector<Case> cases = {{"http://origin.invalid/", "origin.invalid"},
                                   {"http://origin.invalid:80/", "origin.invalid"},
                                   {"http://origin.invalid:443/", "origin.invalid"},
                                   {"http://origin.invalid:8080/", "origin.invalid:8080"}};
  for (const auto& c : cases) Get(http, c.Url);
  auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(HeaderValue(requests[i].Head(), "Host"), cases[i].Host) << cases[i].Url;
}

TEST(Http, GetsFromNginxOverTls) {
  TrustedCa trust;
  TempDir root;
  std::string text(100000, 't');
  WriteFile(root.File("t.txt"), text);
  NginxServer nginx(root.Path(), &trust.Cert);
  TestHttp http;
  EXPECT_EQ(Get(http, nginx.TlsUrl("/t.txt")), text);
  EXPECT_EQ(http.ResponseHeader().ContentEncoding(), "gzip");
  EXPECT_EQ(Get(http, nginx.TlsUrl("/t.txt")), text);
  EXPECT_TRUE(http.Active());
}
