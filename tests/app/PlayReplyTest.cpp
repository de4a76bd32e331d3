// Play-address requests and replies without the network: the request addresses, and what each
// shape of reply writes into its row.
#include <gtest/gtest.h>

#include "app/HeadlessPlatform.h"
#include "app/MainForm.h"

namespace {

class PlayReplies : public ::testing::Test {
protected:
  PlayReplies() {
    for (std::string number : {"01", "02", "03"}) Form.lv2.Add(number, {"part", "10" + number, "", "", ""});
  }
  // The row as "caption|addresses|quality|count".
  std::string Row(int aRow) const {
    return Form.lv2.ItemCaption(aRow) + "|" + Form.lv2.SubItem(aRow, 2) + "|" + Form.lv2.SubItem(aRow, 3) + "|" +
           Form.lv2.SubItem(aRow, 4);
  }

  static TSiteSettings Hosts() {
    TSiteSettings settings;
    settings.InterfaceHost = "https://if.test";
    settings.ApiHost = "https://api.test";
    return settings;
  }

  THeadlessPlatform Platform;
  TForm1 Form{Platform, Hosts()};
};

}  // namespace

TEST_F(PlayReplies, RequestAddressesSignQn80WhateverQualityIsAsked) {
  Form.PageKind = 1;
  Form.QualityCode = "64";
  EXPECT_EQ(Form.PlayRequestAddress("101"),
            "https://if.test/v2/playurl?appkey=6c1f0a93d2e4b785&cid=101&otype=json&qn=64"
            "&sign=60e72e2dbecec0efaef248588ea2047b");
  Form.PageKind = 2;
  EXPECT_EQ(Form.PlayRequestAddress("101"), "https://api.test/pgc/player/web/playurl?otype=json&cid=101&qn=64");
}

TEST_F(PlayReplies, OrdinaryReplies) {
  struct TCase {
    std::string Reply, Row;
  } cases[] = {
      {R"({"quality":80,"durl":[{"order":2,"url":"b"},{"order":1,"url":"a"},{"order":3,"url":"c"}]})", "01|a|b|c|1080P|3"},
      {R"({"quality":"64","durl":[{"order":1,"url":"http://h/x.flv"}]})", "01|http://h/x.flv|720P|1"},
      {R"({"quality":32,"durl":[{"order":1,"url":"a"}]})", "01|a|480P|1"},
      {R"({"quality":16,"durl":[{"order":1,"url":"a"}]})", "01|a|360P|1"},
      {R"({"quality":116,"durl":[{"order":1,"url":"a"}]})", "01|a||1"},
      {R"({"durl":[{"order":1,"url":"a"}]})", "01|a||1"},  // no quality: no quality name
      // No usable answer.
      {R"({"quality":80,"durl":[]})", "×|||"},
      {R"({"quality":80,"durl":[{"order":1,"url":""}]})", "×|||"},
      {R"({"code":-404,"message":"啥都木有"})", "×|||"},
      {R"(not json "url":")", "×|||"},
      {R"([{"order":1,"url":"a"}])", "×|||"},
      {R"({"durl":{"order":1,"url":"a"}})", "×|||"},
      // An element that names no slot of its own, or lacks its address, spoils the reply: the
      // part could not be downloaded whole.
      {R"({"durl":[{"order":1,"url":"a"},{"order":3,"url":"c"}]})", "×|||"},
      {R"({"durl":[{"order":0,"url":"a"}]})", "×|||"},
      {R"({"durl":[{"order":-1,"url":"a"},{"order":1,"url":"b"}]})", "×|||"},
      {R"({"durl":[{"order":18446744073709551615,"url":"a"}]})", "×|||"},
      {R"({"durl":[{"order":1,"url":"a"},{"order":1,"url":"b"}]})", "×|||"},
      {R"({"durl":[{"order":"1","url":"a"}]})", "×|||"},
      {R"({"durl":[{"order":1.5,"url":"a"}]})", "×|||"},
      {R"({"durl":[{"order":1}]})", "×|||"},
      {R"({"durl":[{"order":1,"url":7}]})", "×|||"},
      {R"({"quality":80,"durl":[{"order":1,"url":""},{"order":2,"url":"b"}]})", "×|||"},
      {R"({"durl":[7]})", "×|||"},
  };
  for (const auto& c : cases) {
    Form.lv2.SetItemCaption(0, "01");
    for (int column = 2; column <= 4; ++column) Form.lv2.SetSubItem(0, column, "");
    Form.ParsePlayReply(c.Reply, 0);
    EXPECT_EQ(Row(0), c.Row) << c.Reply;
  }
  EXPECT_EQ(Row(1), "02|||") << "other rows untouched";
}

TEST_F(PlayReplies, EpisodeRepliesCarryTheDataInResult) {
  Form.ParseEpisodePlayReply(R"({"code":0,"result":{"quality":64,"durl":[{"order":2,"url":"b"},{"order":1,"url":"a"}]}})", 1);
  EXPECT_EQ(Row(1), "02|a|b|720P|2");
  Form.ParseEpisodePlayReply(R"({"quality":64,"durl":[{"order":1,"url":"a"}]})", 2);
  EXPECT_EQ(Row(2), "×|||");
  Form.ParseEpisodePlayReply(R"({"result":[]})", 0);
  EXPECT_EQ(Row(0), "×|||");
  // A row that no longer exists is not written.
  Form.ParsePlayReply(R"({"durl":[{"order":1,"url":"a"}]})", 7);
  EXPECT_EQ(Form.lv2.Count(), 3);
}
