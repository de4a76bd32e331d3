#include "engine/clInternetConnection.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "common/clMessagePump.h"
#include "engine/clInternetError.h"
#include "engine/clReplyInfo.h"
#include "tests/engine/EngineRequest.h"
#include "tests/support/HttpFixture.h"

using namespace zvtest;
using namespace std::chrono_literals;

namespace {

using TClock = std::chrono::steady_clock;

int64_t MillisecondsSince(TClock::time_point aStart) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - aStart).count();
}

std::string Body(size_t aSize) {
  std::string body(aSize, '\0');
  for (size_t i = 0; i < aSize; ++i) body[i] = char('a' + i * 7 % 26);
  return body;
}

}  // namespace

TEST(TclInternetConnection, RequestReadsHeaderStatusAndBodyToItsEnd) {
  HttpFixture server;
  const std::string body = Body(100000);
  server.Reply(HttpResponse(200, "OK", {"Content-Type: video/x-flv", "X-Segment: 3"}, body));
  TclInternetConnection connection;
  TEngineRequest request(connection, server.Port(), "/seg3.flv?start=0");
  request.Send();
  TStrings header;
  TclResourceInfoHolder info;
  ASSERT_TRUE(ReadReplyStatus(request.Handle(), header, info));
  EXPECT_EQ(info.Get()->StatusCode(), 200);
  EXPECT_EQ(header.front(), "HTTP/1.1 200 OK");
  EXPECT_NE(std::find(header.begin(), header.end(), "X-Segment: 3"), header.end());
  EXPECT_TRUE(SameBytes(request.ReadAll(10000, 8192), body));
  EXPECT_EQ(server.Requests().at(0).RequestLine(), "GET /seg3.flv?start=0 HTTP/1.1");
}

TEST(TclInternetConnection, TimedOutActionIsCancelledAndTheConnectionRunsTheNextOne) {
  HttpFixture server;
  server.Route("/silent", {fx::Sleep(15000)});
  server.Route("/ok", {fx::Send(HttpResponse(200, "OK", {}, "fine"))});
  TclInternetConnection connection;
  {
    TEngineRequest silent(connection, server.Port(), "/silent");
    auto start = TClock::now();
    try {
      silent.Send(100);
      FAIL() << "a silent server was answered";
    } catch (const EclTimeoutInternetError& e) {
      EXPECT_EQ(e.ErrorCode(), 258);
      EXPECT_STREQ(e.what(), "Request timeout");
    }
    const int64_t elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 100);
    EXPECT_LT(elapsed, 5000);
  }
  // The root handle under the hanging call was closed; a new one serves the next request.
  TEngineRequest next(connection, server.Port(), "/ok");
  next.Send();
  EXPECT_EQ(next.ReadAll(), "fine");
}

TEST(TclInternetConnection, StopEndsAPendingReadAtOnceWithoutTimeOutError) {
  HttpFixture server;
  // The header and part of the body, then silence.
  server.Script({fx::Send(HttpResponse(200, "OK", {"Content-Length: 1000"}, "", false) + "first part"),
                 fx::Sleep(15000)});
  TclInternetConnection connection;
  TEngineRequest request(connection, server.Port(), "/stalls");
  request.Send();
  std::promise<void> reading;
  auto read = std::async(std::launch::async, [&]() -> int32_t {
    reading.set_value();
    try {
      request.ReadAll(20000);
    } catch (const EclTimeoutInternetError&) {
      return 258;
    } catch (const EclInternetError& e) {
      return e.ErrorCode();
    }
    return 0;
  });
  reading.get_future().wait();
  std::this_thread::sleep_for(100ms);  // the read is pending (nothing arrives after the first part)
  auto start = TClock::now();
  connection.Terminate();
  ASSERT_EQ(read.wait_for(5s), std::future_status::ready) << "the stop did not end the read";
  EXPECT_LT(MillisecondsSince(start), 2000);
  EXPECT_EQ(read.get(), int32_t(ERROR_INTERNET_OPERATION_CANCELLED));
}

TEST(TclInternetConnection, EventsRunOnTheCreatingThreadWhileWorkersFire) {
  HttpFixture server;
  server.Reply(HttpResponse(200, "OK", {}, "x"));
  TclInternetConnection connection;
  const std::thread::id base = std::this_thread::get_id();
  std::vector<std::string> events;  // only the base thread appends
  auto record = [&](const char* aName) {
    return [&, aName](TclInternetConnection* aSender, TclInternetAction* aAction) {
      EXPECT_EQ(std::this_thread::get_id(), base);
      EXPECT_EQ(aSender, &connection);
      events.push_back(std::string(aName) + (dynamic_cast<TclHttpSendRequestAction*>(aAction) ? " send" : ""));
    };
  };
  connection.OnActionAdded = record("added");
  connection.OnActionRemoved = record("removed");
  connection.OnBeforeFireAction = record("before");
  connection.OnAfterFireAction = record("after");

  std::atomic<bool> done{false};
  std::thread worker([&] {
    {
      TEngineRequest request(connection, server.Port(), "/");
      request.Send();
      EXPECT_EQ(connection.GetActionByClass<TclInternetResourceAction>(), request.Open);
      EXPECT_EQ(connection.GetActionByClass<TclHttpOpenRequestAction>(), request.Request);
    }
    done = true;
  });
  TclMessagePump& pump = TclMessagePump::Current();
  while (!done) {
    pollfd fd{pump.Handle(), POLLIN, 0};
    ::poll(&fd, 1, 10);
    pump.ProcessMessages();
  }
  worker.join();
  // Registration happens while the action is being made or freed, so those events see no class.
  const std::vector<std::string> send = {"added", "before send", "after send", "removed"};
  EXPECT_NE(std::search(events.begin(), events.end(), send.begin(), send.end()), events.end());
  EXPECT_EQ(std::count(events.begin(), events.end(), "added"), 4);
  EXPECT_EQ(std::count(events.begin(), events.end(), "removed"), 4);
  EXPECT_EQ(connection.GetActionByClass<TclInternetAction>(), nullptr);
}

