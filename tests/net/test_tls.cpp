// TLS client connections against TLS servers on the loopback address, with certificates made by
// a test certificate authority that the tests put in the trust store.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "net/clTcpClientTls.h"
#include "tests/support/LocalServer.h"
#include "tests/support/TestCa.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WebServers.h"

namespace {

class TestTlsClient : public TclTcpClientTls {
public:
  int32_t DefaultPort = 80;
  int32_t GetDefaultPort() const override { return DefaultPort; }
};

struct TlsServer {
  std::unique_ptr<zvtest::ChildProcess> Process;
  int Port = 0;
};

TlsServer StartServer(const zvtest::TestCert& aCert, const std::string& aMode, std::vector<std::string> aExtra = {}) {
  std::vector<std::string> args{"--cert", aCert.ChainFile, "--key", aCert.KeyFile, "--mode", aMode};
  args.insert(args.end(), aExtra.begin(), aExtra.end());
  TlsServer server;
  std::string line;
  server.Process = zvtest::StartFixture("tls_server.py", args, line);
  server.Port = std::stoi(line);
  return server;
}

std::string ReadAtLeast(TclTcpClientConnection& aConnection, size_t aCount) {
  TMemoryStream data;
  while (data.Size() < static_cast<int64_t>(aCount) && aConnection.Active()) aConnection.ReadData(&data);
  return data.Data();
}

void Prepare(TestTlsClient& aClient, const TlsServer& aServer, const std::string& aHost = "localhost") {
  aClient.SetServer(aHost);
  aClient.SetPort(aServer.Port);
  aClient.SetUseTLS(ctImplicit);
  aClient.SetTimeOut(20000);
}

}  // namespace

class TlsTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    Ca = new zvtest::TestCa();
    // The test authority is the whole trust store of this process.
    setenv("SSL_CERT_FILE", Ca->CertFile().c_str(), 1);
    setenv("SSL_CERT_DIR", Ca->Folder().c_str(), 1);
  }
  static void TearDownTestSuite() {
    delete Ca;
    Ca = nullptr;
  }
  static zvtest::TestCa* Ca;
};

zvtest::TestCa* TlsTest::Ca = nullptr;

TEST_F(TlsTest, HandshakeAndLargeEchoInEveryVersion) {
  TlsServer server = StartServer(Ca->Server(), "echo");
  const std::string payload(300000, 'p');
  for (TclTlsFlags flags : {clDefaultTlsFlags, TclTlsFlags{tfUseTLS13}}) {
    TestTlsClient client;
    Prepare(client, server);
    client.SetTLSFlags(flags);
    client.Open();
    ASSERT_TRUE(client.Active());
    ASSERT_TRUE(client.IsTls());
    auto* stream = static_cast<TclTlsNetworkStream*>(client.Connection()->NetworkStream());
    EXPECT_TRUE(stream->PeerVerified());
    TclCertificate* peer = stream->SSPI()->PeerCertificate();
    ASSERT_NE(peer, nullptr);
    EXPECT_EQ(peer->IssuedTo(), "localhost");
    EXPECT_EQ(peer->IssuedBy(), "Zentavo Test CA");
    EXPECT_EQ(peer->Version(), cvVersion3);
    EXPECT_EQ(peer->Thumbprint().size(), 40u);

    int64_t progress = 0;
    client.Connection()->OnProgress = [&](TclConnection*, int64_t done, int64_t) { progress = done; };
    client.Connection()->InitProgress(0, payload.size());
    TMemoryStream out(payload);
    client.Connection()->WriteData(&out);
    EXPECT_EQ(progress, static_cast<int64_t>(payload.size()));  // plaintext bytes, not record bytes
    client.Connection()->InitProgress(0, payload.size());
    EXPECT_EQ(ReadAtLeast(*client.Connection(), payload.size()), payload);
    EXPECT_EQ(progress, static_cast<int64_t>(payload.size()));
    client.Close();
    EXPECT_FALSE(client.Active());
  }
}

