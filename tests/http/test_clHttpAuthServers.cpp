// The HTTP client reaching real servers that demand credentials: nginx with Basic, and a server
// that checks Digest answers.
#include <gtest/gtest.h>

#include <filesystem>

#include "http/clHttp.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WebServers.h"

using namespace zvtest;

namespace {

struct TestHttp : TclHttp {
  TestHttp(const std::string& aUser, const std::string& aPassword) {
    SetTimeOut(5000);
    SetUserName(aUser);
    SetPassword(aPassword);
  }
};

// The body of a GET, or "status N" when the server refused it.
std::string GetOrStatus(TclHttp& aHttp, const std::string& aUrl) {
  TMemoryStream body;
  try {
    aHttp.SendRequest("GET", aUrl, {}, nullptr, nullptr, &body);
    return body.Data();
  } catch (const EclHttpError& e) {
    return "status " + std::to_string(e.ErrorCode());
  }
}

}  // namespace

TEST(HttpAuthServers, NginxBasicLetsTheRightUserInAndKeepsOthersOut) {
  TempDir root;
  std::filesystem::create_directories(root.File("private"));
  WriteFile(root.File("private/secret.txt"), "the secret");
  WriteFile(root.File("users"), "alice:{PLAIN}wonderland\n");
  NginxServer nginx(root.Path(), nullptr,
                    "location /private/ { auth_basic \"private\"; auth_basic_user_file " + root.File("users") + "; }\n");

  TestHttp alice("alice", "wonderland");
  EXPECT_EQ(GetOrStatus(alice, nginx.Url("/private/secret.txt")), "the secret");

  TestHttp intruder("alice", "guess");
  EXPECT_EQ(GetOrStatus(intruder, nginx.Url("/private/secret.txt")), "status 401");
}

TEST(HttpAuthServers, DigestAnswersAreCheckedByTheServer) {
  std::string port;
  auto server = StartFixture("digest_server.py", {"bob", "s3cret"}, port);
  const std::string url = "http://127.0.0.1:" + port + "/video/list?page=2";

  TestHttp bob("bob", "s3cret");
  EXPECT_EQ(GetOrStatus(bob, url), "welcome bob");
  // The same client answers the next challenge with a new client nonce.
  EXPECT_EQ(GetOrStatus(bob, url), "welcome bob");

  TestHttp wrong("bob", "secret");
  wrong.SetMaxAuthRetries(3);
  EXPECT_EQ(GetOrStatus(wrong, url), "status 401");
}
