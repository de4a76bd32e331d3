#pragma once
// HTTP cookies between transactions: the cookies of one response or request (TclCookieList),
// and a store that keeps them, drops expired ones and selects those that belong to a request
// (TclCookieManager).
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/clDateTime.h"
#include "common/clLink.h"
#include "common/clStringsUtils.h"

enum TclCookieFormat { cfNetscape, cfRFC2109, cfRFC2965 };

class TclCookieItem {
public:
  bool Secure() const { return FSecure; }
  void SetSecure(bool aValue) { FSecure = aValue; }
  const std::string& Value() const { return FValue; }
  void SetValue(const std::string& aValue) { FValue = aValue; }
  // Local date-time; -1 when not set.
  TDateTime Expires() const { return FExpires; }
  void SetExpires(TDateTime aValue) { FExpires = aValue; }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& aValue) { FName = aValue; }
  // Stored with a leading ".".
  const std::string& Domain() const { return FDomain; }
  void SetDomain(const std::string& aValue) { FDomain = aValue; }
  const std::string& Path() const { return FPath; }
  void SetPath(const std::string& aValue) { FPath = aValue; }
  // The whole Set-Cookie value as received.
  const std::string& CookieData() const { return FCookieData; }
  void SetCookieData(const std::string& aValue) { FCookieData = aValue; }
  bool Discard() const { return FDiscard; }
  void SetDiscard(bool aValue) { FDiscard = aValue; }
  // Seconds; -1 when not set. A positive age sets Expires when that is not set.
  int64_t MaxAge() const { return FMaxAge; }
  void SetMaxAge(int64_t aValue);
  int32_t Version() const { return FVersion; }
  void SetVersion(int32_t aValue) { FVersion = aValue; }
  // Comma-separated port numbers.
  const std::string& Port() const { return FPort; }
  void SetPort(const std::string& aValue) { FPort = aValue; }
  const std::string& CommentURL() const { return FCommentURL; }
  void SetCommentURL(const std::string& aValue) { FCommentURL = aValue; }
  const std::string& Comment() const { return FComment; }
  void SetComment(const std::string& aValue) { FComment = aValue; }
  TclCookieFormat Format() const { return FFormat; }
  void SetFormat(TclCookieFormat aValue) { FFormat = aValue; }

  bool IsPersistent() const { return FExpires > 0 || FExpires < -1; }
  // Max-Age 0, or an expiry that has passed.
  bool IsExpired() const;

private:
  bool FSecure = false;
  std::string FValue;
  TDateTime FExpires = -1.0;
  std::string FName;
  std::string FDomain;
  std::string FPath;
  std::string FCookieData;
  bool FDiscard = false;
  int64_t FMaxAge = -1;
  int32_t FVersion = 0;
  std::string FPort;
  std::string FCommentURL;
  std::string FComment;
  TclCookieFormat FFormat = cfNetscape;
};

class TclCookieList {
public:
  int32_t Count() const { return int32_t(FItems.size()); }
  TclCookieItem* Items(int32_t aIndex) const { return FItems.at(size_t(aIndex)).get(); }
  TclCookieItem* Add();
  TclCookieItem* Add(const std::string& aName, const std::string& aValue, const std::string& aDomain,
                     const std::string& aPath);
  // Domain from the URL's host with a leading "." ("localhost" becomes "local"), path its AbsolutePath.
  TclCookieItem* Add(const std::string& aName, const std::string& aValue, const std::string& aUrl);
  // A copy of aCookie at the end.
  TclCookieItem* Add(const TclCookieItem& aCookie);
  void Delete(int32_t aIndex);
  void Clear() { FItems.clear(); }
  // The first item from aStartFrom whose name equals aName without regard to case, or null.
  TclCookieItem* CookieByName(const std::string& aName, int32_t aStartFrom = 0) const;
  // By name ascending, equal names by path descending, both without regard to case.
  void Sort();

  // One item per Set-Cookie or Set-Cookie2 field of the response header, in header order, for a
  // response from host aDomain to request target aPath on port aPort. Cookies whose Domain
  // attribute names a domain the host is not part of are left out.
  void GetResponseCookies(const TStrings& aResponseHeader, const std::string& aDomain, const std::string& aPath,
                          int32_t aPort);
  // Replaces the Cookie fields of the request header by one field with every item.
  void SetRequestCookies(TStrings& aRequestHeader) const;

private:
  // Reads one Set-Cookie value; false when the cookie must be ignored.
  bool ReadSetCookie(TclCookieItem& aItem, const std::string& aValue, bool aVersion2, const std::string& aDomain,
                     const std::string& aPath, int32_t aPort);

  std::vector<std::unique_ptr<TclCookieItem>> FItems;
};

class TclCookieManager : public TclLinkTarget {
public:
  using TclCookieEvent = std::function<void(TclCookieManager* aSender, TclCookieItem* aCookie, bool& aAllow)>;
  using TclUpdateCookieEvent = std::function<void(TclCookieManager* aSender, TclCookieItem* aOldCookie,
                                                  TclCookieItem* aNewCookie, bool& aAllow)>;
  using TclAcceptCookieEvent =
      std::function<void(TclCookieManager* aSender, TclCookieItem* aCookie, const std::string& aDomain,
                         const std::string& aPath, int32_t aPort, bool aSecure, bool& aAllow)>;

  const TclCookieList& Cookies() const { return FCookies; }

  // Stores new cookies, replaces those of the same name, domain and path, and deletes those
  // that the new ones expire. Cookies whose name or value holds a control character are ignored.
  // At most 50 cookies per domain and 3,000 in all are kept: the oldest make room.
  void AddCookies(const TclCookieList& aCookies);
  // The stored cookies for a request, in the order of the Cookie field.
  void GetCookies(TclCookieList& aCookies, const std::string& aDomain, const std::string& aPath, int32_t aPort,
                  bool aSecure);
  void Clear();
  void ClearExpired();
  void ClearNonPersistent();
  // Holds the manager's lock over several operations (it is recursive).
  void BeginUpdate() { FAccessor.lock(); }
  void EndUpdate() { FAccessor.unlock(); }

  // Raised on the calling client's thread with the lock held; aAllow arrives preset.
  TclCookieEvent OnAddCookie;
  TclCookieEvent OnDeleteCookie;
  TclUpdateCookieEvent OnUpdateCookie;
  TclAcceptCookieEvent OnAcceptCookie;

private:
  // Deletes a stored cookie unless OnDeleteCookie keeps it; true when it went.
  bool DeleteCookie(int32_t aIndex);
  int32_t IndexOf(const TclCookieItem* aCookie) const;
  void DeleteWhere(const std::function<bool(const TclCookieItem&)>& aCondition);
  static bool Matches(const TclCookieItem& aCookie, const std::string& aDomain, const std::string& aPath,
                      int32_t aPort, bool aSecure);

  TclCookieList FCookies;
  std::recursive_mutex FAccessor;
};
