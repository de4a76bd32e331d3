// Listing: turns the text of a video page into the rows of lv2, one per part or main episode. The
// page is read with plain substring searches; the exact cuts below decide what unusual pages give.
#include <map>

#include "app/MainForm.h"
#include "app/TextRoutines.h"
#include "common/clTranslator.h"

namespace {

constexpr const char* kNoAddress = "视频地址不能为空！";
constexpr const char* kNotTheSite = "播放地址可能不正确！";
constexpr const char* kNoData = "暂时无法获取数据！";
constexpr const char* kNoVideoInfo = "未能获取视频信息！";
constexpr const char* kNothingFound = "取不到任何信息，可能网站已经改版，您可以稍候再试试！";

// Where the quoted value starting at aFrom ends: the first double quote that no backslash escapes.
size_t ClosingQuote(std::string_view aText, size_t aFrom) {
  for (size_t at = aText.find_first_of("\\\"", aFrom); at != std::string_view::npos;
       at = aText.find_first_of("\\\"", at + 2))
    if (aText[at] == '"') return at;
  return std::string_view::npos;
}

// Page text consumed from the front. Each search remembers where its key occurs next, so a long
// page is scanned once per key rather than once per row.
class TPageText {
public:
  explicit TPageText(std::string_view aText) : FText(aText) {}

  // Consumes everything up to and including the first aKey; without aKey, the first aMissing characters.
  void SkipPast(const std::string& aKey, size_t aMissing) {
    size_t at = Find(aKey);
    Skip(at == std::string_view::npos ? aMissing : at - FStart + aKey.size());
  }
  bool Contains(const std::string& aKey) { return Find(aKey) != std::string_view::npos; }
  // The characters before the next aStop; empty when there is none.
  std::string Before(const std::string& aStop) {
    size_t at = Find(aStop);
    return at == std::string_view::npos ? std::string() : std::string(FText.substr(FStart, at - FStart));
  }
  // The quoted value that starts here, up to its closing quote; empty when it is never closed.
  std::string Value() const {
    size_t at = ClosingQuote(FText, FStart);
    return at == std::string_view::npos ? std::string() : std::string(FText.substr(FStart, at - FStart));
  }
  std::string FirstCharacter() const { return std::string(FText.substr(FStart, 1)); }

private:
  size_t Find(const std::string& aKey) {
    auto known = FNext.find(aKey);
    if (known != FNext.end() && (known->second == std::string_view::npos || known->second >= FStart))
      return known->second;
    size_t at = FText.find(aKey, FStart);
    FNext[aKey] = at;
    return at;
  }
  void Skip(size_t aCount) { FStart += std::min(aCount, FText.size() - FStart); }

