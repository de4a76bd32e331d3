#include "http/clCookieManager.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <unordered_map>

#include "http/clHeaderFieldList.h"
#include "http/clHttpDate.h"
#include "http/clUriUtils.h"

namespace {

using Str = TclStringsUtils;

// A domain or host for comparisons: trimmed, lower-cased, with a leading ".".
std::string DottedDomain(const std::string& aDomain) {
  std::string d = Str::LowerCase(Str::Trim(aDomain));
  return !d.empty() && d[0] == '.' ? d : "." + d;
}

bool IsAddress(const std::string& aDottedHost) {
  return aDottedHost.find(':') != std::string::npos ||
         aDottedHost.find_first_not_of(".0123456789") == std::string::npos;
}

// The host is the domain or lies under it, at a label boundary (both dotted).
bool HostBelongsTo(const std::string& aDottedHost, const std::string& aDottedDomain) {
  return aDottedHost == aDottedDomain || (aDottedHost.ends_with(aDottedDomain) && !IsAddress(aDottedHost));
}

// A domain that cookies may not be sent for: too short, empty first label, or a bare "name.".
bool IsRefusedDomain(const std::string& aDottedDomain) {
  return aDottedDomain.size() < 2 || aDottedDomain[1] == '.' ||
         aDottedDomain.find('.', 1) == aDottedDomain.size() - 1;
}

// A flag attribute ("secure", "discard", "port") standing as a word of the lower-cased value;
// the word at the very start is the cookie's name, not a flag.
bool HasFlag(const std::string& aLowerValue, const std::string& aWord) {
  const std::string separators = "\t\n ,;";
  for (size_t pos = aLowerValue.find(aWord, 1); pos != std::string::npos; pos = aLowerValue.find(aWord, pos + 1)) {
    size_t after = pos + aWord.size();
    if (separators.find(aLowerValue[pos - 1]) != std::string::npos &&
        (after == aLowerValue.size() || separators.find(aLowerValue[after]) != std::string::npos))
      return true;
  }
  return false;
}

template <class T>
T NumberOr(const std::string& aText, T aDefault) {
  std::string t = Str::Trim(aText);
  T value{};
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  return ec == std::errc() && end == t.data() + t.size() && !t.empty() ? value : aDefault;
}

bool PortListed(const std::string& aPorts, int32_t aPort) {
  const std::string port = std::to_string(aPort);
  size_t start = 0;
  for (;;) {
    size_t comma = aPorts.find(',', start);
    if (Str::Trim(aPorts.substr(start, comma == std::string::npos ? std::string::npos : comma - start)) == port)
      return true;
    if (comma == std::string::npos) return false;
    start = comma + 1;
  }
}

int CompareText(const std::string& aLeft, const std::string& aRight) {
  return Str::LowerCase(aLeft).compare(Str::LowerCase(aRight));
}

// A NUL, a line break or an escape sequence in a name or value would go back out on the wire.
bool HasControlCharacter(const TclCookieItem& aCookie) {
  auto control = [](unsigned char c) { return c < 0x20 || c == 0x7F; };
  return std::any_of(aCookie.Name().begin(), aCookie.Name().end(), control) ||
         std::any_of(aCookie.Value().begin(), aCookie.Value().end(), control);
}

// Browsers' limits: a response cannot grow the store without bound, nor crowd out other sites
// with one domain's cookies.
constexpr size_t cMaxCookiesPerDomain = 50;
constexpr int32_t cMaxCookies = 3000;

// The stored cookies by name, domain and path (compared without regard to case), and each
// domain's in the order they were stored, so that adding many cookies stays linear.
class TclCookieIndex {
public:
  explicit TclCookieIndex(const TclCookieList& aCookies) {
    for (int32_t i = 0; i < aCookies.Count(); ++i) Add(aCookies.Items(i));
  }
  TclCookieItem* Find(const TclCookieItem& aCookie) const {
    auto found = FByKey.find(Key(aCookie));
    return found == FByKey.end() ? nullptr : found->second;
  }
  void Add(TclCookieItem* aCookie) {
    TEntry entry{Key(*aCookie), DomainKey(*aCookie)};
    FByKey[entry.Key] = aCookie;
    FByDomain[entry.Domain].push_back(aCookie);
    FEntries[aCookie] = std::move(entry);
  }
  void Remove(TclCookieItem* aCookie) {
    auto entry = FEntries.find(aCookie);
    if (entry == FEntries.end()) return;
    FByKey.erase(entry->second.Key);
    auto& domain = FByDomain[entry->second.Domain];
    domain.erase(std::find(domain.begin(), domain.end(), aCookie));
    FEntries.erase(entry);
  }
  // The oldest cookie of aCookie's domain when that domain is full, or null.
  TclCookieItem* OldestOfFullDomain(const TclCookieItem& aCookie) {
    const auto& domain = FByDomain[DomainKey(aCookie)];
    return domain.size() >= cMaxCookiesPerDomain ? domain.front() : nullptr;
  }

private:
  struct TEntry {
    std::string Key, Domain;
  };
  static std::string DomainKey(const TclCookieItem& aCookie) { return Str::LowerCase(aCookie.Domain()); }
  // Lengths first, so that no two different triples give one key.
  static std::string Key(const TclCookieItem& aCookie) {
    return std::to_string(aCookie.Name().size()) + ":" + std::to_string(aCookie.Domain().size()) + ":" +
           Str::LowerCase(aCookie.Name() + aCookie.Domain() + aCookie.Path());
  }

