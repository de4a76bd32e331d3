// The test servers themselves, driven by a plain socket client: the scripted fixture, nginx and
// tinyproxy must behave as the HTTP client's tests assume.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/HttpFixture.h"
#include "tests/support/WebServers.h"

using namespace zvtest;

namespace {

// Sends each request of aRequests on one connection and returns all bytes received until the
// server closes.
std::string RawExchange(int aPort, const std::string& aRequests) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(aPort));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  EXPECT_EQ(send(s, aRequests.data(), aRequests.size(), MSG_NOSIGNAL), ssize_t(aRequests.size()));
  std::string out;
  char buf[65536];
  pollfd p{s, POLLIN, 0};
  while (poll(&p, 1, 10000) > 0) {
    ssize_t n = recv(s, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.append(buf, size_t(n));
  }
  close(s);
  return out;
}

}  // namespace

TEST(HttpFixtureServer, AnswersInOrderAndRecordsRequestsByteForByte) {
  HttpFixture server;
  server.Reply(HttpResponse(200, "OK", {"X-A: 1"}, "first"));
  std::string chunked = HttpResponse(201, "Created", {"Transfer-Encoding: chunked"}, Chunked("second", 4, ";e=1"));
  server.Script({fx::Send("HTTP/1.1 100 Continue\r\n\r\n"), fx::ReadBody(), fx::Send(chunked, 3, 1), fx::Close()});
  server.Route("/fixed", {fx::Send(HttpResponse(404, "Not Found"))});

  std::string post = "POST /b HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 3\r\n\r\nxyz";
  std::string got = RawExchange(server.Port(), "GET /fixed?q=1 HTTP/1.1\r\n\r\nGET /a HTTP/1.1\r\n\r\n" + post);
  EXPECT_EQ(got, HttpResponse(404, "Not Found") + HttpResponse(200, "OK", {"X-A: 1"}, "first") +
                     "HTTP/1.1 100 Continue\r\n\r\n" +
                     "HTTP/1.1 201 Created\r\nTransfer-Encoding: chunked\r\n\r\n"
                     "4;e=1\r\nseco\r\n2;e=1\r\nnd\r\n0;e=1\r\n\r\n");

  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].RequestLine(), "GET /fixed?q=1 HTTP/1.1");
  EXPECT_EQ(requests[2].Raw, post);
  EXPECT_EQ(requests[2].Body(), "xyz");
  EXPECT_EQ(requests[2].Connection, 1);

  // Nothing scripted any more: a 500 that says so, and the connection ends.
  EXPECT_EQ(RawExchange(server.Port(), "GET /c HTTP/1.1\r\n\r\n").substr(0, 34), "HTTP/1.1 500 No scripted response\r");
  EXPECT_EQ(server.Requests().back().Connection, 2);
}

TEST(HttpFixtureServer, ServesHttpsWithTheTestCertificate) {
  TestCa ca;
  TestCert cert = ca.Server();
  HttpFixture server(&cert);
  server.Reply(HttpResponse(200, "OK", {"Connection: close"}, "secret"));
  // Only the handshake is checked: a refused certificate ends s_client with status 1.
  ChildProcess client({"sh", "-c",
                       "openssl s_client -quiet -no_ign_eof -verify_return_error -CAfile " + ca.CertFile() +
                           " -verify_hostname localhost -connect 127.0.0.1:" + std::to_string(server.TlsPort()) +
                           " </dev/null"});
  EXPECT_EQ(client.Wait(), 0);
}

TEST(WebServers, NginxServesGzipAndKeepsTheConnection) {
  TempDir root;
  WriteFile(root.File("a.txt"), std::string(5000, 'a'));
  NginxServer nginx(root.Path());
  std::string got = RawExchange(nginx.Port(),
                                "GET /a.txt HTTP/1.1\r\nHost: x\r\nAccept-Encoding: gzip\r\n\r\n"
                                "GET /a.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_NE(got.find("Content-Encoding: gzip"), std::string::npos);
  EXPECT_NE(got.find("Transfer-Encoding: chunked"), std::string::npos);
  EXPECT_NE(got.find(std::string(5000, 'a')), std::string::npos);
}

TEST(WebServers, TinyProxyForwardsToTheFixture) {
  HttpFixture server;
  server.Reply(HttpResponse(200, "OK", {}, "via proxy"));
  TinyProxy proxy;
  std::string got = RawExchange(proxy.Port(), "GET " + server.Url("/p") + " HTTP/1.0\r\n\r\n");
  EXPECT_NE(got.find("via proxy"), std::string::npos) << got;
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].RequestLine(), "GET /p HTTP/1.0");  // tinyproxy speaks HTTP/1.0 upstream
}
