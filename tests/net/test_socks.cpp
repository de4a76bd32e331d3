// Connections through SOCKS 4 and 5 proxies: dante and microsocks for what real proxies do, and a
// scripted proxy of our own for split, unknown and missing replies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "net/clSocks.h"
#include "net/clTcpClientTls.h"
#include "tests/support/LocalServer.h"
#include "tests/support/TestCa.h"
#include "tests/support/TestSupport.h"

namespace {

class TestSocksClient : public TclTcpClientTls {
public:
  int32_t GetDefaultPort() const override { return 80; }
};

void Echo(int aClient) {
  for (std::string data; !(data = LocalServer::ReceiveSome(aClient)).empty();) LocalServer::SendAll(aClient, data);
}

int FreePort() {
  LocalServer probe([](int) {});
  return probe.Port();
}

// Waits until a freshly started daemon accepts connections.
void WaitForPort(int aPort) {
  for (int i = 0; i < 500; ++i) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(aPort);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(s);
    if (ok) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  throw std::runtime_error("proxy did not start");
}

struct Daemon {
  zvtest::TempDir Dir;
  std::unique_ptr<zvtest::ChildProcess> Process;
  int Port = 0;
};

std::unique_ptr<Daemon> StartDante() {
  auto d = std::make_unique<Daemon>();
  d->Port = FreePort();
  std::string config = "logoutput: " + d->Dir.File("dante.log") + "\ninternal: 127.0.0.1 port = " +
                       std::to_string(d->Port) +
                       "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n";
  // Settings come before the rules.
  if (geteuid() == 0) config += "user.privileged: root\nuser.unprivileged: nobody\n";
  config += "client pass {\n from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
            "socks pass {\n from: 127.0.0.0/8 to: 0.0.0.0/0\n command: connect\n}\n";
  zvtest::WriteFile(d->Dir.File("danted.conf"), config);
  d->Process = std::make_unique<zvtest::ChildProcess>(
      std::vector<std::string>{"/usr/sbin/danted", "-f", d->Dir.File("danted.conf"), "-N", "1"});
  WaitForPort(d->Port);
  return d;
}

std::unique_ptr<Daemon> StartMicroSocks() {
  auto d = std::make_unique<Daemon>();
  d->Port = FreePort();
  d->Process = std::make_unique<zvtest::ChildProcess>(std::vector<std::string>{
      "microsocks", "-i", "127.0.0.1", "-p", std::to_string(d->Port), "-u", "zentavo", "-P", "s3cret"});
  WaitForPort(d->Port);
  return d;
}

struct ScriptedProxy {
  std::unique_ptr<zvtest::ChildProcess> Process;
  int Port = 0;
};

ScriptedProxy StartScripted(const std::string& aMode) {
  ScriptedProxy p;
  std::string line;
  p.Process = zvtest::StartFixture("socks_proxy.py", {"--mode", aMode}, line);
  p.Port = std::stoi(line);
  return p;
}

void UseProxy(TestSocksClient& aClient, TclFirewallType aType, int aProxyPort, const std::string& aUser = "",
              const std::string& aPassword = "", bool aNeedResolveIP = true) {
  TclFirewallSettings settings;
  settings.SetFirewallType(aType);
  settings.SetServer("127.0.0.1");
  settings.SetPort(aProxyPort);
  settings.SetUserName(aUser);
  settings.SetPassword(aPassword);
  settings.SetNeedResolveIP(aNeedResolveIP);
  aClient.SetFirewallSettings(settings);
  aClient.SetTimeOut(10000);
}

std::string EchoThrough(TestSocksClient& aClient, const std::string& aText) {
  aClient.Connection()->WriteString(aText);
  TMemoryStream data;
  while (data.Size() < static_cast<int64_t>(aText.size()) && aClient.Active()) aClient.Connection()->ReadData(&data);
  return data.Data();
}

// The error an Open raises, as code and text.
std::pair<int32_t, std::string> OpenFailure(TestSocksClient& aClient) {
  try {
    aClient.Open();
  } catch (const EclSocksFirewallError& e) {
    return {e.ErrorCode(), e.what()};
  } catch (const EclSocketError& e) {
    return {e.ErrorCode(), std::string("not a SOCKS refusal: ") + e.what()};
  }
  return {0, "opened"};
}

bool Installed(const char* aPath) { return std::filesystem::exists(aPath); }

}  // namespace