  std::string_view FText;
  size_t FStart = 0;
  std::map<std::string, size_t> FNext;
};

std::string Unescaped(const std::string& aText) {
  return aText.find("\\u") != std::string::npos ? UnescapeJson(aText) : aText;
}

// Spaces and control characters off both ends.
std::string Trimmed(const std::string& aText) {
  size_t begin = 0, end = aText.size();
  while (begin < end && static_cast<unsigned char>(aText[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(aText[end - 1]) <= ' ') --end;
  return aText.substr(begin, end - begin);
}

// Deletes everything up to and including the first character of aKey's first occurrence;
// false (and aPage unchanged) when aKey does not occur.
bool CutBefore(std::string& aPage, const std::string& aKey) {
  size_t at = aPage.find(aKey);
  if (at == std::string::npos) return false;
  aPage.erase(0, at + 1);
  return true;
}

}  // namespace

void TForm1::btn1Click(TButton* Sender) {
  lv2.Clear();
  edt3.SetVisible(false);  // the hint line goes with the first listing
  const std::string address = edt1.Text();  // as typed, spaces included
  if (address.empty()) {
    FPlatform.ShowMessage(kNoAddress);
    return;
  }
  if (address.find("." + FSite.DomainLabel + ".") == std::string::npos) {
    FPlatform.ShowMessage(kNotTheSite);
    return;
  }
  // Disabled until the listing has ended, so pending events cannot start another one.
  btn1.SetEnabled(false);
  lv2.SetEnabled(false);
  static const char* const kQualityCodes[] = {"80", "64", "32", "16"};
  int quality = cbb4.ItemIndex();
  QualityCode = kQualityCodes[quality >= 0 && quality < 4 ? quality : 0];
  std::string page = FetchPage(FSite.PageAddress(address));
  if (page.empty()) {
    FPlatform.ShowMessage(kNoData);
    btn1.SetEnabled(true);
    lv2.SetEnabled(true);
    return;
  }
  if (ListPage(std::move(page))) StartPlayRequests();
}

std::string TForm1::FetchPage(const std::string& aAddress) {
  TMemoryStream body;
  try {
    clhtp1.Get(aAddress, &body);
  } catch (const std::exception&) {
    // Connection, TLS, protocol and status errors all mean: no page.
    return std::string();
  }
  return TclTranslator::GetString(body.Data(), "utf-8");
}

bool TForm1::ListPage(std::string aPage) {
  PageKind = 0;
  std::string title;
  size_t titleAt = aPage.find("\"title\":\"");
  if (titleAt != std::string::npos) {
    size_t begin = titleAt + 9, end = ClosingQuote(aPage, begin);
    title = end == std::string::npos ? std::string() : Unescaped(aPage.substr(begin, end - begin));
  }
  if (CutBefore(aPage, "\"pages\":[{")) PageKind = 1;
  // Checked on what step one left: an episode list only counts after the first parts array.
  if (CutBefore(aPage, "\"epList\":[{")) PageKind = 2;
  if (PageKind == 0) {
    FPlatform.ShowMessage(kNoVideoInfo);
    btn1.SetEnabled(true);
    lv2.SetEnabled(true);
    return false;
  }
  size_t close = aPage.find("}]");
  aPage.resize(close == std::string::npos ? 0 : close + 1);
  if (PageKind == 1)
    AddPageRows(aPage, title);
  else
    AddEpisodeRows(aPage, title);

  if (lv2.Count() == 0) {
    FPlatform.ShowMessage(kNothingFound);
    btn1.SetEnabled(true);
    lv2.SetEnabled(true);
    return false;
  }
  if (lv2.Count() == 1 && !title.empty()) lv2.SetSubItem(0, 0, title);
  for (int i = 0; i < lv2.Count(); ++i) {
    std::string number = PadNumber(lv2.Count(), i);
    lv2.SetItemCaption(i, number);
    if (chk4.Checked()) lv2.SetSubItem(i, 0, number);
    FPlatform.ProcessPendingEvents();
  }
  return true;
}

void TForm1::AddPageRows(std::string_view aPage, const std::string& aTitle) {
  TPageText page(aPage);
  while (page.Contains("\"cid\":")) {
    page.SkipPast("\"cid\":", 0);
    std::string cid = page.Before(",");
    page.SkipPast("\"part\":\"", 7);
    std::string part = page.Value();
    std::string name = !part.empty() ? Unescaped(part) : !aTitle.empty() ? aTitle : cid;
    lv2.Add("", {name, cid, "", "", ""});
    FPlatform.ProcessPendingEvents();
  }
}

void TForm1::AddEpisodeRows(std::string_view aPage, const std::string& aTitle) {
  TPageText page(aPage);
  while (page.Contains("\"cid\":")) {
    page.SkipPast("\"cid\":", 0);
    std::string cid = page.Before(",");
    std::string section = "0";
    std::string name;
    if (!chk4.Checked()) {
      page.SkipPast("\"titleFormat\":\"", 14);
      std::string titleFormat = page.Value();
      page.SkipPast("\"longTitle\":\"", 12);
      name = Trimmed(page.Value());
      page.SkipPast("\"sectionType\":", 13);
      section = page.FirstCharacter();
      name = !name.empty() ? Unescaped(name) : !aTitle.empty() ? aTitle : cid;
      // The episode's own number text is used as cut, without unescaping.
      if (!titleFormat.empty()) name += " " + titleFormat;
    }
    if (section == "0") lv2.Add("", {name, cid, "", "", ""});
    FPlatform.ProcessPendingEvents();
  }
}
