// The internet client against nginx and the scripted fixture on 127.0.0.1: replies, bodies read
// in blocks, redirections, kept-alive connections, ranges, decoding, certificate faults, bad
// replies, and handles closed from another thread under a pending call.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <random>
#include <thread>

#include "platform/clInetHeaders.h"
#include "platform/clWinInet.h"
#include "tests/support/HttpFixture.h"
#include "tests/support/WebServers.h"

using namespace zvtest;

namespace {

// A root handle, a server connection and one request, closed again at the end.
struct TRequest {
  HINTERNET Root = nullptr;
  HINTERNET Server = nullptr;
  HINTERNET Handle = nullptr;
  TRequest(int aPort, const std::string& aPath, DWORD aFlags = INTERNET_FLAG_RELOAD,
           const std::string& aHost = "127.0.0.1", HINTERNET aRoot = nullptr) {
    Root = aRoot ? aRoot : InternetOpenA("zv-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    Server = InternetConnectA(Root, aHost.c_str(), INTERNET_PORT(aPort), nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    Handle = HttpOpenRequestA(Server, "GET", aPath.c_str(), nullptr, nullptr, nullptr, aFlags, 0);
    OwnsRoot = !aRoot;
  }
  ~TRequest() {
    InternetCloseHandle(Handle);
    InternetCloseHandle(Server);
    if (OwnsRoot) InternetCloseHandle(Root);
  }
  bool Add(const std::string& aLines, DWORD aModifiers = HTTP_ADDREQ_FLAG_ADD_IF_NEW) {
    return HttpAddRequestHeadersA(Handle, aLines.c_str(), DWORD(-1), aModifiers);
  }
  // 0 on success, else the error number.
  DWORD Send() { return HttpSendRequestA(Handle, nullptr, 0, nullptr, 0) ? 0 : GetLastError(); }
  bool OwnsRoot = true;
};

std::string QueryText(HINTERNET aRequest, DWORD aLevel) {
  DWORD size = 0;
  EXPECT_FALSE(HttpQueryInfoA(aRequest, aLevel, nullptr, &size, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  std::string text(size, '\0');
  if (!HttpQueryInfoA(aRequest, aLevel, text.data(), &size, nullptr)) return "<failed>";
  text.resize(size);
  return text;
}

DWORD Status(HINTERNET aRequest) {
  DWORD status = 0, size = sizeof status;
  EXPECT_TRUE(HttpQueryInfoA(aRequest, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr));
  return status;
}

// Reads the body to its end in blocks; aError receives the error number of a failed read.
std::string ReadBody(HINTERNET aRequest, DWORD& aError, DWORD aBlock = 8192) {
  std::string body, block(aBlock, '\0');
  aError = 0;
  for (;;) {
    DWORD read = 0;
    if (!InternetReadFile(aRequest, block.data(), aBlock, &read)) {
      aError = GetLastError();
      return body;
    }
    if (read == 0) return body;
    body.append(block, 0, read);
  }
}

std::string ReadBody(HINTERNET aRequest) {
  DWORD error = 0;
  std::string body = ReadBody(aRequest, error);
  EXPECT_EQ(error, 0u);
  return body;
}

// Sends the request and expects a reply with aStatus and the body aBody.
void ExpectReply(TRequest& aRequest, DWORD aStatus, const std::string& aBody) {
  ASSERT_EQ(aRequest.Send(), 0u);
  EXPECT_EQ(Status(aRequest.Handle), aStatus);
  EXPECT_EQ(ReadBody(aRequest.Handle), aBody);
}

std::string RandomBytes(size_t aSize) {
  std::mt19937 random(7);
  std::string data(aSize, '\0');
  for (char& c : data) c = char(random());
  return data;
}

std::string FieldOf(const std::string& aHead, const std::string& aName) {
  size_t pos = aHead.find("\r\n" + aName + ": ");
  if (pos == std::string::npos) return "<none>";
  pos += aName.size() + 4;
  return aHead.substr(pos, aHead.find("\r\n", pos) - pos);
}

struct NginxSite {
  TempDir Root;
  std::string Big = RandomBytes(3 << 20);
  std::string Text;
  std::unique_ptr<NginxServer> Server;
  NginxSite() {
    for (int i = 0; i < 4000; ++i) Text += "line " + std::to_string(i) + " of a text that compresses well\n";
    WriteFile(Root.File("big.bin"), Big);
    WriteFile(Root.File("page.txt"), Text);
    Server = std::make_unique<NginxServer>(Root.Path());
  }
};

}  // namespace

TEST(WinInet, ReadsAReplyFromNginxInBlocks) {
  NginxSite site;
  TRequest r(site.Server->Port(), "/big.bin");
  ASSERT_EQ(r.Send(), 0u);
  std::string head = QueryText(r.Handle, HTTP_QUERY_RAW_HEADERS_CRLF);
  EXPECT_EQ(head.substr(0, 17), "HTTP/1.1 200 OK\r\n");
  EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
  EXPECT_EQ(FieldOf(head, "Content-Length"), std::to_string(site.Big.size()));
  EXPECT_EQ(Status(r.Handle), 200u);
  EXPECT_EQ(QueryText(r.Handle, HTTP_QUERY_STATUS_TEXT), "OK");
  EXPECT_EQ(QueryText(r.Handle, HTTP_QUERY_STATUS_CODE), "200");
  EXPECT_TRUE(SameBytes(ReadBody(r.Handle), site.Big));
  DWORD read = 1;
  char byte;
  EXPECT_TRUE(InternetReadFile(r.Handle, &byte, 1, &read));
  EXPECT_EQ(read, 0u);
}

TEST(WinInet, AnswersStatusesAndRangesFromNginx) {
  NginxSite site;
  {
    TRequest r(site.Server->Port(), "/missing.bin");
    ASSERT_EQ(r.Send(), 0u);
    EXPECT_EQ(Status(r.Handle), 404u);
    EXPECT_EQ(QueryText(r.Handle, HTTP_QUERY_STATUS_TEXT), "Not Found");
  }
  {
    TRequest r(site.Server->Port(), "/big.bin");
    ASSERT_TRUE(r.Add("Range: bytes=40000-59999"));
    ASSERT_EQ(r.Send(), 0u);
    EXPECT_EQ(Status(r.Handle), 206u);
    EXPECT_TRUE(SameBytes(ReadBody(r.Handle), site.Big.substr(40000, 20000)));
  }
}

TEST(WinInet, ReadsRangesOnSeveralThreadsUnderOneRoot) {
  // As the engine fetches one file: a range per thread, all under one root handle, twice over so
  // that kept sessions are taken up again.
  NginxSite site;
  HINTERNET root = InternetOpenA("zv-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  const size_t part = site.Big.size() / 4;
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<std::future<std::string>> parts;
    for (size_t i = 0; i < 4; ++i)
      parts.push_back(std::async(std::launch::async, [&, i] {
        TRequest r(site.Server->Port(), "/big.bin", INTERNET_FLAG_RELOAD, "127.0.0.1", root);
        r.Add("Range: bytes=" + std::to_string(i * part) + "-" + std::to_string((i + 1) * part - 1));
        return r.Send() == 0 && Status(r.Handle) == 206 ? ReadBody(r.Handle) : std::string("failed");
      }));
    for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(SameBytes(parts[i].get(), site.Big.substr(i * part, part)));
  }
  InternetCloseHandle(root);
}

TEST(WinInet, ProbesTheEndOfABodyFromTheReply) {
  NginxSite site;
  HttpFixture fixture;
  fixture.Route("/plain", {fx::Send(HttpResponse(200, "OK", {}, "abc"))});
  fixture.Route("/chunked", {fx::Send(HttpResponse(200, "OK", {"Accept-Ranges: bytes", "Transfer-Encoding: chunked"},
                                                   Chunked("abc", 2)))});
  struct TCase {
    int Port;
    std::string Path;
    DWORD Expected;
  } cases[] = {
      {site.Server->Port(), "/big.bin", DWORD(site.Big.size())},
      {fixture.Port(), "/plain", INVALID_SET_FILE_POINTER},    // no Accept-Ranges
      {fixture.Port(), "/chunked", INVALID_SET_FILE_POINTER},  // no length
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Path);
    TRequest r(c.Port, c.Path);
    ASSERT_EQ(r.Send(), 0u);
    int32_t high = 0;
    EXPECT_EQ(InternetSetFilePointer(r.Handle, 0, &high, FILE_END, 0), c.Expected);
    EXPECT_EQ(high, 0);
  }
}

TEST(WinInet, DecodesGzipOnlyWhenAsked) {
  NginxSite site;
  for (bool decode : {false, true}) {
    TRequest r(site.Server->Port(), "/page.txt");
    ASSERT_TRUE(r.Add("Accept-Encoding: gzip"));
    DWORD on = decode;
    if (decode) {
      ASSERT_TRUE(InternetSetOptionA(r.Handle, INTERNET_OPTION_HTTP_DECODING, &on, sizeof on));
    }
    ASSERT_EQ(r.Send(), 0u);
    EXPECT_EQ(FieldOf(QueryText(r.Handle, HTTP_QUERY_RAW_HEADERS_CRLF), "Content-Encoding"), "gzip");
    std::string body = ReadBody(r.Handle);
    if (decode) {
      EXPECT_TRUE(SameBytes(body, site.Text));
    } else {
      EXPECT_EQ(body.substr(0, 2), "\x1f\x8b");
    }
  }
}

TEST(WinInet, FollowsRedirectionsWithTheAddedHeaders) {
  HttpFixture fixture;
  fixture.Route("/old", {fx::Send(HttpResponse(302, "Found", {"Location: /new?x=1"}, "moved"))});
  fixture.Route("/new", {fx::Send(HttpResponse(200, "OK", {"X-Final: yes"}, "here"))});
  {
    TRequest r(fixture.Port(), "/old");
    ASSERT_TRUE(r.Add("Accept: text/plain\r\nReferer: http://example.test/page\r\n"));
    ASSERT_EQ(r.Send(), 0u);
    EXPECT_EQ(Status(r.Handle), 200u);
    std::string head = QueryText(r.Handle, HTTP_QUERY_RAW_HEADERS_CRLF);
    EXPECT_EQ(head.substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(head.find("Location"), std::string::npos);  // only the final reply's block
    EXPECT_EQ(ReadBody(r.Handle), "here");
  }
  auto requests = fixture.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].RequestLine(), "GET /new?x=1 HTTP/1.1");
  for (const auto& request : requests) {
    EXPECT_EQ(FieldOf(request.Head(), "Accept"), "text/plain");
    EXPECT_EQ(FieldOf(request.Head(), "Referer"), "http://example.test/page");
  }
  EXPECT_EQ(requests[0].Connection, requests[1].Connection);

