// Negotiate and NTLM through GSSAPI: the client scheme against the server side of the same
// mechanisms (gss_accept_sec_context): NTLM with a user file, Negotiate with a Kerberos realm of
// its own (tests/fixtures/kdc.py).
#include <gtest/gtest.h>

#include <gssapi/gssapi.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <mutex>
#include <regex>

#include "common/clStreams.h"
#include "http/clHttp.h"
#include "http/clHttpAuth.h"
#include "tests/support/LocalServer.h"
#include "tests/support/TestSupport.h"

#if defined(__SANITIZE_ADDRESS__)
// The NTLM mechanism's own leaks are suppressed by its library's name, which only full stacks show.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
#endif

namespace {

gss_OID_desc NtlmMechanism = {10, const_cast<char*>("\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a")};

std::string FromBase64(const std::string& aText) {
  std::string out(aText.size(), '\0');
  int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                               reinterpret_cast<const unsigned char*>(aText.data()), int(aText.size()));
  out.resize(size_t(length) - (aText.size() - aText.find_last_not_of('=') - 1));
  return out;
}

std::string ToBase64(const std::string& aBytes) {
  std::string out(4 * ((aBytes.size() + 2) / 3) + 1, '\0');
  out.resize(size_t(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                    reinterpret_cast<const unsigned char*>(aBytes.data()), int(aBytes.size()))));
  return out;
}

// Sets an environment variable for one test and puts the old value back.
class TEnv {
public:
  TEnv(const char* aName, const std::string& aValue) : FName(aName) {
    if (const char* old = std::getenv(aName)) FOld = old, FHadOld = true;
    setenv(aName, aValue.c_str(), 1);
  }
  ~TEnv() { FHadOld ? setenv(FName, FOld.c_str(), 1) : unsetenv(FName); }

private:
  const char* FName;
  std::string FOld;
  bool FHadOld = false;
};

// The server side of one handshake: takes the client's Authorization value, answers with the
// token for the next challenge.
class TAcceptor {
public:
  explicit TAcceptor(gss_OID aMechanism) {
    if (aMechanism == GSS_C_NO_OID) return;
    OM_uint32 minor = 0;
    gss_OID_set_desc mechanisms = {1, aMechanism};
    EXPECT_FALSE(GSS_ERROR(gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mechanisms, GSS_C_ACCEPT,
                                            &FCredentials, nullptr, nullptr)));
  }
  ~TAcceptor() {
    OM_uint32 minor = 0;
    if (FContext) gss_delete_sec_context(&minor, &FContext, GSS_C_NO_BUFFER);
    if (FCredentials) gss_release_cred(&minor, &FCredentials);
    if (FClient) gss_release_name(&minor, &FClient);
  }
  // The value's token accepted; the next server token in aAnswer. Complete or continue: true.
  bool Accept(const std::string& aAuthorization, std::string& aAnswer) {
    const std::string token = FromBase64(aAuthorization.substr(aAuthorization.find(' ') + 1));
    gss_buffer_desc input = {token.size(), const_cast<char*>(token.data())};
    gss_buffer_desc output = GSS_C_EMPTY_BUFFER;
    OM_uint32 minor = 0;
    FMajor = gss_accept_sec_context(&minor, &FContext, FCredentials, &input, GSS_C_NO_CHANNEL_BINDINGS, &FClient,
                                    nullptr, &output, nullptr, nullptr, nullptr);
    aAnswer = ToBase64(std::string(static_cast<const char*>(output.value), output.length));
    gss_release_buffer(&minor, &output);
    return !GSS_ERROR(FMajor);
  }
  bool Complete() const { return FMajor == GSS_S_COMPLETE; }
  std::string Client() const {
    OM_uint32 minor = 0;
    gss_buffer_desc text = GSS_C_EMPTY_BUFFER;
    if (GSS_ERROR(gss_display_name(&minor, FClient, &text, nullptr))) return std::string();
    std::string result(static_cast<const char*>(text.value), strnlen(static_cast<const char*>(text.value), text.length));
    gss_release_buffer(&minor, &text);
    return result;
  }

private:
  gss_cred_id_t FCredentials = GSS_C_NO_CREDENTIAL;
  gss_ctx_id_t FContext = GSS_C_NO_CONTEXT;
  gss_name_t FClient = GSS_C_NO_NAME;
  OM_uint32 FMajor = 0;
};