TEST(TclInternetConnection, CloseFreesTheKeptActionsAndLeavesTheConnectionUsable) {
  HttpFixture server;
  server.Route("/", {fx::Send(HttpResponse(200, "OK", {}, "again"))});
  TclInternetConnection connection;
  int removed = 0;
  connection.OnActionRemoved = [&](TclInternetConnection*, TclInternetAction*) { ++removed; };
  auto* open = new TclInternetOpenAction(&connection, "engine test", INTERNET_OPEN_TYPE_DIRECT, " ", "", 0);
  open->FireAction(-1);
  new TclConnectAction(&connection, open->hResource(), "127.0.0.1", INTERNET_PORT(server.Port()), "", "",
                       INTERNET_SERVICE_HTTP, 0);
  connection.Close();
  EXPECT_EQ(removed, 2);
  EXPECT_EQ(connection.GetActionByClass<TclInternetAction>(), nullptr);
  // A stop signalled by Close does not linger into the next use.
  TEngineRequest request(connection, server.Port(), "/");
  request.Send();
  EXPECT_EQ(request.ReadAll(), "again");
}

TEST(TclInternetConnection, FailedCallRaisesOrAnswersFalseWhenSilent) {
  TclInternetConnection connection;
  TclInternetOpenAction open(&connection, "engine test", INTERNET_OPEN_TYPE_DIRECT, "", "", 0);
  open.FireAction(-1);
  // Nothing listens on this port.
  int port = 0;
  {
    HttpFixture gone;
    port = gone.Port();
  }
  TclConnectAction connect(&connection, open.hResource(), "127.0.0.1", INTERNET_PORT(port), "", "",
                           INTERNET_SERVICE_HTTP, 0);
  connect.FireAction(10000);
  TclHttpOpenRequestAction request(&connection, open.hResource(), connect.hResource(), "GET", "/", "", "", {},
                                   INTERNET_FLAG_RELOAD);
  request.FireAction(10000);
  TclHttpSendRequestAction send(&connection, open.hResource(), request.hResource(), "", nullptr, 0);
  EXPECT_FALSE(send.FireAction(10000, true));
  EXPECT_EQ(send.ErrorCode(), int32_t(ERROR_INTERNET_CANNOT_CONNECT));
  try {
    send.FireAction(10000);
    FAIL() << "a refused connection was reported as success";
  } catch (const EclInternetError& e) {
    EXPECT_EQ(e.ErrorCode(), int32_t(ERROR_INTERNET_CANNOT_CONNECT));
    EXPECT_EQ(e.what(), EclInternetError::GetLastErrorText(ERROR_INTERNET_CANNOT_CONNECT));
  }
}

TEST(TclInternetConnection, CertificateFaultsComeAsThePlatformCodes) {
  TestCa ca;
  setenv("SSL_CERT_FILE", ca.CertFile().c_str(), 1);
  struct {
    TestCert Cert;
    int32_t Expected;
  } cases[] = {
      {ca.Server(), 0},
      {ca.Expired(), int32_t(ERROR_INTERNET_SEC_CERT_DATE_INVALID)},
      {ca.WrongHost(), int32_t(ERROR_INTERNET_SEC_CERT_CN_INVALID)},
      {ca.SelfSigned(), int32_t(ERROR_INTERNET_INVALID_CA)},
  };
  for (auto& c : cases) {
    HttpFixture server(&c.Cert);
    server.Route("/", {fx::Send(HttpResponse(200, "OK", {}, "secure"))});
    TclInternetConnection connection;
    TEngineRequest request(connection, server.TlsPort(), "/", true);
    TclHttpSendRequestAction send(&connection, request.Open->hResource(), request.Handle(), "", nullptr, 0);
    const bool sent = send.FireAction(10000, true);
    EXPECT_EQ(send.ErrorCode(), c.Expected) << c.Cert.CertFile << ": " << send.ErrorText();
    if (sent) {
      EXPECT_EQ(request.ReadAll(), "secure");
    }
  }
  unsetenv("SSL_CERT_FILE");
}