  TRequest kept(fixture.Port(), "/old", INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT);
  ExpectReply(kept, 302, "moved");
}

TEST(WinInet, KeepsConnectionsAlivePerRootHandle) {
  HttpFixture fixture;
  fixture.Route("/a", {fx::Send(HttpResponse(200, "OK", {}, "first"))});
  HINTERNET root = InternetOpenA("zv-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  for (int i = 0; i < 2; ++i) {
    TRequest r(fixture.Port(), "/a", INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION, "127.0.0.1", root);
    ExpectReply(r, 200, "first");
  }
  {
    // The same request sent again is a new exchange on the same connection.
    TRequest r(fixture.Port(), "/a", INTERNET_FLAG_RELOAD, "127.0.0.1", root);
    for (int i = 0; i < 2; ++i) ExpectReply(r, 200, "first");
  }
  InternetCloseHandle(root);
  TRequest other(fixture.Port(), "/a");
  ASSERT_EQ(other.Send(), 0u);
  auto requests = fixture.Requests();
  ASSERT_EQ(requests.size(), 5u);
  for (int i = 1; i < 4; ++i) EXPECT_EQ(requests[i].Connection, requests[0].Connection);
  EXPECT_NE(requests[4].Connection, requests[0].Connection);
}

TEST(WinInet, EditsRequestHeaderLinesLikeThePlatform) {
  HttpFixture fixture;
  fixture.Reply(HttpResponse(200, "OK"));
  TRequest r(fixture.Port(), "/h");
  EXPECT_TRUE(r.Add("Accept: a/b\r\nX-One: 1\r\nX-Gone: soon"));
  EXPECT_FALSE(r.Add("Accept: c/d"));  // add-if-new keeps the first
  EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_ALREADY_EXISTS);
  EXPECT_TRUE(r.Add("X-One: 2", HTTP_ADDREQ_FLAG_REPLACE));
  EXPECT_TRUE(r.Add("X-Gone:", HTTP_ADDREQ_FLAG_REPLACE));
  EXPECT_FALSE(r.Add("X-New: 3", HTTP_ADDREQ_FLAG_REPLACE));
  EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
  EXPECT_TRUE(r.Add("X-New: 3", HTTP_ADDREQ_FLAG_REPLACE | HTTP_ADDREQ_FLAG_ADD));
  EXPECT_TRUE(r.Add("X-New: 4", HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA));
  EXPECT_FALSE(r.Add("no colon here"));
  ASSERT_EQ(r.Send(), 0u);
  std::string head = fixture.Requests().at(0).Head();
  EXPECT_EQ(FieldOf(head, "Accept"), "a/b");
  EXPECT_EQ(FieldOf(head, "X-One"), "2");
  EXPECT_EQ(FieldOf(head, "X-Gone"), "<none>");
  EXPECT_EQ(FieldOf(head, "X-New"), "3, 4");
  EXPECT_EQ(FieldOf(head, "User-Agent"), "zv-test");
}