// An HTTP server on 127.0.0.1 that lets in only who completes the aScheme handshake on one
// connection, and says who it was. It records the Authorization values and the connection of each.
class TNegotiateServer {
public:
  TNegotiateServer(const std::string& aScheme, gss_OID aMechanism) : FScheme(aScheme), FMechanism(aMechanism) {}
  int Port() const { return FServer.Port(); }
  // "<connection number> <Authorization value or -> per request.
  TStrings Requests() {
    std::lock_guard<std::mutex> lock(FLock);
    return FRequests;
  }

private:
  void Serve(int aConnection) {
    const int number = ++FConnections;
    TAcceptor acceptor(FMechanism);
    std::string buffer;
    for (bool open = true; open;) {
      size_t end;
      while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
        std::string more = LocalServer::ReceiveSome(aConnection);
        if (more.empty()) break;
        buffer += more;
      }
      if (end == std::string::npos) break;
      const std::string head = buffer.substr(0, end);
      buffer.erase(0, end + 4);
      std::smatch match;
      const bool hasValue = std::regex_search(head, match, std::regex("\r\nAuthorization: ([^\r]*)"));
      {
        std::lock_guard<std::mutex> lock(FLock);
        FRequests.push_back(std::to_string(number) + " " + (hasValue ? match[1].str() : "-"));
      }
      std::string reply, token;
      if (!hasValue) {
        reply = Response("401 Unauthorized", FScheme, "");
      } else if (!acceptor.Accept(match[1], token)) {
        reply = Response("403 Forbidden", "", "refused");
        open = false;
      } else if (!acceptor.Complete()) {
        reply = Response("401 Unauthorized", FScheme + " " + token, "");
      } else {
        reply = Response("200 OK", token.empty() ? "" : FScheme + " " + token, "hello " + acceptor.Client());
      }
      LocalServer::SendAll(aConnection, reply);
    }
  }
  static std::string Response(const std::string& aStatus, const std::string& aChallenge, const std::string& aBody) {
    return "HTTP/1.1 " + aStatus + "\r\n" + (aChallenge.empty() ? "" : "WWW-Authenticate: " + aChallenge + "\r\n") +
           "Content-Length: " + std::to_string(aBody.size()) + "\r\n\r\n" + aBody;
  }

  std::string FScheme;
  gss_OID FMechanism;
  int FConnections = 0;  // on the server thread only
  std::mutex FLock;
  TStrings FRequests;
  LocalServer FServer{[this](int aConnection) { Serve(aConnection); }};  // last: it serves the fields above
};

std::string HttpGet(TclHttp& aHttp, const std::string& aUrl) {
  TMemoryStream body;
  aHttp.Get(aUrl, &body);
  return body.Data();
}

struct TAnswer {
  bool Answered = false;
  bool NewConnection = false;
  std::string Value;
};

TAnswer Ask(const std::string& aUser, const std::string& aPassword, const TStrings& aChallenge,
            const void* aContext) {
  TclUrlParser url;
  url.Parse("http://localhost/private/");
  TAnswer answer;
  answer.Answered = TclHttpAuthorization::Authorize(url, "GET", aUser, aPassword, aChallenge, aContext,
                                                    answer.NewConnection, answer.Value);
  return answer;
}

TclHttpNtlmAuthorization& RegisteredNtlm() {
  for (auto* item : TclHttpAuthorization::RegisteredAuthorizations())
    if (auto* ntlm = dynamic_cast<TclHttpNtlmAuthorization*>(item)) return *ntlm;
  throw std::logic_error("no Negotiate/NTLM scheme registered");
}

bool HasSession(const void* aContext) {
  const TStrings keys = RegisteredNtlm().Sessions();
  return std::find(keys.begin(), keys.end(), std::to_string(reinterpret_cast<uintptr_t>(aContext))) != keys.end();
}

// No credentials of a logged-on user, a realm whose KDC does not answer, no DNS, and an NTLM user
// file with the user "ZV\alice" for the server side.
class NegotiateTest : public ::testing::Test {
protected:
  void SetUp() override {
    zvtest::WriteFile(FDir.File("krb5.conf"),
                      "[libdefaults]\n default_realm = ZV.TEST\n dns_lookup_kdc = false\n dns_lookup_realm = false\n"
                      " dns_canonicalize_hostname = false\n rdns = false\n"
                      "[realms]\n ZV.TEST = {\n  kdc = 127.0.0.1:9\n }\n");
    zvtest::WriteFile(FDir.File("ntlm.users"), "ZV:alice:s3cret\n");
  }
  void TearDown() override { RegisteredNtlm().CloseSessions(); }

