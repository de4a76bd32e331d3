// The local site that the application's workflow is tested against, checked with an ordinary
// HTTP client (curl) so the other tests can rely on its answers.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>

#include "http/clMd5.h"
#include "tests/support/ZentavoSite.h"

namespace {

struct TFetched {
  int Exit;
  std::string Head, Body;
};

class LocalSite : public ::testing::Test {
protected:
  TFetched Fetch(const std::string& aUrl, std::vector<std::string> aOptions = {}) {
    std::vector<std::string> args{"curl", "-s", "--cacert", Ca.CertFile(), "-D", Dir.File("head"), "-o",
                                  Dir.File("body")};
    args.insert(args.end(), aOptions.begin(), aOptions.end());
    args.push_back(aUrl);
    std::remove(Dir.File("head").c_str());
    std::remove(Dir.File("body").c_str());
    int exit = zvtest::ChildProcess(args).Wait();
    return {exit, zvtest::ReadFile(Dir.File("head")), zvtest::ReadFile(Dir.File("body"))};
  }

  zvtest::TempDir Dir;
  zvtest::TestCa Ca;
  zvtest::TestCert Cert = Ca.Server();
  zvtest::ZentavoSite Site{&Cert};
};

std::string RawInflate(const std::string& aData) {
  z_stream stream{};
  inflateInit2(&stream, -15);
  std::string out(1 << 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(aData.data()));
  stream.avail_in = static_cast<uInt>(aData.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  inflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return out;
}

}  // namespace

TEST_F(LocalSite, ServesPagesOverHttpsWithFaultsOnRequest) {
  Site.AddPage("/www.zentavo.com/video/BV1", "{\"title\":\"T\"}");
  auto page = Fetch(Site.TlsUrl("/www.zentavo.com/video/BV1"), {"-H", "Referer: https://www.zentavo.com"});
  EXPECT_EQ(page.Exit, 0);
  EXPECT_EQ(page.Body, "{\"title\":\"T\"}");
  auto requests = Site.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0]["tls"]);
  EXPECT_EQ(requests[0]["headers"]["Referer"], "https://www.zentavo.com");

  Site.Configure({{"faults",
                   {{"/a", {{"redirect", "/www.zentavo.com/video/BV1"}}},
                    {"/www.zentavo.com/video/BV1", {{"gzip", true}, {"chunked", true}}}}}});
  auto moved = Fetch(Site.Url("/a"), {"-L", "--compressed"});
  EXPECT_NE(moved.Head.find("302"), std::string::npos);
  EXPECT_NE(moved.Head.find("Content-Encoding: gzip"), std::string::npos);
  EXPECT_NE(moved.Head.find("Transfer-Encoding: chunked"), std::string::npos);
  EXPECT_EQ(moved.Body, "{\"title\":\"T\"}");
  EXPECT_NE(Fetch(Site.Url("/missing")).Head.find("404"), std::string::npos);
}

TEST_F(LocalSite, PlayInterfacesAnswerSignedAndEpisodeRequests) {
  Site.Configure({{"play", {{"42", {{"segments", 3}, {"order", {2, 1, 3}}, {"quality", 64}}}}}});
  std::string query = "appkey=6c1f0a93d2e4b785&cid=42&otype=json&qn=";
  std::string sign = Md5Hex(query + "80" + "a3d9e1f07b6c2845e0d9c3b1f4a6e8d2");
  auto signed_ = nlohmann::json::parse(Fetch(Site.TlsUrl("/v2/playurl?" + query + "64&sign=" + sign)).Body);
  EXPECT_EQ(signed_["quality"], 64);
  ASSERT_EQ(signed_["durl"].size(), 3u);
  EXPECT_EQ(signed_["durl"][0]["order"], 2);
  EXPECT_EQ(signed_["durl"][0]["url"], Site.TlsUrl("/seg/42-2.flv?expires=1"));

  auto refused = Fetch(Site.TlsUrl("/v2/playurl?" + query + "64&sign=0"));
  EXPECT_EQ(refused.Body.find("\"url\":\""), std::string::npos);

  auto episode = nlohmann::json::parse(Fetch(Site.Url("/pgc/player/web/playurl?otype=json&cid=7&qn=32")).Body);
  EXPECT_EQ(episode["result"]["quality"], 32);
  EXPECT_EQ(episode["result"]["durl"].size(), 1u);
}

TEST_F(LocalSite, CommentsAreRawDeflateUntilTheSiteRefuses) {
  Site.Configure({{"comment_limit", 1}});
  auto first = Fetch(Site.Url("/x/v1/dm/list.so?oid=99"));
  EXPECT_NE(RawInflate(first.Body).find("<chatid>99</chatid>"), std::string::npos);
  EXPECT_NE(Fetch(Site.Url("/x/v1/dm/list.so?oid=99")).Head.find("412"), std::string::npos);
}

TEST_F(LocalSite, SegmentsAreFlvFilesServedInRanges) {
  auto whole = Fetch(Site.Url("/seg/5-1.flv"));
  EXPECT_EQ(whole.Body.substr(0, 3), "FLV");
  EXPECT_NE(whole.Head.find("Accept-Ranges: bytes"), std::string::npos);
  EXPECT_NE(whole.Head.find("Last-Modified: "), std::string::npos);
  auto part = Fetch(Site.Url("/seg/5-1.flv"), {"-r", "100-"});
  EXPECT_NE(part.Head.find("206"), std::string::npos);
  EXPECT_EQ(part.Body, whole.Body.substr(100));

  Site.Configure({{"faults", {{"/seg/5-1.flv", {{"no_range", true}}}, {"/seg/5-2.flv", {{"drop_after", 50}}}}}});
  auto ignored = Fetch(Site.Url("/seg/5-1.flv"), {"-r", "100-"});
  EXPECT_NE(ignored.Head.find("200 OK"), std::string::npos);
  EXPECT_EQ(ignored.Head.find("Accept-Ranges"), std::string::npos);
  EXPECT_EQ(ignored.Body, whole.Body);
  auto dropped = Fetch(Site.Url("/seg/5-2.flv"));
  EXPECT_NE(dropped.Exit, 0);
  EXPECT_EQ(dropped.Body.size(), 50u);

  // A recording in the segment folder is served in its place, ranges included.
  zvtest::WriteFile(Site.SegmentFolder() + "/5-3.flv", "FLV recorded");
  EXPECT_EQ(Fetch(Site.Url("/seg/5-3.flv")).Body, "FLV recorded");
  EXPECT_EQ(Fetch(Site.Url("/seg/5-3.flv"), {"-r", "4-"}).Body, "recorded");
  EXPECT_EQ(Fetch(Site.Url("/seg/5-4.flv")).Body.substr(0, 3), "FLV");
}
