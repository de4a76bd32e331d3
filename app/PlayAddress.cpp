// Play addresses: one request per listed row to the site's play-address interfaces, and the
// segment addresses, quality and segment count of each reply written into the row.
#include <nlohmann/json.hpp>
#include <optional>

#include "app/MainForm.h"
#include "common/clTranslator.h"
#include "http/clMd5.h"

namespace {

constexpr const char* kAppKey = "6c1f0a93d2e4b785";
constexpr const char* kAppSecret = "a3d9e1f07b6c2845e0d9c3b1f4a6e8d2";

std::string QualityName(const nlohmann::json& aQuality) {
  std::string code = aQuality.is_string() ? aQuality.get<std::string>()
                     : aQuality.is_number_integer() ? aQuality.dump()
                                                    : std::string();
  if (code == "80") return "1080P";
  if (code == "64") return "720P";
  if (code == "32") return "480P";
  if (code == "16") return "360P";
  return std::string();
}

struct TPlayData {
  std::string Addresses;  // in "order", joined with "|"
  std::string QualityName;
  size_t Count;
};

// The play data of a reply's data object. Every element of "durl" must be usable (an object with a
// non-empty text "url" and an integer "order" naming a slot of its own in 1..N): a part with a
// segment missing cannot be downloaded whole, so such a reply counts as no answer.
std::optional<TPlayData> ReadPlayData(const nlohmann::json& aData) {
  if (!aData.is_object()) return std::nullopt;
  auto durl = aData.find("durl");
  if (durl == aData.end() || !durl->is_array() || durl->empty()) return std::nullopt;
  const size_t count = durl->size();
  std::vector<std::optional<std::string>> slots(count);
  for (const auto& element : *durl) {
    if (!element.is_object()) return std::nullopt;
    auto order = element.find("order");
    auto url = element.find("url");
    if (order == element.end() || !order->is_number_integer() || url == element.end() || !url->is_string() ||
        url->get_ref<const std::string&>().empty())
      return std::nullopt;
    int64_t slot = order->get<int64_t>();
    if (slot < 1 || static_cast<uint64_t>(slot) > count || slots[slot - 1]) return std::nullopt;
    slots[slot - 1] = url->get<std::string>();
  }
  TPlayData data{std::string(), QualityName(aData.value("quality", nlohmann::json())), count};
  for (const auto& slot : slots) data.Addresses += (data.Addresses.empty() ? "" : "|") + *slot;
  return data;
}

}  // namespace

std::string TForm1::PlayRequestAddress(const std::string& aCid) const {
  if (PageKind == 2)
    return FSite.ApiHost + "/pgc/player/web/playurl?otype=json&cid=" + aCid + "&qn=" + QualityCode;
  // The signature always covers qn=80, whatever quality the request asks for.
  std::string sign = Md5Hex(std::string("appkey=") + kAppKey + "&cid=" + aCid + "&otype=json&qn=80" + kAppSecret);
  return FSite.InterfaceHost + "/v2/playurl?appkey=" + kAppKey + "&cid=" + aCid + "&otype=json&qn=" + QualityCode +
         "&sign=" + sign;
}

void TForm1::ParsePlayReply(const std::string& aText, int aRow) {
  WritePlayData(nlohmann::json::parse(aText, nullptr, false), aRow);
}

void TForm1::ParseEpisodePlayReply(const std::string& aText, int aRow) {
  nlohmann::json reply = nlohmann::json::parse(aText, nullptr, false);
  WritePlayData(reply.is_object() ? reply.value("result", nlohmann::json()) : nlohmann::json(), aRow);
}

void TForm1::WritePlayData(const nlohmann::json& aData, int aRow) {
  std::optional<TPlayData> data = ReadPlayData(aData);
  if (!data) {
    lv2.SetItemCaption(aRow, "×");
    return;
  }
  lv2.SetSubItem(aRow, 2, data->Addresses);
  lv2.SetSubItem(aRow, 3, data->QualityName);
  lv2.SetSubItem(aRow, 4, std::to_string(data->Count));
}

void TForm1::StartPlayRequests() {
  if (clMdloader2.IsBusy()) {
    clMdloader2.Stop();
    ProcessEventsUntil([&] { return !clMdloader2.IsBusy(); });
  }
  // Ids from 0 again: a reply finds its row by its item's id.
  clMdloader2.DownLoadList().ClearAndResetID();
  for (int row = 0; row < lv2.Count(); ++row) {
    TclDownLoadItem* item = clMdloader2.DownLoadList().Add();
    item->SetThreadCount(1);
    item->SetURL(PlayRequestAddress(lv2.SubItem(row, 1)));
    item->SetHttpRequest(&clhtprqst1);
    item->Start(true);
  }
}

void TForm1::clMdloader2StatusChanged(TclMultiInternetControl* Sender, TclInternetItem* Item, TclProcessStatus Status) {
  // The reply is collected in memory; no file is written.
  if (Status != psProcess || Item->DataStream()) return;
  auto stream = std::make_unique<TMemoryStream>();
  Item->SetDataStream(stream.get());
  FPlayReplies[Item] = std::move(stream);
}

void TForm1::clMdloader2ProcessCompleted(TclMultiInternetControl* Sender, TclInternetItem* Item) {
  const int row = Item->ID();
  std::unique_ptr<TMemoryStream> reply = std::move(FPlayReplies[Item]);
  FPlayReplies.erase(Item);
  if (Item->ResourceState().LastStatus() == psSuccess && reply) {
    std::string text = TclTranslator::GetString(reply->Data(), "utf-8");
    if (text.find("\"url\":\"") == std::string::npos)
      lv2.SetItemCaption(row, "×");
    else if (PageKind == 2)
      ParseEpisodePlayReply(text, row);
    else
      ParsePlayReply(text, row);
  } else {
    lv2.SetItemCaption(row, "×");
  }
  delete Item;
}

void TForm1::clMdloader2IsBusyChanged(TclCustomInternetControl* Sender) {
  if (clMdloader2.IsBusy()) return;
  btn1.SetEnabled(true);
  lv2.SetEnabled(true);
}