  zvtest::TempDir FDir;
  TEnv FConfig{"KRB5_CONFIG", FDir.File("krb5.conf")};
  TEnv FCache{"KRB5CCNAME", "FILE:" + FDir.File("no-cache")};
  TEnv FKeytab{"KRB5_KTNAME", "FILE:" + FDir.File("no-keytab")};
  TEnv FNtlmUsers{"NTLM_USER_FILE", FDir.File("ntlm.users")};
};

}  // namespace

TEST(AuthIdentity, SplitsDomainAndUserAtTheFirstBackslashElseTheFirstSlash) {
  struct TCase {
    const char* Text;
    const char* Domain;
    const char* User;
  } cases[] = {{"ZV\\alice", "ZV", "alice"},   {"ZV/alice", "ZV", "alice"}, {"a/b\\c", "a/b", "c"},
               {"a\\b/c", "a", "b/c"},         {"alice", "", "alice"},      {"\\alice", "", "alice"}};
  for (const auto& c : cases) {
    TclAuthIdentity identity(c.Text, "pw");
    EXPECT_EQ(identity.Domain(), c.Domain) << c.Text;
    EXPECT_EQ(identity.User(), c.User) << c.Text;
    EXPECT_EQ(identity.Password(), "pw");
  }
  EXPECT_EQ(TclAuthIdentity("alice", "ZV", "pw").PrincipalName("NTLM"), "ZV\\alice");
  EXPECT_EQ(TclAuthIdentity("alice", "ZV.TEST", "pw").PrincipalName("Negotiate"), "alice@ZV.TEST");
  EXPECT_EQ(TclAuthIdentity("alice", "", "pw").PrincipalName("Negotiate"), "alice");
}

TEST(HttpAuth, NegotiateIsRegisteredAfterBasicAndDigest) {
  const auto items = TclHttpAuthorization::RegisteredAuthorizations();
  ASSERT_GE(items.size(), 3u);
  EXPECT_NE(dynamic_cast<TclHttpBasicAuthorization*>(items[0]), nullptr);
  EXPECT_NE(dynamic_cast<TclHttpDigestAuthorization*>(items[1]), nullptr);
  EXPECT_NE(dynamic_cast<TclHttpNtlmAuthorization*>(items[2]), nullptr);
}

TEST_F(NegotiateTest, WithoutCredentialsTheSchemesDeclineAndTheNextAnswers) {
  // No user name: the logged-on user's credentials, of which there are none.
  TEnv noUsers("NTLM_USER_FILE", FDir.File("missing"));
  int context = 0;
  TAnswer answer = Ask("", "pw", {"Negotiate", "NTLM", "Basic realm=\"r\""}, &context);
  EXPECT_TRUE(answer.Answered);
  EXPECT_EQ(answer.Value, "Basic cHc=");
  EXPECT_FALSE(HasSession(&context));

  answer = Ask("", "", {"NTLM"}, &context);
  EXPECT_FALSE(answer.Answered);
  EXPECT_EQ(answer.Value, "");
  EXPECT_FALSE(answer.NewConnection);
}

TEST_F(NegotiateTest, TheLoggedOnUsersCredentialsAnswerWithoutAUserName) {
  int context = 0;
  const TAnswer answer = Ask("", "", {"NTLM"}, &context);
  ASSERT_TRUE(answer.Answered);
  EXPECT_EQ(answer.Value.rfind("NTLM ", 0), 0u);
}

TEST_F(NegotiateTest, TheFirstMessageIsTheSchemeASpaceAndBase64AndAsksForANewConnection) {
  // The realm's KDC does not answer, so Negotiate (SPNEGO) falls back to NTLM inside, as it is meant to.
  struct TCase {
    TStrings Challenge;
    std::string Scheme;
    std::string Inside;
  } cases[] = {{{"Basic realm=\"r\"", "NTLM"}, "NTLM", std::string("NTLMSSP\0\1\0\0\0", 12)},
               {{"Basic", "NTLM", "Negotiate"}, "Negotiate", "NTLMSSP"}};
  for (const auto& c : cases) {
    int context = 0;
    const TAnswer answer = Ask("ZV\\alice", "s3cret", c.Challenge, &context);
    ASSERT_TRUE(answer.Answered) << c.Scheme;
    EXPECT_TRUE(std::regex_match(answer.Value, std::regex(c.Scheme + " [A-Za-z0-9+/]+=*"))) << answer.Value;
    EXPECT_TRUE(answer.NewConnection);
    // For NTLM the NEGOTIATE_MESSAGE itself: signature and message type 1.
    EXPECT_NE(FromBase64(answer.Value.substr(c.Scheme.size() + 1)).find(c.Inside), std::string::npos) << c.Scheme;
    EXPECT_TRUE(HasSession(&context));
  }
}