TEST(WinInet, RefusesBadRepliesWithAClearError) {
  HttpFixture fixture;
  std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
  std::string huge = "HTTP/1.1 200 OK\r\n";
  while (huge.size() <= (1 << 20)) huge += "X-Filler: " + std::string(1000, 'x') + "\r\n";
  struct TCase {
    std::string Name;
    std::vector<FixtureStep> Steps;
    DWORD SendError;
    DWORD ReadError;
  } cases[] = {
      {"not HTTP", {fx::Send("SSH-2.0-OpenSSH_9.2\r\nnothing else\r\n"), fx::Close()}, ERROR_HTTP_INVALID_SERVER_RESPONSE, 0},
      {"header block over 1 MiB", {fx::Send(huge + "\r\n"), fx::Close()}, ERROR_HTTP_INVALID_SERVER_RESPONSE, 0},
      {"closed without a reply", {fx::Close()}, ERROR_INTERNET_CONNECTION_ABORTED, 0},
      {"closed mid-body", {fx::Send(head + std::string(50000, 'b')), fx::Close()}, 0, ERROR_INTERNET_CONNECTION_ABORTED},
      {"reset mid-body", {fx::Send(head + std::string(50000, 'b')), fx::Sleep(200), fx::Reset()}, 0,
       ERROR_INTERNET_CONNECTION_RESET},
      {"chunked cut short", {fx::Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nabc"), fx::Close()}, 0,
       ERROR_INTERNET_CONNECTION_ABORTED},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    fixture.Script(c.Steps);
    TRequest r(fixture.Port(), "/bad");
    ASSERT_EQ(r.Send(), c.SendError);
    if (c.SendError) {
      EXPECT_FALSE(FormatInternetMessage(c.SendError).empty());
      continue;
    }
    DWORD error = 0;
    std::string body = ReadBody(r.Handle, error);
    EXPECT_EQ(error, c.ReadError);
    EXPECT_LT(body.size(), 100000u);
  }
}

TEST(WinInet, ReportsAServerThatIsNotThere) {
  int port = FreePort();
  TRequest r(port, "/");
  EXPECT_EQ(r.Send(), ERROR_INTERNET_CANNOT_CONNECT);
  DWORD error = 0, size = 0;
  EXPECT_FALSE(InternetGetLastResponseInfoA(&error, nullptr, &size));
  std::string text(size, '\0');
  EXPECT_TRUE(InternetGetLastResponseInfoA(&error, text.data(), &size));
  EXPECT_EQ(error, ERROR_INTERNET_CANNOT_CONNECT);
  EXPECT_GT(size, 0u);
}

TEST(WinInet, ClosingTheRootAbortsPendingCallsAtOnce) {
  HttpFixture fixture;
  // One reply whose body never comes, one that never comes at all.
  fixture.Route("/body", {fx::Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n"), fx::Sleep(30000)});
  fixture.Route("/head", {fx::Sleep(30000)});
  HINTERNET root = InternetOpenA("zv-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET server = InternetConnectA(root, "127.0.0.1", INTERNET_PORT(fixture.Port()), nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET reading = HttpOpenRequestA(server, "GET", "/body", nullptr, nullptr, nullptr, 0, 0);
  HINTERNET sending = HttpOpenRequestA(server, "GET", "/head", nullptr, nullptr, nullptr, 0, 0);
  ASSERT_TRUE(HttpSendRequestA(reading, nullptr, 0, nullptr, 0));
  auto read = std::async(std::launch::async, [&] {
    char buffer[8192];
    DWORD count = 0;
    bool ok = InternetReadFile(reading, buffer, sizeof buffer, &count);
    return ok ? 0 : GetLastError();
  });
  auto send = std::async(std::launch::async, [&] {
    return HttpSendRequestA(sending, nullptr, 0, nullptr, 0) ? 0 : GetLastError();
  });
  // Both calls are pending once the server has seen both requests.
  while (fixture.Requests().size() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(InternetCloseHandle(root));
  EXPECT_EQ(read.get(), ERROR_INTERNET_OPERATION_CANCELLED);
  EXPECT_EQ(send.get(), ERROR_INTERNET_OPERATION_CANCELLED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  // The children went with their root.
  DWORD count = 0;
  char buffer[16];
  EXPECT_FALSE(InternetReadFile(reading, buffer, sizeof buffer, &count));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(InternetCloseHandle(sending));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(WinInet, ClosingARequestBeforeItsCallEndsThatCallOnly) {
  HttpFixture fixture;
  fixture.Route("/head", {fx::Sleep(30000)});
  fixture.Route("/ok", {fx::Send(HttpResponse(200, "OK", {}, "fine"))});
  HINTERNET root = InternetOpenA("zv-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  TRequest stuck(fixture.Port(), "/head", 0, "127.0.0.1", root);
  auto send = std::async(std::launch::async, [&] { return stuck.Send(); });
  while (fixture.Requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(InternetCloseHandle(stuck.Handle));
  EXPECT_EQ(send.get(), ERROR_INTERNET_OPERATION_CANCELLED);
  TRequest next(fixture.Port(), "/ok", 0, "127.0.0.1", root);
  ExpectReply(next, 200, "fine");
  InternetCloseHandle(root);
}

namespace {

// A test CA that the client trusts through SSL_CERT_FILE while the object lives.
struct TTrustedCa {
  TestCa Ca;
  TTrustedCa() { setenv("SSL_CERT_FILE", Ca.CertFile().c_str(), 1); }
  ~TTrustedCa() { unsetenv("SSL_CERT_FILE"); }
};

}  // namespace

TEST(WinInet, MapsEachCertificateFaultAndIgnoresItOnRequest) {
  TTrustedCa trusted;
  TempDir root;
  WriteFile(root.File("a.txt"), "secure");
  struct TCase {
    std::string Name;
    TestCert Cert;
    DWORD Error;
    DWORD Ignore;
  } cases[] = {
      {"valid", trusted.Ca.Server(), 0, 0},
      {"expired", trusted.Ca.Expired(), ERROR_INTERNET_SEC_CERT_DATE_INVALID, SECURITY_FLAG_IGNORE_CERT_DATE_INVALID},
      {"wrong host", trusted.Ca.WrongHost(), ERROR_INTERNET_SEC_CERT_CN_INVALID, SECURITY_FLAG_IGNORE_CERT_CN_INVALID},
      {"unknown CA", trusted.Ca.SelfSigned(), ERROR_INTERNET_INVALID_CA, SECURITY_FLAG_IGNORE_UNKNOWN_CA},
  };
  const DWORD all = SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                    SECURITY_FLAG_IGNORE_UNKNOWN_CA;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    NginxServer nginx(root.Path(), &c.Cert);
    // As the engine does: the fault, then the same request again with the fault passed over;
    // the other flags do not pass it over.
    TRequest r(nginx.TlsPort(), "/a.txt", INTERNET_FLAG_RELOAD | INTERNET_FLAG_SECURE, "localhost");
    ASSERT_EQ(r.Send(), c.Error);
    if (!c.Error) {
      EXPECT_EQ(ReadBody(r.Handle), "secure");
      continue;
    }
    DWORD others = all & ~c.Ignore;
    ASSERT_TRUE(InternetSetOptionA(r.Handle, INTERNET_OPTION_SECURITY_FLAGS, &others, sizeof others));
    EXPECT_EQ(r.Send(), c.Error);
    DWORD flags = 0, size = sizeof flags;
    ASSERT_TRUE(InternetQueryOptionA(r.Handle, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size));
    flags |= c.Ignore;
    ASSERT_TRUE(InternetSetOptionA(r.Handle, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags));
    ExpectReply(r, 200, "secure");
    // A new strict request under the same root does not ride on the lenient connection.
    TRequest strict(nginx.TlsPort(), "/a.txt", INTERNET_FLAG_RELOAD | INTERNET_FLAG_SECURE, "localhost", r.Root);
    EXPECT_EQ(strict.Send(), c.Error);
  }
}

TEST(WinInet, ClosedAndWrongHandlesFailCleanly) {
  HINTERNET root = InternetOpenA("zv-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(HttpOpenRequestA(root, "GET", "/", nullptr, nullptr, nullptr, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  HINTERNET server = InternetConnectA(root, "127.0.0.1", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET request = HttpOpenRequestA(server, "GET", "/", nullptr, nullptr, nullptr, 0, 0);
  DWORD count = 0;
  char buffer[4];
  EXPECT_FALSE(InternetReadFile(request, buffer, sizeof buffer, &count));
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  EXPECT_TRUE(InternetCloseHandle(root));
  EXPECT_FALSE(InternetCloseHandle(root));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(InternetConnectA(root, "127.0.0.1", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  // The last error is the calling thread's own.
  std::thread([] { EXPECT_EQ(GetLastError(), 0u); }).join();
}

TEST(WinInet, AnswersARefusalWithTheCredentialsGiven) {
  HttpFixture fixture;
  std::string refusal = HttpResponse(401, "Unauthorized", {"WWW-Authenticate: Basic realm=\"zv\""}, "who?");
  // The first send is refused; after the credentials are set, the next one is answered with them.
  fixture.Reply(refusal);
  fixture.Reply(refusal);
  fixture.Reply(HttpResponse(200, "OK", {}, "welcome"));
  fixture.Reply(refusal);
  TRequest r(fixture.Port(), "/guarded");
  ExpectReply(r, 401, "who?");
  ASSERT_TRUE(InternetSetOptionA(r.Handle, INTERNET_OPTION_USERNAME, "user", 4));
  ASSERT_TRUE(InternetSetOptionA(r.Handle, INTERNET_OPTION_PASSWORD, "pass", 4));
  ExpectReply(r, 200, "welcome");
  auto requests = fixture.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(FieldOf(requests[2].Head(), "Authorization"), "Basic dXNlcjpwYXNz");
  // Credentials the server refuses again end in its refusal.
  ASSERT_TRUE(InternetSetOptionA(r.Handle, INTERNET_OPTION_PASSWORD, "wrong", 5));
  fixture.Reply(refusal);
  ExpectReply(r, 401, "who?");
}

TEST(WinInet, GoesThroughTheNamedProxyUnlessBypassed) {
  // The fixture plays the proxy: it answers absolute-form requests by their path.
  HttpFixture fixture;
  fixture.Route("/via", {fx::Send(HttpResponse(200, "OK", {}, "proxied"))});
  std::string list = "ftp=ftp://127.0.0.1:1 http=127.0.0.1:" + std::to_string(fixture.Port());
  HINTERNET root = InternetOpenA("zv-test", INTERNET_OPEN_TYPE_PROXY, list.c_str(), "*.local.test; 127.0.0.1", 0);
  for (const std::string host : {"origin.test", "127.0.0.1"}) {
    TRequest r(fixture.Port(), "/via", INTERNET_FLAG_RELOAD, host, root);
    ExpectReply(r, 200, "proxied");
  }
  InternetCloseHandle(root);
  auto requests = fixture.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].RequestLine(), "GET http://origin.test:" + std::to_string(fixture.Port()) + "/via HTTP/1.1");
  EXPECT_EQ(requests[1].RequestLine(), "GET /via HTTP/1.1");
}

TEST(WinInet, AsksForAClientCertificateAndSendsTheOneGiven) {
  TTrustedCa trusted;
  TestCert serverCert = trusted.Ca.Server();
  TestCertOptions clientOptions;
  clientOptions.Names = {"zv client"};
  clientOptions.ExtendedKeyUsage = "clientAuth";
  TestCert clientCert = trusted.Ca.Issue("client", clientOptions);
  // A server that ends the handshake without a certificate (in TLS 1.3 the client learns it only
  // after its own part of the handshake).
  for (const std::string version : {"1.2", "1.3"}) {
    std::string line;
    auto strict = StartFixture("tls_server.py", {"--cert", serverCert.ChainFile, "--key", serverCert.KeyFile,
                                                 "--client-ca", trusted.Ca.CertFile(), "--max-version", version},
                               line);
    TRequest r(std::stoi(line), "/", INTERNET_FLAG_RELOAD | INTERNET_FLAG_SECURE, "localhost");
    EXPECT_EQ(r.Send(), ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED) << "TLS " << version;
  }
  // nginx checks the certificate the request carries.
  TempDir root;
  WriteFile(root.File("a.txt"), "secure");
  NginxServer nginx(root.Path(), &serverCert,
                    "ssl_verify_client on; ssl_client_certificate " + trusted.Ca.CertFile() + ";");
  TRequest r(nginx.TlsPort(), "/a.txt", INTERNET_FLAG_RELOAD | INTERNET_FLAG_SECURE, "localhost");
  TclClientCertificate certificate{clientCert.CertFile, clientCert.KeyFile, ""};
  ASSERT_TRUE(InternetSetOptionA(r.Handle, INTERNET_OPTION_CLIENT_CERT_CONTEXT, &certificate, sizeof certificate));
  ExpectReply(r, 200, "secure");
}
