// The listing command against the local site: the page request, its failures and its messages.
#include <gtest/gtest.h>

#include "app/HeadlessPlatform.h"
#include "app/MainForm.h"
#include "tests/support/AppWaits.h"
#include "tests/support/ZentavoSite.h"

#include <cstdlib>

namespace {

const std::string kPage = "/www.zentavo.com/video/BV1";
const std::string kOnePart = "{\"data\":{\"title\":\"Opening\",\"pages\":[{\"cid\":101,\"part\":\"p1\"}]}}";

// The client trusts the test CA for the whole test.
struct TTrustedCa {
  zvtest::TestCa Ca;
  TTrustedCa() { setenv("SSL_CERT_FILE", Ca.CertFile().c_str(), 1); }
  ~TTrustedCa() { unsetenv("SSL_CERT_FILE"); }
};

class ListingCommand : public ::testing::Test {
protected:
  ListingCommand() { Site.AddPage(kPage, kOnePart); }

  // Types aAddress, clicks "解析" and returns the messages shown.
  std::vector<std::string> List(const std::string& aAddress) {
    Platform.Messages.clear();
    Form.edt1.SetText(aAddress);
    Form.btn1.Click();
    // Listed rows keep the button disabled until their play addresses have come.
    EXPECT_TRUE(zvtest::ServeUntil(Platform, [&] { return Form.btn1.Enabled(); }));
    EXPECT_TRUE(Form.lv2.Enabled());
    return Platform.Messages;
  }

  TTrustedCa Trust;
  zvtest::TestCert Cert = Trust.Ca.Server();
  zvtest::ZentavoSite Site{&Cert};
  THeadlessPlatform Platform;
  TForm1 Form{Platform, Site.Settings(true)};
};

}  // namespace

TEST_F(ListingCommand, ListsThePageWithTheSharedRequestHeader) {
  EXPECT_TRUE(Form.edt3.Visible());
  EXPECT_TRUE(List(Site.TlsUrl(kPage)).empty());
  ASSERT_EQ(Form.lv2.Count(), 1);
  EXPECT_EQ(Form.lv2.SubItem(0, 0), "Opening");
  EXPECT_EQ(Form.lv2.SubItem(0, 1), "101");
  EXPECT_FALSE(Form.edt3.Visible());
  EXPECT_EQ(Form.QualityCode, "80");

  auto request = Site.Requests().front();
  EXPECT_EQ(request["path"], kPage);
  EXPECT_EQ(request["method"], "GET");
  EXPECT_TRUE(request["tls"]);
  EXPECT_EQ(request["headers"]["Accept"], "*/*");
  EXPECT_EQ(request["headers"]["Referer"], "https://www.zentavo.com");
  EXPECT_EQ(request["headers"]["User-Agent"], "Mozilla/5.0 (iPhone; CPU iPhone OS 9_1 like Mac OS X)");

  // A second listing replaces the first; the quality follows cbb4.
  Form.cbb4.SetItemIndex(1);
  List(Site.TlsUrl(kPage));
  EXPECT_EQ(Form.lv2.Count(), 1);
  EXPECT_EQ(Form.QualityCode, "64");
}

TEST_F(ListingCommand, RedirectedCompressedAndChunkedPagesAreListed) {
  Site.Configure({{"faults", {{"/moved", {{"redirect", kPage}}}, {kPage, {{"gzip", true}, {"chunked", true}}}}}});
  EXPECT_TRUE(List(Site.TlsUrl("/moved?.zentavo.")).empty());
  ASSERT_EQ(Form.lv2.Count(), 1);
  EXPECT_EQ(Form.lv2.SubItem(0, 0), "Opening");
}