  std::unordered_map<std::string, TclCookieItem*> FByKey;
  std::unordered_map<std::string, std::deque<TclCookieItem*>> FByDomain;
  std::unordered_map<TclCookieItem*, TEntry> FEntries;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

void TclCookieItem::SetMaxAge(int64_t aValue) {
  FMaxAge = aValue;
  if (aValue > 0 && FExpires < 0) FExpires = TclDateTime::Now() + double(aValue) / TclDateTime::SecondsPerDay;
}

bool TclCookieItem::IsExpired() const {
  return FMaxAge == 0 || (IsPersistent() && FExpires < TclDateTime::Now());
}

// ---------------------------------------------------------------------------------------------

TclCookieItem* TclCookieList::Add() {
  FItems.push_back(std::make_unique<TclCookieItem>());
  return FItems.back().get();
}

TclCookieItem* TclCookieList::Add(const TclCookieItem& aCookie) {
  FItems.push_back(std::make_unique<TclCookieItem>(aCookie));
  return FItems.back().get();
}

TclCookieItem* TclCookieList::Add(const std::string& aName, const std::string& aValue, const std::string& aDomain,
                                  const std::string& aPath) {
  TclCookieItem* item = Add();
  item->SetName(aName);
  item->SetValue(aValue);
  item->SetDomain(aDomain);
  item->SetPath(aPath);
  return item;
}

TclCookieItem* TclCookieList::Add(const std::string& aName, const std::string& aValue, const std::string& aUrl) {
  TclUrlParser url;
  url.Parse(aUrl);
  std::string domain = Str::SameText(url.Host(), "localhost") ? "local" : url.Host();
  if (domain.empty() || domain[0] != '.') domain = "." + domain;
  std::string path = url.AbsolutePath();
  return Add(aName, aValue, domain, path.empty() ? "/" : path);
}

void TclCookieList::Delete(int32_t aIndex) {
  if (aIndex >= 0 && aIndex < Count()) FItems.erase(FItems.begin() + aIndex);
}

TclCookieItem* TclCookieList::CookieByName(const std::string& aName, int32_t aStartFrom) const {
  for (int32_t i = std::max(aStartFrom, 0); i < Count(); ++i)
    if (Str::SameText(FItems[size_t(i)]->Name(), aName)) return FItems[size_t(i)].get();
  return nullptr;
}

void TclCookieList::Sort() {
  std::stable_sort(FItems.begin(), FItems.end(), [](const auto& a, const auto& b) {
    int byName = CompareText(a->Name(), b->Name());
    return byName != 0 ? byName < 0 : CompareText(a->Path(), b->Path()) > 0;
  });
}

void TclCookieList::GetResponseCookies(const TStrings& aResponseHeader, const std::string& aDomain,
                                       const std::string& aPath, int32_t aPort) {
  Clear();
  TStrings lines = aResponseHeader;
  TclHeaderFieldList fields;
  fields.Parse(0, &lines);
  for (size_t i = 0; i < fields.FieldList().size(); ++i) {
    const std::string& name = fields.FieldList()[i].Name;
    if (name != "set-cookie" && name != "set-cookie2") continue;
    std::string value = fields.GetFieldValue(int32_t(i));
    if (value.empty()) continue;
    TclCookieItem* item = Add();
    if (!ReadSetCookie(*item, value, name == "set-cookie2", aDomain, aPath, aPort) || HasControlCharacter(*item))
      Delete(Count() - 1);
  }
}

bool TclCookieList::ReadSetCookie(TclCookieItem& aItem, const std::string& aValue, bool aVersion2,
                                  const std::string& aDomain, const std::string& aPath, int32_t aPort) {
  const std::string lower = Str::LowerCase(aValue);
  size_t equals = aValue.find('=');
  if (equals == std::string::npos) {
    aItem.SetName(aValue);
  } else {
    TclHeaderFieldList items;
    std::string name = Str::Trim(aValue.substr(0, equals));
    aItem.SetName(name);
    aItem.SetValue(items.GetFieldValueItem(aValue, Str::LowerCase(name)));

    // The date runs to the next ";": its commas belong to it. Hyphens between its parts are
    // read by the date reader, which keeps the sign of a numeric zone.
    size_t expires = lower.find("expires=");
    if (expires != std::string::npos) {
      std::string text = lower.substr(expires + 8);
      text = Str::Trim(text.substr(0, text.find(';')));
      if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
      TDateTime date;
      if (!text.empty() && TclHttpDate::TryRead(text, date)) aItem.SetExpires(date);
    }
    aItem.SetDomain(items.GetFieldValueItem(aValue, "domain"));
    aItem.SetPath(items.GetFieldValueItem(aValue, "path"));
    aItem.SetComment(items.GetFieldValueItem(aValue, "comment"));
    aItem.SetCommentURL(items.GetFieldValueItem(aValue, "commenturl"));
    aItem.SetPort(items.GetFieldValueItem(aValue, "port"));
    // Through the setter, so that an Expires read above wins over Max-Age.
    aItem.SetMaxAge(NumberOr<int64_t>(items.GetFieldValueItem(aValue, "max-age"), -1));
    aItem.SetVersion(NumberOr<int32_t>(items.GetFieldValueItem(aValue, "version"), 0));
    aItem.SetSecure(HasFlag(lower, "secure"));
    aItem.SetDiscard(HasFlag(lower, "discard"));
    if (aItem.Port().empty() && HasFlag(lower, "port")) aItem.SetPort(std::to_string(aPort));
  }
  aItem.SetCookieData(aValue);
  aItem.SetFormat(aVersion2 ? cfRFC2965 : aItem.Version() == 1 ? cfRFC2109 : cfNetscape);

  std::string domain = Str::Trim(aItem.Domain());
  if (domain.empty()) {
    domain = Str::Trim(aDomain);
  } else {
    // A response may set cookies only for its own host or a domain above it, never for a
    // bare top-level name.
    const std::string wanted = DottedDomain(domain), host = DottedDomain(aDomain);
    if (!HostBelongsTo(host, wanted) || (wanted != host && wanted.find('.', 1) == std::string::npos)) return false;
  }
  aItem.SetDomain(!domain.empty() && domain[0] == '.' ? domain : "." + domain);
  std::string path = Str::Trim(aItem.Path().empty() ? aPath : aItem.Path());
  aItem.SetPath(path.empty() ? "/" : path);
  return true;
}

void TclCookieList::SetRequestCookies(TStrings& aRequestHeader) const {
  TclHeaderFieldList fields;
  fields.Parse(0, &aRequestHeader);
  while (fields.GetFieldIndex("cookie") >= 0) fields.RemoveField("cookie");
  if (FItems.empty()) return;
  std::string value;
  for (const auto& item : FItems) value += (value.empty() ? "" : "; ") + item->Name() + "=" + item->Value();
  fields.AddField("Cookie", value);
}

// ---------------------------------------------------------------------------------------------

bool TclCookieManager::DeleteCookie(int32_t aIndex) {
  bool allow = true;
  if (OnDeleteCookie) OnDeleteCookie(this, FCookies.Items(aIndex), allow);
  if (allow) FCookies.Delete(aIndex);
  return allow;
}

void TclCookieManager::DeleteWhere(const std::function<bool(const TclCookieItem&)>& aCondition) {
  for (int32_t i = FCookies.Count() - 1; i >= 0; --i)
    if (aCondition(*FCookies.Items(i))) DeleteCookie(i);
}

void TclCookieManager::Clear() {
  std::lock_guard lock(FAccessor);
  DeleteWhere([](const TclCookieItem&) { return true; });
}

void TclCookieManager::ClearExpired() {
  std::lock_guard lock(FAccessor);
  DeleteWhere([](const TclCookieItem& c) { return c.IsExpired(); });
}

void TclCookieManager::ClearNonPersistent() {
  std::lock_guard lock(FAccessor);
  DeleteWhere([](const TclCookieItem& c) { return !c.IsPersistent(); });
}

void TclCookieManager::AddCookies(const TclCookieList& aCookies) {
  std::lock_guard lock(FAccessor);
  ClearExpired();
  TclCookieIndex index(FCookies);
  auto deleteStored = [&](TclCookieItem* aStored) {
    const int32_t at = IndexOf(aStored);
    index.Remove(aStored);
    if (DeleteCookie(at)) return true;
    index.Add(aStored);
    return false;
  };
  for (int32_t n = 0; n < aCookies.Count(); ++n) {
    TclCookieItem cookie = *aCookies.Items(n);
    if (HasControlCharacter(cookie)) continue;
    TclCookieItem* stored = index.Find(cookie);
    bool allow = true;
    if (!stored) {
      if (OnAddCookie) OnAddCookie(this, &cookie, allow);
      if (!allow) continue;
      // Room is made by dropping the oldest cookie of the domain, or else the oldest of all; a
      // handler that keeps that one keeps the new cookie out.
      TclCookieItem* oldest = index.OldestOfFullDomain(cookie);
      if (!oldest && FCookies.Count() >= cMaxCookies) oldest = FCookies.Items(0);
      if (oldest && !deleteStored(oldest)) continue;
      index.Add(FCookies.Add(cookie));
    } else if (cookie.IsExpired()) {
      deleteStored(stored);
    } else {
      if (OnUpdateCookie) OnUpdateCookie(this, stored, &cookie, allow);
      if (allow) *stored = cookie;
    }
  }
}

int32_t TclCookieManager::IndexOf(const TclCookieItem* aCookie) const {
  for (int32_t i = 0; i < FCookies.Count(); ++i)
    if (FCookies.Items(i) == aCookie) return i;
  return -1;
}

bool TclCookieManager::Matches(const TclCookieItem& aCookie, const std::string& aDomain, const std::string& aPath,
                               int32_t aPort, bool aSecure) {
  const std::string domain = DottedDomain(aCookie.Domain());
  if (domain != ".local" && !HostBelongsTo(DottedDomain(aDomain), domain)) return false;
  if (IsRefusedDomain(domain)) return false;
  const std::string path = Str::LowerCase(aCookie.Path().empty() ? "/" : aCookie.Path());
  if (!Str::LowerCase(aPath.empty() ? "/" : aPath).starts_with(path)) return false;
  if (!aCookie.Port().empty() && !PortListed(aCookie.Port(), aPort)) return false;
  return !aCookie.Secure() || aSecure;
}

void TclCookieManager::GetCookies(TclCookieList& aCookies, const std::string& aDomain, const std::string& aPath,
                                  int32_t aPort, bool aSecure) {
  std::lock_guard lock(FAccessor);
  ClearExpired();
  aCookies.Clear();
  for (int32_t i = 0; i < FCookies.Count(); ++i) {
    TclCookieItem* cookie = FCookies.Items(i);
    if (cookie->IsExpired()) continue;  // kept by an OnDeleteCookie handler, still not sent
    bool allow = Matches(*cookie, aDomain, aPath, aPort, aSecure);
    if (OnAcceptCookie) OnAcceptCookie(this, cookie, aDomain, aPath, aPort, aSecure, allow);
    if (allow) aCookies.Add(*cookie);
  }
  aCookies.Sort();
}
