// TCP client, connection and network stream against real servers on the loopback addresses.
#include <gtest/gtest.h>
#include <netdb.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "common/clMessagePump.h"
#include "net/clSocketErrors.h"
#include "net/clTcpClient.h"
#include "tests/support/LocalServer.h"
#include "tests/support/TestSupport.h"

namespace {

class TestTcpClient : public TclTcpClient {
public:
  int32_t GetDefaultPort() const override { return 7; }
  int Ticks = 0;

protected:
  void KeepAliveTick() override { ++Ticks; }
};

void Echo(int aClient) {
  for (;;) {
    std::string data = LocalServer::ReceiveSome(aClient);
    if (data.empty()) return;
    LocalServer::SendAll(aClient, data);
  }
}

// Reads until aCount bytes have arrived.
std::string ReadAtLeast(TclTcpClientConnection& aConnection, size_t aCount) {
  TMemoryStream data;
  while (data.Size() < static_cast<int64_t>(aCount) && aConnection.Active()) aConnection.ReadData(&data);
  return data.Data();
}

int32_t ErrorCodeOf(const std::function<void()>& aCall) {
  try {
    aCall();
  } catch (const EclSocketError& e) {
    return e.ErrorCode();
  }
  return 0;
}

void Connect(TestTcpClient& aClient, const LocalServer& aServer, const std::string& aHost = "127.0.0.1") {
  aClient.SetServer(aHost);
  aClient.SetPort(aServer.Port());
  aClient.Open();
}

}  // namespace

class TcpEchoTest : public testing::TestWithParam<std::string> {};

TEST_P(TcpEchoTest, ConnectsAndEchoesOverIPv4AndIPv6) {
  LocalServer server(Echo, GetParam());
  TestTcpClient client;
  int opened = 0;
  client.OnOpen = [&](TclTcpClient*) { ++opened; };
  Connect(client, server, GetParam());
  ASSERT_TRUE(client.Active());
  EXPECT_EQ(client.Connection()->PeerIP(), GetParam());
  EXPECT_EQ(client.Connection()->PeerPort(), server.Port());
  EXPECT_EQ(client.Connection()->IP(), GetParam());
  EXPECT_GT(client.Connection()->Port(), 0);

  client.Connection()->WriteString("hello, 世界", "utf-8");
  EXPECT_EQ(ReadAtLeast(*client.Connection(), 13), "hello, 世界");

  client.Open();  // already active: reused, no event
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(server.Accepted(), 1);
  client.Close();
  EXPECT_FALSE(client.Active());
  EXPECT_EQ(client.Connection()->Socket().Socket(), -1);
  EXPECT_EQ(client.Connection()->Socket().AddressFamily(), 0);
}

INSTANTIATE_TEST_SUITE_P(Loopback, TcpEchoTest, testing::Values("127.0.0.1", "::1"));

TEST(TcpClientTest, LargeTransfersBothWaysThroughFullSocketBuffers) {
  const std::string payload(8 << 20, 'x');
  LocalServer server([&](int c) {
    // Reads everything before answering, so the client's writes block on full buffers.
    std::string got = LocalServer::ReceiveExactly(c, payload.size());
    LocalServer::SendAll(c, got);
  });
  TestTcpClient client;
  Connect(client, server);
  int64_t lastProgress = 0;
  client.Connection()->OnProgress = [&](TclConnection*, int64_t done, int64_t total) { lastProgress = done; };
  client.Connection()->InitProgress(0, payload.size());
  TMemoryStream out(payload);
  client.Connection()->WriteData(&out);
  EXPECT_EQ(out.Position(), out.Size());
  EXPECT_EQ(lastProgress, static_cast<int64_t>(payload.size()));
  EXPECT_EQ(ReadAtLeast(*client.Connection(), payload.size()), payload);
}

TEST(TcpClientTest, PeerClosingEndsTheReadAndLaterReadsRaise10038) {
  LocalServer server([](int c) { LocalServer::SendAll(c, "bye"); });
  TestTcpClient client;
  int closed = 0;
  client.OnClose = [&](TclTcpClient*) { ++closed; };
  Connect(client, server);
  EXPECT_EQ(ReadAtLeast(*client.Connection(), 100), "bye");
  EXPECT_FALSE(client.Active());
  TMemoryStream more;
  EXPECT_EQ(ErrorCodeOf([&] { client.Connection()->ReadData(&more); }), clNotASocket);
  EXPECT_EQ(ErrorCodeOf([&] { client.Connection()->WriteBytes("late"); }), clNotASocket);
  // The next Open connects anew.
  client.Open();
  EXPECT_TRUE(client.Active());
  client.Close();
  EXPECT_EQ(closed, 1);
}