TEST_F(ListingCommand, TellsTheUserWhatWentWrong) {
  zvtest::TestCert selfSigned = Trust.Ca.SelfSigned();
  zvtest::ZentavoSite stranger{&selfSigned};
  stranger.AddPage(kPage, kOnePart);
  Site.AddPage("/www.zentavo.com/video/plain", "<html>no video here</html>");
  Site.Configure({{"faults", {{"/www.zentavo.com/video/gone", {{"status", 404}}}}}});
  Form.lv2.Add("old", {"row", "1", "", "", ""});
  struct TCase {
    std::string Address, Message;
  } cases[] = {
      {"", "视频地址不能为空！"},
      {Site.TlsUrl("/www.Zentavo.com/video/BV1"), "播放地址可能不正确！"},  // the label in other case
      {Site.TlsUrl("/www.zentavo.com/video/gone"), "暂时无法获取数据！"},
      {"https://127.0.0.1:1/www.zentavo.com/video/BV1", "暂时无法获取数据！"},  // nobody listens
      {stranger.TlsUrl("/www.zentavo.com/video/BV1"), "暂时无法获取数据！"},     // certificate not trusted
      {Site.TlsUrl("/www.zentavo.com/video/plain"), "未能获取视频信息！"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(List(c.Address), std::vector<std::string>{c.Message}) << c.Address;
    EXPECT_EQ(Form.lv2.Count(), 0) << c.Address;
  }
}

TEST_F(ListingCommand, UsesTheAddressAsTyped) {
  Site.AddPage(kPage + " ", "{\"title\":\"With a space\",\"pages\":[{\"cid\":7,\"part\":\"x\"}]}");
  EXPECT_TRUE(List(Site.TlsUrl(kPage) + " ").empty());
  ASSERT_EQ(Form.lv2.Count(), 1);
  EXPECT_EQ(Form.lv2.SubItem(0, 0), "With a space");
}

TEST_F(ListingCommand, AByteThatIsNoUtf8LosesOnlyItself) {
  // A Latin-1 "é" just before the end of the parts array: the characters after it still count.
  Site.AddPage(kPage, "{\"title\":\"T\",\"pages\":[{\"cid\":1,\"part\":\"a\"},{\"cid\":2,\"part\":\"caf\xE9\"}]}");
  EXPECT_TRUE(List(Site.TlsUrl(kPage)).empty());
  ASSERT_EQ(Form.lv2.Count(), 2);
  EXPECT_EQ(Form.lv2.SubItem(1, 0), "caf\uFFFD");
}

// ZENTAVO_SITE sends the page, play-address and comment requests of the site's own addresses to one
// stand-in server.
TEST(SiteOverride, SiteAddressesGoToTheNamedServer) {
  struct Case { const char* Base; std::string Address, Fetched; };
  const Case cases[] = {
      {nullptr, "https://www.zentavo.com/video/BV1", "https://www.zentavo.com/video/BV1"},
      {"", "https://www.zentavo.com/video/BV1", "https://www.zentavo.com/video/BV1"},
      {"http://127.0.0.1:8080/", "https://www.zentavo.com/video/BV1", "http://127.0.0.1:8080/www.zentavo.com/video/BV1"},
      {"http://127.0.0.1:8080", "www.zentavo.com/bangumi/play/ep7", "http://127.0.0.1:8080/www.zentavo.com/bangumi/play/ep7"},
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080/www.zentavo.com/video/BV1", "http://127.0.0.1:8080/www.zentavo.com/video/BV1"},
  };
  for (const Case& c : cases) {
    if (c.Base) setenv("ZENTAVO_SITE", c.Base, 1); else unsetenv("ZENTAVO_SITE");
    TSiteSettings site = TSiteSettings::FromEnvironment();
    EXPECT_EQ(site.PageAddress(c.Address), c.Fetched) << (c.Base ? c.Base : "(unset)");
    bool overridden = c.Base && *c.Base;
    EXPECT_EQ(site.ApiHost, overridden ? "http://127.0.0.1:8080" : "https://api.zentavo.com");
    EXPECT_EQ(site.InterfaceHost, overridden ? "http://127.0.0.1:8080" : "https://interface.zentavo.com");
    EXPECT_EQ(site.MainAddress, "https://www.zentavo.com");  // the Referer stays the site's
  }
  unsetenv("ZENTAVO_SITE");
}

TEST(SiteOverride, TheSitesOwnAddressIsListedFromTheStandIn) {
  zvtest::ZentavoSite site;
  site.AddPage(kPage, kOnePart);
  setenv("ZENTAVO_SITE", site.Url().c_str(), 1);
  THeadlessPlatform platform;
  TForm1 form{platform, TSiteSettings::FromEnvironment()};
  unsetenv("ZENTAVO_SITE");
  form.edt1.SetText("https://www.zentavo.com/video/BV1");
  form.btn1.Click();
  ASSERT_TRUE(zvtest::ServeUntil(platform, [&] { return form.btn1.Enabled(); }));
  EXPECT_TRUE(platform.Messages.empty());
  ASSERT_EQ(form.lv2.Count(), 1);
  EXPECT_EQ(form.lv2.SubItem(0, 0), "Opening");
  EXPECT_EQ(site.Requests().front()["path"], kPage);
}