TEST_F(TlsTest, DataThatFollowsTheLastHandshakeMessageReachesTheFirstReader) {
  TlsServer server = StartServer(Ca->Server(), "early");
  TestTlsClient client;
  Prepare(client, server);
  client.Open();
  EXPECT_EQ(ReadAtLeast(*client.Connection(), 14), "early greeting");
  client.Connection()->WriteString("and back");
  EXPECT_EQ(ReadAtLeast(*client.Connection(), 8), "and back");
}

TEST_F(TlsTest, AFloodRightAfterTheHandshakeIsReadUntilTheServerCloses) {
  TlsServer server = StartServer(Ca->Server(), "flood");
  TestTlsClient client;
  Prepare(client, server);
  client.Open();
  client.Connection()->SetIsReadUntilClose(true);
  TMemoryStream data;
  while (client.Active()) client.Connection()->ReadData(&data);
  EXPECT_EQ(data.Data(), std::string(2 << 20, 'f'));
}

TEST_F(TlsTest, RecordsSplitAcrossReadsAreReassembled) {
  TlsServer server = StartServer(Ca->Server(), "split");
  TestTlsClient client;
  Prepare(client, server, "127.0.0.1");
  client.Open();
  EXPECT_EQ(ReadAtLeast(*client.Connection(), 25), "first recordsecond record");
}

TEST_F(TlsTest, ServerClosingEndsTheReadAndTheConnection) {
  TlsServer server = StartServer(Ca->Server(), "close");
  TestTlsClient client;
  Prepare(client, server);
  client.Open();
  client.Connection()->WriteString("bye?");
  TMemoryStream data;
  while (client.Active()) client.Connection()->ReadData(&data);
  EXPECT_EQ(data.Data(), "bye");
  try {
    client.Connection()->ReadData(&data);
    ADD_FAILURE() << "read on a closed connection";
  } catch (const EclSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), clNotASocket);
  }
  try {
    client.Connection()->WriteString("late");
    ADD_FAILURE() << "write on a closed connection";
  } catch (const EclSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), clNotASocket);
  }
}

struct CertificateFault {
  const char* Name;
  int32_t Code;
  TclCertificateVerifyFlag IgnoredBy;
};

TEST_F(TlsTest, CertificateFaultsAreRefusedUnlessIgnored) {
  zvtest::TestCa otherCa;
  zvtest::TestCertOptions clientOnly;
  clientOnly.ExtendedKeyUsage = "clientAuth";
  const struct {
    CertificateFault Fault;
    zvtest::TestCert Cert;
  } cases[] = {
      {{"wrong host", clCertCommonNameInvalid, cfIgnoreCommonNameInvalid}, Ca->WrongHost()},
      {{"expired", clCertExpired, cfIgnoreDateInvalid}, Ca->Expired()},
      {{"unknown authority", clCertUntrustedRoot, cfIgnoreUnknownAuthority}, otherCa.Server()},
      {{"self-signed", clCertUntrustedRoot, cfIgnoreUnknownAuthority}, Ca->SelfSigned()},
      {{"wrong usage", clCertWrongUsage, cfIgnoreWrongUsage}, Ca->Issue("client-only", clientOnly)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Fault.Name);
    TlsServer server = StartServer(c.Cert, "echo");
    TestTlsClient refused;
    Prepare(refused, server);
    try {
      refused.Open();
      ADD_FAILURE() << "accepted";
    } catch (const EclSocketError& e) {
      EXPECT_EQ(e.ErrorCode(), c.Fault.Code);
      EXPECT_EQ(e.what(), SspiErrorText(c.Fault.Code));
    }
    EXPECT_FALSE(refused.Active());

    TestTlsClient ignoring;
    Prepare(ignoring, server);
    ignoring.SetCertificateFlags({c.Fault.IgnoredBy});
    ignoring.Open();
    ignoring.Connection()->WriteString("ok");
    EXPECT_EQ(ReadAtLeast(*ignoring.Connection(), 2), "ok");
  }
  EXPECT_EQ(SspiErrorText(clCertCommonNameInvalid), "The certificate's CN name does not match the passed value");
}