TEST_F(NegotiateTest, NtlmHandshakeCompletesAgainstTheServerSideAndEndsItsSession) {
  int context = 0;
  TAcceptor server(&NtlmMechanism);
  TAnswer answer = Ask("ZV\\alice", "s3cret", {"NTLM"}, &context);
  std::string challenge;
  ASSERT_TRUE(server.Accept(answer.Value, challenge));
  EXPECT_FALSE(server.Complete());

  answer = Ask("ZV\\alice", "s3cret", {"ntlm  " + challenge + " "}, &context);
  ASSERT_TRUE(answer.Answered);
  EXPECT_FALSE(answer.NewConnection);  // the handshake goes on over the same connection
  EXPECT_EQ(answer.Value.rfind("NTLM ", 0), 0u);
  EXPECT_FALSE(HasSession(&context));  // complete on the client's side
  std::string last;
  ASSERT_TRUE(server.Accept(answer.Value, last));
  EXPECT_TRUE(server.Complete());
  EXPECT_STREQ(server.Client().c_str(), "ZV\\alice");
}

TEST_F(NegotiateTest, NtlmWithAWrongPasswordIsRefusedByTheServer) {
  int context = 0;
  TAcceptor server(&NtlmMechanism);
  std::string challenge, last;
  ASSERT_TRUE(server.Accept(Ask("ZV\\alice", "wrong", {"NTLM"}, &context).Value, challenge));
  const TAnswer answer = Ask("ZV\\alice", "wrong", {"NTLM " + challenge}, &context);
  ASSERT_TRUE(answer.Answered);
  EXPECT_FALSE(server.Accept(answer.Value, last));
}

TEST_F(NegotiateTest, HandshakesAreKeptApartByTheirContextObject) {
  int first = 0, second = 0;
  TAcceptor server1(&NtlmMechanism), server2(&NtlmMechanism);
  std::string challenge1, challenge2, last;
  ASSERT_TRUE(server1.Accept(Ask("ZV\\alice", "s3cret", {"NTLM"}, &first).Value, challenge1));
  ASSERT_TRUE(server2.Accept(Ask("ZV\\alice", "s3cret", {"NTLM"}, &second).Value, challenge2));
  EXPECT_TRUE(HasSession(&first));
  EXPECT_TRUE(HasSession(&second));
  // Each client's second message answers its own server's challenge, in either order.
  ASSERT_TRUE(server2.Accept(Ask("ZV\\alice", "s3cret", {"NTLM " + challenge2}, &second).Value, last));
  EXPECT_TRUE(server2.Complete());
  EXPECT_TRUE(HasSession(&first));
  ASSERT_TRUE(server1.Accept(Ask("ZV\\alice", "s3cret", {"NTLM " + challenge1}, &first).Value, last));
  EXPECT_TRUE(server1.Complete());
}

TEST_F(NegotiateTest, AChallengeWithoutATokenStartsOverAndCloseSessionsFreesAll) {
  int context = 0, other = 0;
  Ask("ZV\\alice", "s3cret", {"NTLM"}, &context);
  Ask("ZV\\alice", "s3cret", {"NTLM"}, &other);
  TAcceptor server(&NtlmMechanism);
  std::string challenge, last;
  const TAnswer restart = Ask("ZV\\alice", "s3cret", {"NTLM"}, &context);
  EXPECT_TRUE(restart.NewConnection);
  ASSERT_TRUE(server.Accept(restart.Value, challenge));
  ASSERT_TRUE(server.Accept(Ask("ZV\\alice", "s3cret", {"NTLM " + challenge}, &context).Value, last));
  EXPECT_TRUE(server.Complete());

  EXPECT_EQ(RegisteredNtlm().Sessions().size(), 1u);
  RegisteredNtlm().CloseSessions();
  EXPECT_TRUE(RegisteredNtlm().Sessions().empty());
}

