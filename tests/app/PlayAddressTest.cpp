// Play addresses asked for by the listing, through the engine, from the local site's two
// interfaces.
#include <gtest/gtest.h>

#include <set>

#include "app/HeadlessPlatform.h"
#include "app/MainForm.h"
#include "tests/support/AppWaits.h"
#include "tests/support/ZentavoSite.h"

namespace {

const std::string kPage = "/www.zentavo.com/video/BV1";

std::string VideoPage(const std::vector<std::string>& aCids) {
  std::string page = "{\"data\":{\"title\":\"Opening\",\"pages\":[";
  for (size_t i = 0; i < aCids.size(); ++i)
    page.append(i ? "," : "").append("{\"cid\":" + aCids[i] + ",\"part\":\"p" + std::to_string(i) + "\"}");
  return page + "]}}";
}

class PlayAddresses : public ::testing::Test {
protected:
  PlayAddresses() {
    Form.clMdloader2.SetTryCount(2);
    Form.clMdloader2.SetReconnectAfter(10);
  }
  // Lists aPage and waits until every row has its answer.
  void List(const std::string& aPage) {
    Site.AddPage(kPage, aPage);
    Form.edt1.SetText(Site.Url(kPage));
    Form.btn1.Click();
    EXPECT_FALSE(Form.btn1.Enabled());
    ASSERT_TRUE(zvtest::ServeUntil(Platform, [&] { return Form.btn1.Enabled(); }));
    EXPECT_TRUE(Form.lv2.Enabled());
    EXPECT_TRUE(Platform.Messages.empty());
  }
  // The row as "caption|addresses|quality|count", the addresses by their segment names.
  std::string Row(int aRow) const {
    std::string addresses = Form.lv2.SubItem(aRow, 2);
    for (size_t at; (at = addresses.find(Site.Url("/seg/"))) != std::string::npos;)
      addresses.erase(at, Site.Url("/seg/").size());
    return Form.lv2.ItemCaption(aRow) + "|" + addresses + "|" + Form.lv2.SubItem(aRow, 3) + "|" +
           Form.lv2.SubItem(aRow, 4);
  }
  std::vector<nlohmann::json> PlayRequests() const {
    std::vector<nlohmann::json> requests;
    for (const auto& request : Site.Requests())
      if (request["path"] != kPage) requests.push_back(request);
    return requests;
  }

  zvtest::ZentavoSite Site;
  THeadlessPlatform Platform;
  TForm1 Form{Platform, Site.Settings()};
};

}  // namespace

TEST_F(PlayAddresses, EveryRowOfAnOrdinaryPageGetsItsSegments) {
  Site.Configure({{"play",
                   {{"101", {{"segments", 3}, {"order", {2, 1, 3}}}},
                    {"102", {{"quality", 116}}},
                    {"103", {{"reply", R"({"code":-404,"message":"啥都木有"})"}}}}}});
  Form.cbb4.SetItemIndex(1);  // 720p
  List(VideoPage({"101", "102", "103", "104", "104"}));
  EXPECT_EQ(Row(0), "1|101-1.flv?expires=1|101-2.flv?expires=1|101-3.flv?expires=1|720P|3");
  EXPECT_EQ(Row(1), "2|102-1.flv?expires=1||1");
  EXPECT_EQ(Row(2), "×|||");
  EXPECT_EQ(Row(3), "4|104-1.flv?expires=1|720P|1");
  EXPECT_EQ(Row(4), "5|104-1.flv?expires=1|720P|1");

  // Signed over qn=80 (the site refuses anything else), asking for 64; desktop agent, shared header.
  std::set<std::string> cids;
  for (const auto& request : PlayRequests()) {
    cids.insert(request["query"]["cid"].get<std::string>());
    EXPECT_EQ(request["path"], "/v2/playurl");
    EXPECT_EQ(request["query"]["qn"], "64");
    EXPECT_EQ(request["query"]["appkey"], "6c1f0a93d2e4b785");
    EXPECT_EQ(request["headers"]["Referer"], "https://www.zentavo.com");
    EXPECT_EQ(request["headers"]["User-Agent"].get<std::string>().substr(0, 23), "Mozilla/5.0 (Windows NT");
  }
  EXPECT_EQ(cids, (std::set<std::string>{"101", "102", "103", "104"}));
  EXPECT_EQ(Form.clMdloader2.DownLoadList().Count(), 0) << "finished requests are freed";
}

TEST_F(PlayAddresses, EpisodePagesAskTheApiHostWithoutSignature) {
  Site.Configure({{"play", {{"301", {{"segments", 2}, {"quality", 32}}}}}});
  List(R"({"mediaInfo":{"title":"Show"},"epList":[)"
       R"({"cid":301,"titleFormat":"第1话","longTitle":"A","sectionType":0},)"
       R"({"cid":302,"titleFormat":"第2话","longTitle":"B","sectionType":0}],"sections":[]})");
  EXPECT_EQ(Row(0), "1|301-1.flv?expires=1|301-2.flv?expires=1|480P|2");
  EXPECT_EQ(Row(1), "2|302-1.flv?expires=1|1080P|1");
  for (const auto& request : PlayRequests()) {
    EXPECT_EQ(request["path"], "/pgc/player/web/playurl");
    EXPECT_FALSE(request["query"].contains("sign"));
  }
}

TEST_F(PlayAddresses, ASecondListingMatchesRepliesToItsOwnRows) {
  List(VideoPage({"101", "102", "103"}));
  Site.Configure({{"play", {{"202", {{"segments", 2}}}}}});
  List(VideoPage({"201", "202"}));
  ASSERT_EQ(Form.lv2.Count(), 2);
  EXPECT_EQ(Row(0), "1|201-1.flv?expires=1|1080P|1");
  EXPECT_EQ(Row(1), "2|202-1.flv?expires=1|202-2.flv?expires=1|1080P|2");
}

TEST_F(PlayAddresses, FailedRequestsMarkTheirRows) {
  Site.Configure({{"faults", {{"/v2/playurl", {{"status", 503}}}}}});
  List(VideoPage({"101", "102"}));
  EXPECT_EQ(Row(0), "×|||");
  EXPECT_EQ(Row(1), "×|||");
}

TEST_F(PlayAddresses, AWindowClosedWhileRepliesArriveStopsItsRequests) {
  Site.Configure({{"faults", {{"/v2/playurl", {{"rate", 20}}}}}});
  Site.AddPage(kPage, VideoPage({"101", "102"}));
  {
    TForm1 closing{Platform, Site.Settings()};
    closing.edt1.SetText(Site.Url(kPage));
    closing.btn1.Click();
    // Until the replies trickle into their buffers.
    ASSERT_TRUE(zvtest::ServeUntil(Platform, [&] { return PlayRequests().size() >= 4; }));
    zvtest::ServeUntil(Platform, [] { return false; }, 300);
  }
  EXPECT_TRUE(Platform.Messages.empty());
}