TEST_F(TlsTest, OnVerifyServerMayOverruleTheCheck) {
  TlsServer server = StartServer(Ca->WrongHost(), "echo");
  TestTlsClient client;
  Prepare(client, server);
  int32_t seenCode = 0;
  std::string seenText;
  client.OnVerifyServer = [&](TclTcpClientTls*, TclCertificate* aCert, const std::string& aText, int32_t aCode,
                              bool& aVerified) {
    EXPECT_FALSE(aVerified);
    EXPECT_EQ(aCert->IssuedTo(), "wrong.host.invalid");
    seenCode = aCode;
    seenText = aText;
    aVerified = true;
  };
  client.Open();
  EXPECT_TRUE(client.Active());
  EXPECT_EQ(seenCode, clCertCommonNameInvalid);
  EXPECT_EQ(seenText, "The certificate's CN name does not match the passed value");

  TlsServer good = StartServer(Ca->Server(), "echo");
  TestTlsClient refusing;
  Prepare(refusing, good);
  refusing.OnVerifyServer = [](TclTcpClientTls*, TclCertificate*, const std::string&, int32_t, bool& aVerified) {
    aVerified = false;
  };
  EXPECT_THROW(refusing.Open(), EclSocketError);
  EXPECT_FALSE(refusing.Active());
}

TEST_F(TlsTest, ClientCertificateWhenTheServerAsksForOne) {
  zvtest::TestCertOptions options;
  options.Names = {"zentavo client"};
  options.ExtendedKeyUsage = "clientAuth";
  zvtest::TestCert clientCert = Ca->Issue("client", options);
  TlsServer server = StartServer(Ca->Server(), "whoami", {"--client-ca", Ca->CertFile()});

  TestTlsClient client;
  Prepare(client, server);
  int asked = 0;
  client.OnGetCertificate = [&](TclTcpClientTls*, std::unique_ptr<TclCertificate>& aCertificate,
                                TclCertificateList&, bool& aHandled) {
    ++asked;
    aCertificate = TclCertificate::LoadFromFiles(clientCert.CertFile, clientCert.KeyFile);
    aHandled = true;
  };
  client.Open();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(ReadAtLeast(*client.Connection(), 21), "client zentavo client");

  TestTlsClient without;
  Prepare(without, server);
  EXPECT_THROW(
      {
        without.Open();
        ReadAtLeast(*without.Connection(), 1);
      },
      EclError);
  EXPECT_FALSE(without.Active());
}

TEST_F(TlsTest, SslAndTls10And11AreNeverOffered) {
  TlsServer server = StartServer(Ca->Server(), "echo");
  for (TclTlsFlags oldOnly : {TclTlsFlags{tfUseSSL2, tfUseSSL3}, TclTlsFlags{tfUseTLS, tfUseTLS11}}) {
    TestTlsClient client;
    Prepare(client, server);
    client.SetTLSFlags(oldOnly);
    try {
      client.Open();
      ADD_FAILURE() << "connected with old versions only";
    } catch (const EclSSPIError& e) {
      EXPECT_EQ(e.ErrorCode(), clSspiAlgorithmMismatch);
    }
  }
  TestTlsClient mixed;
  Prepare(mixed, server);
  mixed.SetTLSFlags({tfUseSSL2, tfUseTLS12});
  mixed.Open();
  EXPECT_TRUE(mixed.Active());
}