TEST(TcpClientTest, ReadUntilCloseReadsEverythingInOneCall) {
  const std::string body(300000, 'b');
  LocalServer server([&](int c) { LocalServer::SendAll(c, body); });
  TestTcpClient client;
  Connect(client, server);
  client.Connection()->SetIsReadUntilClose(true);
  TMemoryStream data;
  client.Connection()->ReadData(&data);
  EXPECT_EQ(data.Data(), body);
  EXPECT_FALSE(client.Active());
}

TEST(TcpClientTest, SilentPeerTimesOut) {
  std::promise<void> done;
  LocalServer server([&](int c) { done.get_future().wait(); });
  TestTcpClient client;
  client.SetTimeOut(200);
  Connect(client, server);
  TMemoryStream data;
  try {
    client.Connection()->ReadData(&data);
    ADD_FAILURE() << "no time-out";
  } catch (const EclSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), -1);
    EXPECT_STREQ(e.what(), "Timeout error occured");
  }
  EXPECT_TRUE(client.Active());  // the caller decides whether to close
  done.set_value();
}

TEST(TcpClientTest, AbortFromAnotherThreadEndsAWaitWithoutError) {
  std::promise<void> done;
  LocalServer server([&](int c) { done.get_future().wait(); });
  TestTcpClient client;  // 60 s time-out
  Connect(client, server);
  std::thread aborter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    client.Connection()->Abort();
  });
  auto start = std::chrono::steady_clock::now();
  TMemoryStream data;
  EXPECT_NO_THROW(client.Connection()->ReadData(&data));
  aborter.join();
  // The stop stays: every later wait on this connection ends at once too.
  EXPECT_NO_THROW(client.Connection()->ReadData(&data));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_TRUE(client.Connection()->IsAborted());
  done.set_value();
}

TEST(TcpClientTest, BytesToProceedLimitsOneRead) {
  LocalServer server([](int c) {
    LocalServer::SendAll(c, std::string(8192, 'z'));
    LocalServer::ReceiveSome(c);
  });
  TestTcpClient client;
  Connect(client, server);
  TclTcpClientConnection& connection = *client.Connection();
  connection.InitProgress(0, 0);
  connection.SetBytesToProceed(100);
  TMemoryStream data;
  while (data.Size() == 0) connection.ReadData(&data);
  EXPECT_EQ(data.Size(), 100);
  EXPECT_EQ(connection.BytesProceed(), 100);
  connection.InitProgress(0, 0);
  connection.SetBytesToProceed(-1);
  EXPECT_EQ(ReadAtLeast(connection, 8092), std::string(8092, 'z'));
}

TEST(TcpClientTest, OpenFailures) {
  LocalServer server(Echo);
  TestTcpClient client;
  client.SetBatchSize(0);
  EXPECT_EQ(ErrorCodeOf([&] { Connect(client, server); }), -4);
  EXPECT_EQ(server.Accepted(), 0);
  EXPECT_FALSE(client.Active());

  TestTcpClient refused;
  int freePort;
  { LocalServer gone(Echo); freePort = gone.Port(); }
  refused.SetServer("127.0.0.1");
  refused.SetPort(freePort);
  EXPECT_EQ(ErrorCodeOf([&] { refused.Open(); }), 10061);
  EXPECT_FALSE(refused.Active());
  EXPECT_EQ(refused.Connection()->Socket().Socket(), -1);

  // A label longer than 63 characters is refused by the resolver without any query.
  TestTcpClient unresolvable;
  unresolvable.SetServer(std::string(70, 'a') + ".invalid");
  EXPECT_GT(ErrorCodeOf([&] { unresolvable.Open(); }), 11000);
  EXPECT_FALSE(unresolvable.Active());
}

TEST(TcpClientTest, WaitServesThePostedMessagesOfTheThread) {
  std::promise<void> messageRan;
  LocalServer server([&](int c) {
    messageRan.get_future().wait();
    LocalServer::SendAll(c, "after");
  });
  TestTcpClient client;
  client.SetTimeOut(20000);
  Connect(client, server);
  std::shared_ptr<TclMessagePump> pump = TclMessagePump::CurrentShared();
  bool ranOnThisThread = false;
  std::thread poster([&] {
    pump->Send([&] { ranOnThisThread = pump->IsOwnerThread(); });
    messageRan.set_value();
  });
  EXPECT_EQ(ReadAtLeast(*client.Connection(), 5), "after");
  poster.join();
  EXPECT_TRUE(ranOnThisThread);
}