TEST(SocksTest, DanteRelaysPlainConnectionsForBothVersionsAndBothTargetForms) {
  if (!Installed("/usr/sbin/danted")) GTEST_SKIP() << "dante-server is not installed";
  auto dante = StartDante();
  LocalServer target(Echo);
  // Dante takes no host names in SOCKS 4 requests (the scripted proxy covers that form).
  const std::pair<TclFirewallType, bool> cases[] = {{ftSocks4, false}, {ftSocks5, true}, {ftSocks5, false}};
  for (auto [type, needResolveIP] : cases) {
    SCOPED_TRACE(testing::Message() << "type " << type << " resolve " << needResolveIP);
    TestSocksClient client;
    UseProxy(client, type, dante->Port, "", "", needResolveIP);
    client.SetServer("localhost");
    client.SetPort(target.Port());
    client.Open();
    EXPECT_EQ(client.Connection()->PeerPort(), dante->Port);
    auto* socks = dynamic_cast<TclSocksNetworkStream*>(client.Connection()->NetworkStream());
    ASSERT_NE(socks, nullptr);
    EXPECT_EQ(socks->State(), csData);
    EXPECT_EQ(socks->TargetServer(), needResolveIP ? "localhost" : "127.0.0.1");
    EXPECT_EQ(EchoThrough(client, "through the proxy"), "through the proxy");
    client.Close();
  }
}

TEST(SocksTest, DanteReportsARefusedTarget) {
  if (!Installed("/usr/sbin/danted")) GTEST_SKIP() << "dante-server is not installed";
  auto dante = StartDante();
  int closedPort = FreePort();
  const struct {
    TclFirewallType Type;
    int32_t Code;
    const char* Text;
  } cases[] = {{ftSocks4, 91, "SOCKS error: request rejected or failed"},
               {ftSocks5, 5, "SOCKS error: Connection refused"}};
  for (const auto& c : cases) {
    TestSocksClient client;
    UseProxy(client, c.Type, dante->Port);
    client.SetServer("127.0.0.1");
    client.SetPort(closedPort);
    EXPECT_EQ(OpenFailure(client), std::make_pair(c.Code, std::string(c.Text)));
    EXPECT_FALSE(client.Active());
  }
}

TEST(SocksTest, TlsRunsThroughTheTunnel) {
  if (!Installed("/usr/sbin/danted")) GTEST_SKIP() << "dante-server is not installed";
  zvtest::TestCa ca;
  setenv("SSL_CERT_FILE", ca.CertFile().c_str(), 1);
  setenv("SSL_CERT_DIR", ca.Folder().c_str(), 1);
  zvtest::TestCert cert = ca.Server();
  std::string line;
  auto tlsServer = zvtest::StartFixture("tls_server.py", {"--cert", cert.ChainFile, "--key", cert.KeyFile}, line);
  auto dante = StartDante();
  TestSocksClient client;
  UseProxy(client, ftSocks5, dante->Port);
  client.SetServer("localhost");
  client.SetPort(std::stoi(line));
  client.SetUseTLS(ctImplicit);
  client.Open();
  EXPECT_TRUE(client.IsTls());
  EXPECT_EQ(EchoThrough(client, "secret through the proxy"), "secret through the proxy");
  client.Close();
}

TEST(SocksTest, MicroSocksChecksUserNameAndPassword) {
  if (!Installed("/usr/bin/microsocks")) GTEST_SKIP() << "microsocks is not installed";
  auto proxy = StartMicroSocks();
  LocalServer target(Echo);
  TestSocksClient good;
  UseProxy(good, ftSocks5, proxy->Port, "zentavo", "s3cret");
  good.SetServer("127.0.0.1");
  good.SetPort(target.Port());
  good.Open();
  EXPECT_EQ(EchoThrough(good, "authenticated"), "authenticated");

  TestSocksClient wrong;
  UseProxy(wrong, ftSocks5, proxy->Port, "zentavo", "wrong");
  wrong.SetServer("127.0.0.1");
  wrong.SetPort(target.Port());
  auto failure = OpenFailure(wrong);
  EXPECT_EQ(failure.second, "SOCKS error: authentication failed");
  EXPECT_NE(failure.first, 0);

  TestSocksClient anonymous;
  UseProxy(anonymous, ftSocks5, proxy->Port);
  anonymous.SetServer("127.0.0.1");
  anonymous.SetPort(target.Port());
  failure = OpenFailure(anonymous);
  EXPECT_EQ(failure, std::make_pair(255, std::string("SOCKS error: No acceptable authentication methods")));
}

