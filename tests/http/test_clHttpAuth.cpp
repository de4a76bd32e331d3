#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <regex>

#include "http/clHttpAuth.h"

namespace {

std::string Md5(const std::string& aText) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(aText.data(), aText.size(), digest, &length, EVP_md5(), nullptr);
  char hex[3];
  std::string result;
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(hex, sizeof hex, "%02x", digest[i]);
    result += hex;
  }
  return result;
}

struct TAnswer {
  bool Answered = false;
  bool NewConnection = false;
  std::string Value;
};

TAnswer Ask(const std::string& aUrl, const std::string& aUser, const std::string& aPassword, const TStrings& aChallenge,
            const std::string& aMethod = "GET") {
  TclUrlParser url;
  url.Parse(aUrl);
  TAnswer answer;
  answer.Answered = TclHttpAuthorization::Authorize(url, aMethod, aUser, aPassword, aChallenge, nullptr,
                                                    answer.NewConnection, answer.Value);
  return answer;
}

// An item of a Digest answer, without its quotes.
std::string Item(const std::string& aValue, const std::string& aName) {
  std::smatch match;
  if (!std::regex_search(aValue, match, std::regex("[ ,]" + aName + "=\"?([^\",]*)\"?"))) return "<absent>";
  return match[1];
}

}  // namespace