TEST(TcpClientTest, WaitsWakeInSlicesForAnInstalledEventProcessor) {
  std::promise<void> done;
  LocalServer server([&](int c) { done.get_future().wait(); });
  TestTcpClient client;
  client.SetTimeOut(300);
  Connect(client, server);
  int repaints = 0;
  TclMessagePump::Current().SetEventProcessor([&] {
    ++repaints;
    TclMessagePump::Current().ProcessMessages();
  });
  TMemoryStream data;
  EXPECT_EQ(ErrorCodeOf([&] { client.Connection()->ReadData(&data); }), -1);
  TclMessagePump::Current().SetEventProcessor(nullptr);
  EXPECT_GE(repaints, 2);  // no message arrived: the slices alone served the window
  done.set_value();
}

TEST(TcpClientTest, BandwidthLimitPausesAfterEverySocketCall) {
  LocalServer server([](int c) { LocalServer::ReceiveExactly(c, 3000); });
  TestTcpClient client;
  client.SetBatchSize(1000);
  client.SetBitsPerSec(80000);  // 1000 bytes: 100 ms
  Connect(client, server);
  auto start = std::chrono::steady_clock::now();
  client.Connection()->WriteBytes(std::string(3000, 'r'));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST(TcpClientTest, LocalBindingAndPropertyChanges) {
  LocalServer server(Echo);
  TestTcpClient client;
  int changes = 0;
  client.OnChanged = [&](TclTcpClient*) { ++changes; };
  EXPECT_EQ(client.Port(), 7);
  EXPECT_EQ(client.TimeOut(), 60000);
  EXPECT_EQ(client.BatchSize(), 8192);
  client.SetTimeOut(60000);
  EXPECT_EQ(changes, 0);
  client.SetLocalBinding("127.0.0.1");
  Connect(client, server);
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(client.Connection()->IP(), "127.0.0.1");
  client.Connection()->WriteBytes("ping");
  EXPECT_EQ(client.Connection()->ReadString(), "ping");
}

TEST(TcpClientTest, KeepAliveTicksOnTheOpeningThreadUntilClosed) {
  LocalServer server(Echo);
  TestTcpClient client;
  client.SetKeepAlive(20);
  Connect(client, server);
  while (client.Ticks < 2) {
    TclMessagePump::Current().ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  client.Close();
  int ticks = client.Ticks;
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  TclMessagePump::Current().ProcessMessages();
  EXPECT_EQ(client.Ticks, ticks);
}

TEST(IpAddressTest, TextForms) {
  struct Case {
    const char* Input;
    const char* Text;
  } cases[] = {
      {"2001:db8:0:0:0:0:0:1", "2001:DB8::1"},
      {"2001:db8:1:2:3:4:0:0", "2001:DB8:1:2:3:4::"},
      {"2001:db8:0:1:0:0:0:1", "2001:DB8:0:1:0:0:0:1"},
      {"::", "::"},
      {"::1", "::1"},
      {"fe80::abcd:1", "FE80::ABCD:1"},
      {"127.0.0.1", "127.0.0.1"},
  };
  for (const auto& c : cases) EXPECT_EQ(TclIPAddress::CreateIpAddress(c.Input)->ToString(), c.Text) << c.Input;
}

TEST(IpAddressTest, ChecksAndErrors) {
  EXPECT_TRUE(TclIPAddress::IsHostIP("::1"));
  EXPECT_TRUE(TclIPAddress::IsHostIP("10.1.2.3"));
  EXPECT_FALSE(TclIPAddress::IsHostIP(""));
  EXPECT_FALSE(TclIPAddress::IsHostIP("localhost"));
  EXPECT_EQ(ErrorCodeOf([] { TclIPAddress::CreateIpAddress("300.1.1.1"); }), -2);
  EXPECT_EQ(ErrorCodeOf([] { TclIPAddress::CreateIpAddress("127.0.0.1")->SetPort(-1); }), -3);
  EXPECT_EQ(ErrorCodeOf([] { TclIPAddress::CreateNone(5); }), -7);
  EXPECT_EQ(TclIPAddress::CreateAny(clAfInet6)->ToString(), "::");
  EXPECT_EQ(TclIPAddress::CreateNone(clAfInet)->ToString(), "0.0.0.0");
  struct Case {
    const char* Host;
    bool Private;
  } cases[] = {{"192.168.1.1", true}, {"10.0.0.1", true},    {"172.16.0.1", true},  {"172.31.255.1", true},
               {"172.32.0.1", false}, {"172.15.0.1", false}, {"11.0.0.1", false}, {"172.1", false}};
  for (const auto& c : cases) EXPECT_EQ(TclIPAddress4::IsPrivateUseIP(c.Host), c.Private) << c.Host;
}

TEST(HostResolverTest, ResolvesNamesAndKeepsAddresses) {
  EXPECT_EQ(TclHostResolver::GetIPAddress("localhost"), "127.0.0.1");
  EXPECT_EQ(TclHostResolver::GetIPAddress("::1"), "::1");
  TStrings list;
  TclHostResolver::GetIPAddressList("localhost", list);
  ASSERT_FALSE(list.empty());
  EXPECT_FALSE(TclHostResolver::GetLocalHost().empty());

  TclHostResolver4 resolver4;
  EXPECT_EQ(resolver4.Resolve("localhost"), "127.0.0.1");
  EXPECT_EQ(resolver4.Resolve("10.2.3.4"), "10.2.3.4");
  EXPECT_GT(ErrorCodeOf([&] { resolver4.Resolve(std::string(70, 'a') + ".invalid"); }), 11000);
}

namespace {

// Lookups in place of the system's: "held.test" waits until the test lets it go (a name server
// that never answers) and then gives 127.0.0.1; "broken.test" throws; other names are not found.
class THeldLookups {
public:
  THeldLookups() {
    FPrevious = TclHostResolver::SetLookupFunction([state = FState](const std::string& aHost, int) {
      if (aHost == "broken.test") throw std::runtime_error("the lookup broke");
      if (aHost != "held.test") RaiseLookupError(EAI_NONAME, 0);
      std::unique_lock<std::mutex> lock(state->Lock);
      ++state->Entered;
      state->Changed.notify_all();
      state->Changed.wait(lock, [&] { return state->Released; });
      sockaddr_storage address{};
      auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
      v4->sin_family = AF_INET;
      v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      return std::vector<sockaddr_storage>{address};
    });
  }
  // Held lookups still running answer into the resolvers' shared state, which outlives them.
  ~THeldLookups() {
    Release();
    TclHostResolver::SetLookupFunction(FPrevious);
  }
  void WaitUntilEntered(int aCount) {
    std::unique_lock<std::mutex> lock(FState->Lock);
    FState->Changed.wait(lock, [&] { return FState->Entered >= aCount; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(FState->Lock);
    FState->Released = true;
    FState->Changed.notify_all();
  }

private:
  struct TState {
    std::mutex Lock;
    std::condition_variable Changed;
    int Entered = 0;
    bool Released = false;
  };
  std::shared_ptr<TState> FState = std::make_shared<TState>();
  TclLookupFunction FPrevious;
};

}  // namespace

TEST(HostResolverTest, AnAbortDuringTheLookupEndsItAtOnceWithTheAbortError) {
  THeldLookups lookups;
  LocalServer server([](int c) { LocalServer::ReceiveSome(c); });
  TestTcpClient client;
  client.SetServer("held.test");
  client.SetPort(server.Port());
  int32_t code = 0;
  auto waited = zvtest::TimeStopped([&] { code = ErrorCodeOf([&] { client.Open(); }); },
                                    [&] {
                                      lookups.WaitUntilEntered(1);
                                      client.Connection()->Abort();
                                    });
  EXPECT_EQ(code, 10004);
  EXPECT_LT(waited, std::chrono::seconds(1));
  EXPECT_FALSE(client.Active());

  // A resolver of its own ends the same way.
  TclHostResolver4 resolver;
  waited = zvtest::TimeStopped([&] { code = ErrorCodeOf([&] { resolver.Resolve("held.test"); }); },
                               [&] {
                                 lookups.WaitUntilEntered(2);
                                 resolver.Abort();
                               });
  EXPECT_EQ(code, 10004);
  EXPECT_LT(waited, std::chrono::seconds(1));

  // The abort belonged to that attempt: the next one looks up and connects.
  lookups.Release();
  client.Open();
  EXPECT_TRUE(client.Active());
}

TEST(HostResolverTest, ALookupsFailureReachesOnlyTheConnectThatWaitsForIt) {
  THeldLookups lookups;
  LocalServer server([](int c) { LocalServer::ReceiveSome(c); });
  TestTcpClient held;
  held.SetServer("held.test");
  held.SetPort(server.Port());
  auto heldOpen = std::async(std::launch::async, [&] { held.Open(); });
  lookups.WaitUntilEntered(1);

  TestTcpClient broken, unknown;
  broken.SetServer("broken.test");
  unknown.SetServer("unknown.test");
  EXPECT_THROW(broken.Open(), std::runtime_error);
  EXPECT_GT(ErrorCodeOf([&] { unknown.Open(); }), 11000);

  lookups.Release();
  EXPECT_NO_THROW(heldOpen.get());
  EXPECT_TRUE(held.Active());
  EXPECT_FALSE(broken.Active());
}