TEST_F(NegotiateTest, ABadServerTokenMidwayEndsTheCallWithASecurityError) {
  int context = 0;
  Ask("ZV\\alice", "s3cret", {"NTLM"}, &context);
  for (const std::string token : {"not base64!", "AAAA" /* three zero bytes: no NTLM message */}) {
    Ask("ZV\\alice", "s3cret", {"NTLM"}, &context);
    try {
      Ask("ZV\\alice", "s3cret", {"NTLM " + token}, &context);
      ADD_FAILURE() << token;
    } catch (const EclSSPIError& e) {
      EXPECT_NE(e.ErrorCode(), 0) << token;
    }
    EXPECT_FALSE(HasSession(&context)) << token;
  }
}

TEST_F(NegotiateTest, TheHttpClientPassesAnNtlmHandshakeOnANewConnection) {
  TNegotiateServer server("NTLM", &NtlmMechanism);
  {
    TclHttp http;
    http.SetTimeOut(5000);
    http.SetUserName("ZV\\alice");
    http.SetPassword("s3cret");
    EXPECT_EQ(HttpGet(http, "http://127.0.0.1:" + std::to_string(server.Port()) + "/"), "hello ZV\\alice");
    EXPECT_FALSE(HasSession(&http));
  }
  const TStrings requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0], "1 -");
  // The first message goes on a new connection, and the handshake stays on it.
  EXPECT_EQ(requests[1].rfind("2 NTLM ", 0), 0u) << requests[1];
  EXPECT_EQ(requests[2].rfind("2 NTLM ", 0), 0u) << requests[2];

  TclHttp wrong;
  wrong.SetTimeOut(5000);
  wrong.SetUserName("ZV\\alice");
  wrong.SetPassword("wrong");
  try {
    HttpGet(wrong, "http://127.0.0.1:" + std::to_string(server.Port()) + "/");
    ADD_FAILURE();
  } catch (const EclHttpError& e) {
    EXPECT_EQ(e.ErrorCode(), 403);
  }
}

// A Kerberos realm on 127.0.0.1: Negotiate with the user's password gets a ticket for
// HTTP/localhost, which the service accepts with its keytab.
TEST(NegotiateKerberos, HandshakeWithARealKdcIsAcceptedByTheService) {
  zvtest::TempDir dir;
  std::string port;
  auto kdc = zvtest::StartFixture("kdc.py", {dir.Path(), "ZV.TEST", "alice", "s3cret"}, port);
  TEnv config("KRB5_CONFIG", dir.File("krb5.conf"));
  TEnv cache("KRB5CCNAME", "MEMORY:negotiate-test");
  TEnv keytab("KRB5_KTNAME", "FILE:" + dir.File("http.keytab"));

  int context = 0;
  TAnswer answer = Ask("ZV.TEST\\alice", "s3cret", {"NTLM", "Negotiate"}, &context);
  ASSERT_TRUE(answer.Answered);
  EXPECT_TRUE(std::regex_match(answer.Value, std::regex("Negotiate [A-Za-z0-9+/]+=*"))) << answer.Value;
  EXPECT_TRUE(answer.NewConnection);

  TAcceptor service(GSS_C_NO_OID);
  std::string reply;
  ASSERT_TRUE(service.Accept(answer.Value, reply));
  EXPECT_TRUE(service.Complete());
  EXPECT_EQ(service.Client(), "alice@ZV.TEST");

  // The service's reply (mutual authentication) completes the client's side.
  answer = Ask("ZV.TEST\\alice", "s3cret", {"Negotiate " + reply}, &context);
  EXPECT_FALSE(answer.Answered);
  EXPECT_FALSE(HasSession(&context));

  // The same through the HTTP client, to http://localhost (the service HTTP/localhost).
  TNegotiateServer web("Negotiate", GSS_C_NO_OID);
  TclHttp http;
  http.SetTimeOut(5000);
  http.SetUserName("alice");
  http.SetPassword("s3cret");
  EXPECT_EQ(HttpGet(http, "http://localhost:" + std::to_string(web.Port()) + "/"), "hello alice@ZV.TEST");
  const TStrings requests = web.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].rfind("2 Negotiate ", 0), 0u) << requests[1];
}