TEST_F(TlsTest, ServersOfferingOnlyTls10Or11LackACommonAlgorithm) {
  zvtest::TestCertOptions rsa;
  rsa.KeyType = zvtest::TestKeyType::Rsa2048;  // so that the key exchange may also go unsigned
  zvtest::TestCert cert = Ca->Issue("rsa", rsa);
  struct Case {
    std::string Version;
    std::string Ciphers;
  };
  // With a signed key exchange and without one: the versions are refused, not only their signatures.
  for (const auto& c : std::vector<Case>{{"-tls1", "ALL:@SECLEVEL=0"}, {"-tls1_1", "AES128-SHA:@SECLEVEL=0"}}) {
    int port = zvtest::FreePort();
    zvtest::ChildProcess server({"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert",
                                 cert.ChainFile, "-key", cert.KeyFile, "-www", c.Version, "-cipher", c.Ciphers});
    while (server.ReadLine() != "ACCEPT") {
    }
    TestTlsClient client;
    client.SetServer("localhost");
    client.SetPort(port);
    client.SetUseTLS(ctImplicit);
    client.SetTLSFlags({tfUseSSL3, tfUseTLS, tfUseTLS11, tfUseTLS12});
    try {
      client.Open();
      ADD_FAILURE() << c.Version << " was accepted";
    } catch (const EclSSPIError& e) {
      EXPECT_EQ(e.ErrorCode(), clSspiAlgorithmMismatch) << c.Version;
      EXPECT_STREQ(e.what(), "The client and server cannot communicate because they do not possess a common algorithm");
    }
    EXPECT_FALSE(client.Active());
  }
}

TEST_F(TlsTest, AutomaticModeFollowsThePort) {
  TlsServer tlsServer = StartServer(Ca->Server(), "echo");
  TestTlsClient automatic;
  Prepare(automatic, tlsServer);
  automatic.SetUseTLS(ctAutomatic);  // port differs from the default port: TLS from the start
  automatic.Open();
  EXPECT_TRUE(automatic.IsTls());
  EXPECT_FALSE(automatic.ExplicitStartTls());

  TlsServer startTls = StartServer(Ca->Server(), "starttls");
  TestTlsClient onDefaultPort;
  Prepare(onDefaultPort, startTls);
  onDefaultPort.DefaultPort = startTls.Port;
  onDefaultPort.SetUseTLS(ctAutomatic);
  onDefaultPort.Open();
  EXPECT_FALSE(onDefaultPort.IsTls());
  onDefaultPort.Connection()->WriteString("STARTTLS\r\n");
  EXPECT_EQ(ReadAtLeast(*onDefaultPort.Connection(), 4), "OK\r\n");
  EXPECT_TRUE(onDefaultPort.ExplicitStartTls());
  EXPECT_TRUE(onDefaultPort.IsTls());
  onDefaultPort.Connection()->WriteString("secret");
  EXPECT_EQ(ReadAtLeast(*onDefaultPort.Connection(), 6), "secret");
}

TEST_F(TlsTest, AbortEndsAConnectOrHandshakeAtOnce) {
  zvtest::FullListener full;
  // Reads what the client sends and never answers, until the client goes.
  LocalServer silent([](int c) {
    while (!LocalServer::ReceiveSome(c).empty()) {
    }
  });
  for (int port : {full.Port(), silent.Port()}) {
    TestTlsClient client;
    client.SetServer("127.0.0.1");
    client.SetPort(port);
    client.SetUseTLS(ctImplicit);
    client.SetTimeOut(20000);
    // An aborted open ends without error, with the connection closed.
    EXPECT_LT(zvtest::TimeStopped([&] { client.Open(); }, [&] { client.Connection()->Abort(); }),
              std::chrono::seconds(1))
        << port;
    EXPECT_FALSE(client.Active());
    EXPECT_TRUE(client.Connection()->IsAborted());
  }
  EXPECT_EQ(silent.Accepted(), 1);
}

TEST_F(TlsTest, CloseDoesNotWaitForAPeerThatStoppedReading) {
  TlsServer server = StartServer(Ca->Server(), "deaf");
  TestTlsClient client;
  Prepare(client, server);
  client.Open();
  // Fill both socket buffers, so that nothing more can leave, not even the closing message.
  client.SetTimeOut(300);
  TMemoryStream flood(std::string(32 << 20, 'x'));
  EXPECT_THROW(client.Connection()->WriteData(&flood), EclSocketError);
  ASSERT_TRUE(client.Active());
  client.SetTimeOut(20000);
  auto start = std::chrono::steady_clock::now();
  client.Close();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_FALSE(client.Active());
}