TEST(HttpAuth, DigestMatchesTheRfc2617Example) {
  TclDigestChallenge challenge;
  challenge.Parse("Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
                  "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
  EXPECT_EQ(challenge.Realm(), "testrealm@host.com");
  EXPECT_EQ(challenge.QopOptions(), "auth,auth-int");
  challenge.SetUserName("Mufasa");
  challenge.SetMethod("GET");
  challenge.SetUri("/dir/index.html");
  challenge.SetClientNonce("0a4f113b");
  challenge.SetNonceCount(1);
  EXPECT_EQ(challenge.BuildAuthorization("Circle Of Life"),
            "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", qop=\"auth\", uri=\"/dir/index.html\", "
            "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", nc=00000001, cnonce=\"0a4f113b\", "
            "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\", response=\"6629fae49393a05397450978507c4ef1\"");
  EXPECT_EQ(challenge.Response(), "6629fae49393a05397450978507c4ef1");
}

TEST(HttpAuth, ParsesEveryItemOfADigestChallenge) {
  TclDigestChallenge challenge;
  challenge.Parse("Digest realm=r, domain=\"/a /b\", nonce=n, opaque=o, stale=TRUE, algorithm=MD5-sess, qop=auth, "
                  "charset=UTF-8, username=u, uri=\"/x\", cnonce=c, nc=0000001f, response=abc");
  EXPECT_EQ(challenge.Domain(), "/a /b");
  EXPECT_TRUE(challenge.Stale());
  EXPECT_EQ(challenge.Algorithm(), "MD5-sess");
  EXPECT_EQ(challenge.CharSet(), "UTF-8");
  EXPECT_EQ(challenge.UserName(), "u");
  EXPECT_EQ(challenge.Uri(), "/x");
  EXPECT_EQ(challenge.ClientNonce(), "c");
  EXPECT_EQ(challenge.NonceCount(), 31u);
  EXPECT_EQ(challenge.Response(), "abc");
}

TEST(HttpAuth, BasicEncodesTheCredentials) {
  const struct {
    const char* User;
    const char* Password;
    const char* Value;
  } cases[] = {
      {"Aladdin", "open sesame", "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
      {"", "pw", "Basic cHc="},
      {"user", "", "Basic dXNlcjo="},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    TAnswer answer = Ask("http://h/", c.User, c.Password, {"Basic realm=\"x\""});
    EXPECT_EQ(answer.Value, c.Value) << c.User;
    EXPECT_EQ(answer.Answered, *c.Value != 0);
    EXPECT_EQ(answer.NewConnection, *c.Value != 0);
  }
  // Sent before any challenge with the single line "Basic".
  EXPECT_EQ(Ask("http://h/", "a", "b", {"Basic"}).Value, "Basic YTpi");
}

TEST(HttpAuth, DigestIsAskedBeforeBasic) {
  TAnswer answer = Ask("http://h:8080/dir/index.html?x=1", "Mufasa", "Circle Of Life",
                       {"Basic realm=\"b\"", "Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
                                             "nonce=\"abc\", opaque=\"op\""},
                       "POST");
  ASSERT_TRUE(answer.Answered);
  EXPECT_FALSE(answer.NewConnection);
  EXPECT_EQ(answer.Value.rfind("Digest username=\"Mufasa\", realm=\"testrealm@host.com\", qop=\"auth\"", 0), 0u)
      << answer.Value;
  EXPECT_EQ(Item(answer.Value, "nc"), "00000001");
  EXPECT_EQ(Item(answer.Value, "uri"), "/dir/index.html?x=1");
  const std::string cnonce = Item(answer.Value, "cnonce");
  EXPECT_TRUE(std::regex_match(cnonce, std::regex("ab[0-9a-f]{30}"))) << cnonce;
  const std::string expected = Md5(Md5("Mufasa:testrealm@host.com:Circle Of Life") + ":abc:00000001:" + cnonce +
                                   ":auth:" + Md5("POST:/dir/index.html?x=1"));
  EXPECT_EQ(Item(answer.Value, "response"), expected);
}

TEST(HttpAuth, DigestWithoutQopUsesTheShortForm) {
  TAnswer answer = Ask("http://h/p", "u", "pw", {"Digest realm=\"r\", nonce=\"n\""});
  EXPECT_EQ(answer.Value, "Digest username=\"u\", realm=\"r\", uri=\"/p\", nonce=\"n\", response=\"" +
                              Md5(Md5("u:r:pw") + ":n:" + Md5("GET:/p")) + "\"");
}

TEST(HttpAuth, DigestMd5SessHashesTheSessionKey) {
  TAnswer answer = Ask("http://h/p", "u", "pw", {"Digest realm=\"r\", nonce=\"n\", qop=auth, algorithm=MD5-sess"});
  const std::string cnonce = Item(answer.Value, "cnonce");
  EXPECT_EQ(Item(answer.Value, "algorithm"), "MD5-sess");
  EXPECT_EQ(Item(answer.Value, "response"),
            Md5(Md5(Md5("u:r:pw") + ":n:" + cnonce) + ":n:00000001:" + cnonce + ":auth:" + Md5("GET:/p")));
}

TEST(HttpAuth, UnknownDigestAlgorithmsAreDeclined) {
  const TStrings sha256 = {"Digest realm=\"r\", nonce=\"n\", algorithm=SHA-256"};
  EXPECT_FALSE(Ask("http://h/", "u", "p", sha256).Answered);
  TStrings withBasic = sha256;
  withBasic.push_back("Basic realm=\"r\"");
  EXPECT_EQ(Ask("http://h/", "u", "p", withBasic).Value, "Basic dTpw");
  // Digest needs a user name.
  EXPECT_FALSE(Ask("http://h/", "", "p", {"Digest realm=\"r\", nonce=\"n\""}).Answered);
  // A scheme nobody knows gets no answer.
  EXPECT_FALSE(Ask("http://h/", "u", "p", {"Bearer realm=\"x\""}).Answered);
}

TEST(HttpAuth, LaterRegisteredSchemesAreAskedFirst) {
  class TTestScheme : public TclHttpAuthorization {
  public:
    void Authenticate(const TclUrlParser&, const std::string&, const std::string&, const std::string&,
                      const TStrings& aChallenge, const void* aContext) override {
      FAuthValue = FindChallenge(aChallenge, "x-test-scheme").empty() ? "" : "X-Test-Scheme token";
      FStartNewConnection = aContext != nullptr;
    }
  };
  const size_t before = TclHttpAuthorization::RegisteredAuthorizations().size();
  EXPECT_GE(before, 2u);
  TclHttpAuthorization::RegisterAuthorization(std::make_unique<TTestScheme>());
  EXPECT_EQ(TclHttpAuthorization::RegisteredAuthorizations().size(), before + 1);
  EXPECT_EQ(Ask("http://h/", "u", "p", {"Basic", "X-Test-Scheme"}).Value, "X-Test-Scheme token");
  EXPECT_EQ(Ask("http://h/", "u", "p", {"Basic"}).Value, "Basic dTpw");
}