TEST(SocksTest, RequestsCarryTheNameOrTheAddress) {
  ScriptedProxy proxy = StartScripted("relay");
  LocalServer target(Echo);
  char port[5];
  std::snprintf(port, sizeof port, "%04x", target.Port());
  const struct {
    TclFirewallType Type;
    bool NeedResolveIP;
    std::string Request;
  } cases[] = {
      // SOCKS 4a: address 0.0.0.1, then the user id and the host name.
      {ftSocks4, true, std::string("0401") + port + "00000001" + "7573657200" + "6c6f63616c686f737400"},
      {ftSocks4, false, std::string("0401") + port + "7f000001" + "75736572" + "00"},
      {ftSocks5, true, std::string("05010003") + "096c6f63616c686f7374" + port},
      {ftSocks5, false, std::string("05010001") + "7f000001" + port},
  };
  for (const auto& c : cases) {
    TestSocksClient client;
    UseProxy(client, c.Type, proxy.Port, c.Type == ftSocks4 ? "user" : "", "", c.NeedResolveIP);
    client.SetServer("localhost");
    client.SetPort(target.Port());
    client.Open();
    EXPECT_EQ(proxy.Process->ReadLine(), "request " + c.Request);
    EXPECT_EQ(EchoThrough(client, "relayed"), "relayed");
  }
}

TEST(SocksTest, RepliesInPiecesAndLongerBoundAddressesAreAccepted) {
  LocalServer target(Echo);
  for (const char* mode : {"split", "ipv6bound"}) {
    SCOPED_TRACE(mode);
    ScriptedProxy proxy = StartScripted(mode);
    TestSocksClient client;
    UseProxy(client, ftSocks5, proxy.Port);
    client.SetServer("127.0.0.1");
    client.SetPort(target.Port());
    client.Open();
    EXPECT_EQ(EchoThrough(client, "after the reply"), "after the reply");
  }
}

TEST(SocksTest, UnknownReplyCodesAndASilentProxy) {
  const struct {
    const char* Mode;
    TclFirewallType Type;
    int32_t Code;
    const char* Text;
  } cases[] = {{"code=9", ftSocks5, 9, "Unknown SOCKS error occured"},
               {"code=2", ftSocks5, 2, "SOCKS error: connection not allowed by ruleset"},
               {"code=95", ftSocks4, 95, "Unknown SOCKS error occured"},
               {"code=93", ftSocks4, 93,
                "SOCKS error: request rejected because the client program and identd report different user-ids"}};
  for (const auto& c : cases) {
    ScriptedProxy proxy = StartScripted(c.Mode);
    TestSocksClient client;
    UseProxy(client, c.Type, proxy.Port);
    client.SetServer("127.0.0.1");
    client.SetPort(9);
    EXPECT_EQ(OpenFailure(client), std::make_pair(c.Code, std::string(c.Text))) << c.Mode;
  }

  ScriptedProxy silent = StartScripted("silent");
  TestSocksClient client;
  UseProxy(client, ftSocks5, silent.Port);
  client.SetTimeOut(300);
  client.SetServer("127.0.0.1");
  client.SetPort(9);
  try {
    client.Open();
    ADD_FAILURE() << "opened";
  } catch (const EclSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), -1);
  }
  EXPECT_FALSE(client.Active());
}

TEST(SocksTest, FeedingRepliesByteByByteGivesTheSameResult) {
  // The connect reply with an IPv6 bound address, offered one byte at a time.
  TclSocks5NetworkStream stream(std::make_unique<TclNetworkStream>(), "127.0.0.1", 80, "", "");
  EXPECT_TRUE(stream.ReceiveReply("\x05\x00", 2));
  std::string reply("\x05\x00\x00\x04", 4);
  reply += std::string(15, '\0') + "\x01" + std::string(2, '\0');
  for (size_t i = 0; i + 1 < reply.size(); ++i) EXPECT_FALSE(stream.ReceiveReply(&reply[i], 1)) << i;
  EXPECT_TRUE(stream.ReceiveReply(&reply.back(), 1));
  EXPECT_EQ(stream.State(), csData);
}
