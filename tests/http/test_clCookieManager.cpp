#include "http/clCookieManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "http/clHttpDate.h"

namespace {

// The single cookie that one Set-Cookie field gives for a response from aHost.
TclCookieList Read(const std::string& aField, const std::string& aHost = "www.example.com",
                   const std::string& aTarget = "/x/y?z=1", int32_t aPort = 8080) {
  TclCookieList list;
  list.GetResponseCookies({"HTTP/1.1 200 OK", aField, "Content-Length: 0"}, aHost, aTarget, aPort);
  return list;
}

TDateTime DateOf(const char* aText) {
  TDateTime d = 0;
  EXPECT_TRUE(TclHttpDate::TryRead(aText, d)) << aText;
  return d;
}

std::string Names(const TclCookieList& aList) {
  std::string s;
  for (int32_t i = 0; i < aList.Count(); ++i) s += (s.empty() ? "" : " ") + aList.Items(i)->Name() + "=" + aList.Items(i)->Value();
  return s;
}

// Stores the aCount cookies c0=0, c1=1, ... of one response; returns the seconds that took.
double StoreResponse(TclCookieManager& aManager, int aCount) {
  TStrings response = {"HTTP/1.1 200 OK"};
  for (int i = 0; i < aCount; ++i) response.push_back("Set-Cookie: c" + std::to_string(i) + "=" + std::to_string(i));
  const auto start = std::chrono::steady_clock::now();
  TclCookieList cookies;
  cookies.GetResponseCookies(response, "h.example.com", "/", 80);
  aManager.AddCookies(cookies);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(TclCookieList, DefaultsComeFromTheRequest) {
  TclCookieList list = Read("Set-Cookie: a=1");
  ASSERT_EQ(list.Count(), 1);
  const TclCookieItem& c = *list.Items(0);
  EXPECT_EQ(c.Name(), "a");
  EXPECT_EQ(c.Value(), "1");
  EXPECT_EQ(c.Domain(), ".www.example.com");
  EXPECT_EQ(c.Path(), "/x/y?z=1");
  EXPECT_EQ(c.CookieData(), "a=1");
  EXPECT_EQ(c.Format(), cfNetscape);
  EXPECT_FALSE(c.IsPersistent());
  EXPECT_EQ(c.MaxAge(), -1);

  list.GetResponseCookies({"Set-Cookie: b=2", "X-Other: 1", "set-cookie2: c=3; Version=1", "Set-Cookie:"}, "h", "", 80);
  EXPECT_EQ(Names(list), "b=2 c=3");
  EXPECT_EQ(list.Items(0)->Path(), "/");
  EXPECT_EQ(list.Items(1)->Format(), cfRFC2965);
}

TEST(TclCookieList, ReadsEveryAttribute) {
  const TDateTime june9 = DateOf("Wed, 09 Jun 2021 10:18:14 GMT");
  struct TCase {
    const char* Field;
    std::function<void(const TclCookieItem&)> Check;
  } cases[] = {
      {"Set-Cookie: id=\"abc\"; Domain=example.com; Path=/docs; Secure; HttpOnly",
       [](const TclCookieItem& c) {
         EXPECT_EQ(c.Value(), "abc");
         EXPECT_EQ(c.Domain(), ".example.com");
         EXPECT_EQ(c.Path(), "/docs");
         EXPECT_TRUE(c.Secure());
       }},
      {"Set-Cookie: a=1; expires=Wed, 09-Jun-2021 10:18:14 GMT; path=/",
       [&](const TclCookieItem& c) { EXPECT_NEAR(c.Expires(), june9, 1e-7); }},
      {"Set-Cookie: a=1; Expires=Wed, 09 Jun 2021 18:18:14 +0800",
       [&](const TclCookieItem& c) { EXPECT_NEAR(c.Expires(), june9, 1e-7); }},
      {"Set-Cookie: a=1; Expires=Wed, 09-Jun-2021 05:18:14 -0500",
       [&](const TclCookieItem& c) { EXPECT_NEAR(c.Expires(), june9, 1e-7); }},
      {"Set-Cookie: a=1; expires=Wednesday, 09-Jun-21 10:18:14 GMT",
       [](const TclCookieItem& c) { EXPECT_NEAR(c.Expires(), DateOf("09 Jun 1921 10:18:14 GMT"), 1e-7); }},
      {"Set-Cookie: a=1; expires=soon",
       [](const TclCookieItem& c) {
         EXPECT_EQ(c.Expires(), -1);
         EXPECT_FALSE(c.IsPersistent());
       }},
      {"Set-Cookie: a=1; Max-Age=3600",
       [](const TclCookieItem& c) {
         EXPECT_EQ(c.MaxAge(), 3600);
         EXPECT_NEAR(c.Expires(), TclDateTime::Now() + 3600 / 86400.0, 60 / 86400.0);
         EXPECT_FALSE(c.IsExpired());
       }},
      {"Set-Cookie: a=1; expires=Thu, 01 Jan 2015 00:00:00 GMT; Max-Age=3600",
       [](const TclCookieItem& c) {
         EXPECT_NEAR(c.Expires(), DateOf("01 Jan 2015 00:00:00 GMT"), 1e-7);
         EXPECT_TRUE(c.IsExpired());
       }},
      {"Set-Cookie: a=1; Max-Age=0", [](const TclCookieItem& c) { EXPECT_TRUE(c.IsExpired()); }},
      {"Set-Cookie: a=1; max-age=soon; version=x",
       [](const TclCookieItem& c) {
         EXPECT_EQ(c.MaxAge(), -1);
         EXPECT_EQ(c.Version(), 0);
       }},
      {"Set-Cookie: a=1; Version=1; Comment=\"why\"; CommentURL=\"http://h/c\"; Discard",
       [](const TclCookieItem& c) {
         EXPECT_EQ(c.Format(), cfRFC2109);
         EXPECT_EQ(c.Comment(), "why");
         EXPECT_EQ(c.CommentURL(), "http://h/c");
         EXPECT_TRUE(c.Discard());
       }},
      {"Set-Cookie: a=1; Port=\"8080,8443\"", [](const TclCookieItem& c) { EXPECT_EQ(c.Port(), "8080,8443"); }},
      {"Set-Cookie: a=1; Port", [](const TclCookieItem& c) { EXPECT_EQ(c.Port(), "8080"); }},
      {"Set-Cookie: token=insecure; secure", [](const TclCookieItem& c) { EXPECT_TRUE(c.Secure()); }},
      {"Set-Cookie: token=insecure", [](const TclCookieItem& c) { EXPECT_FALSE(c.Secure()); }},
      {"Set-Cookie: secure=1", [](const TclCookieItem& c) { EXPECT_FALSE(c.Secure()); }},
      {"Set-Cookie: flag",
       [](const TclCookieItem& c) {
         EXPECT_EQ(c.Name(), "flag");
         EXPECT_EQ(c.Value(), "");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Field);
    TclCookieList list = Read(c.Field);
    ASSERT_EQ(list.Count(), 1);
    c.Check(*list.Items(0));
  }
}

TEST(TclCookieList, ResponseMaySetCookiesOnlyForItsOwnDomain) {
  struct {
    const char* Domain;
    const char* Host;
    bool Kept;
  } cases[] = {
      {".example.com", "www.example.com", true},
      {"example.com", "example.com", true},
      {"WWW.Example.com", "www.example.COM", true},
      {"example.com", "www.example.com.attacker.net", false},
      {"attacker.net", "www.example.com", false},
      {"ample.com", "www.example.com", false},
      {"com", "www.example.com", false},
      {"localhost", "localhost", true},
      {"127.0.0.1", "127.0.0.1", true},
      {"0.0.1", "127.0.0.1", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Read(std::string("Set-Cookie: a=1; Domain=") + c.Domain, c.Host).Count(), c.Kept ? 1 : 0)
        << c.Domain << " from " << c.Host;
}

TEST(TclCookieList, SetRequestCookiesReplacesEveryCookieField) {
  TclCookieList list;
  list.Add("a", "1", ".h", "/");
  list.Add("b", "2", ".h", "/");
  TStrings header = {"GET / HTTP/1.1", "Cookie: old=1", "Accept: */*", "cookie: old=2"};
  list.SetRequestCookies(header);
  EXPECT_EQ(header, (TStrings{"GET / HTTP/1.1", "Accept: */*", "Cookie: a=1; b=2"}));
  TclCookieList().SetRequestCookies(header);
  EXPECT_EQ(header, (TStrings{"GET / HTTP/1.1", "Accept: */*"}));
}

TEST(TclCookieList, AddFromUrlCookieByNameAndSort) {
  TclCookieList list;
  TclCookieItem* local = list.Add("s", "1", "http://localhost:8080/a/b?c=1");
  EXPECT_EQ(local->Domain(), ".local");
  EXPECT_EQ(local->Path(), "/a/b?c=1");
  EXPECT_EQ(list.Add("t", "1", "https://www.example.com")->Path(), "/");
  list.Add("B", "2", ".h", "/");
  list.Add("a", "3", ".h", "/");
  list.Add("b", "4", ".h", "/Docs");
  EXPECT_EQ(list.CookieByName("b")->Value(), "2");
  EXPECT_EQ(list.CookieByName("b", 3)->Value(), "4");
  EXPECT_EQ(list.CookieByName("zz"), nullptr);
  list.Sort();
  EXPECT_EQ(Names(list), "a=3 b=4 B=2 s=1 t=1");
}

TEST(TclCookieManager, SelectsTheCookiesOfARequest) {
  TclCookieManager manager;
  TclCookieList stored;
  stored.Add("a", "root", ".example.com", "/");
  stored.Add("a", "docs", ".example.com", "/docs");
  stored.Add("s", "1", ".example.com", "/")->SetSecure(true);
  stored.Add("p", "1", ".example.com", "/")->SetPort("8080, 8443");
  stored.Add("l", "1", ".local", "/");
  stored.Add("short", "1", ".com.", "/");
  stored.Add("dot", "1", "..com", "/");
  manager.AddCookies(stored);
  ASSERT_EQ(manager.Cookies().Count(), 7);

  struct {
    const char* Host;
    const char* Path;
    int32_t Port;
    bool Secure;
    const char* Expected;
  } cases[] = {
      {"www.example.com", "/docs/page", 80, false, "a=docs a=root l=1"},
      {"www.example.com", "/DOCS/page", 8443, true, "a=docs a=root l=1 p=1 s=1"},
      {"example.com", "/other", 8080, false, "a=root l=1 p=1"},
      {"www.example.com", "/xdocs", 80, false, "a=root l=1"},
      {"www.example.com.attacker.net", "/docs", 80, true, "l=1"},
      {"notexample.com", "/", 80, true, "l=1"},
      {"com.", "/", 80, false, "l=1"},
  };
  for (const auto& c : cases) {
    TclCookieList cookies;
    manager.GetCookies(cookies, c.Host, c.Path, c.Port, c.Secure);
    EXPECT_EQ(Names(cookies), c.Expected) << c.Host << c.Path << " " << c.Port;
  }

  manager.OnAcceptCookie = [](TclCookieManager*, TclCookieItem* aCookie, const std::string&, const std::string&,
                              int32_t, bool, bool& aAllow) { aAllow = aAllow && aCookie->Name() != "l"; };
  TclCookieList cookies;
  manager.GetCookies(cookies, "www.example.com", "/", 80, false);
  EXPECT_EQ(Names(cookies), "a=root");
}

TEST(TclCookieManager, AddsUpdatesAndDeletesThroughItsEvents) {
  TclCookieManager manager;
  std::string log;
  bool allowAdd = true;
  manager.OnAddCookie = [&](TclCookieManager*, TclCookieItem* c, bool& aAllow) {
    log += "add " + c->Name() + ";";
    aAllow = allowAdd;
  };
  manager.OnUpdateCookie = [&](TclCookieManager*, TclCookieItem* aOld, TclCookieItem* aNew, bool& aAllow) {
    log += "update " + aOld->Value() + ">" + aNew->Value() + ";";
    EXPECT_TRUE(aAllow);
  };
  manager.OnDeleteCookie = [&](TclCookieManager*, TclCookieItem* c, bool& aAllow) { log += "delete " + c->Name() + ";"; };

  auto respond = [&](const std::string& aField) { manager.AddCookies(Read(aField, "h.example.com", "/")); };
  allowAdd = false;
  respond("Set-Cookie: a=1");
  EXPECT_EQ(manager.Cookies().Count(), 0);
  allowAdd = true;
  respond("Set-Cookie: a=1");
  respond("Set-Cookie: A=2; path=/");  // the same cookie: names compare without regard to case
  ASSERT_EQ(manager.Cookies().Count(), 1);
  EXPECT_EQ(manager.Cookies().Items(0)->Value(), "2");
  respond("Set-Cookie: a=3; Max-Age=0");
  EXPECT_EQ(manager.Cookies().Count(), 0);
  EXPECT_EQ(log, "add a;add a;update 1>2;delete A;");  // the update took the new name's case

  // Already expired on arrival (Expires read first wins over Max-Age): never sent.
  respond("Set-Cookie: old=1; expires=Thu, 01 Jan 2015 00:00:00 GMT; Max-Age=3600");
  TclCookieList cookies;
  manager.GetCookies(cookies, "h.example.com", "/", 80, false);
  EXPECT_EQ(cookies.Count(), 0);
  EXPECT_EQ(manager.Cookies().Count(), 0);

  respond("Set-Cookie: session=1");
  respond("Set-Cookie: kept=1; Max-Age=3600");
  manager.ClearNonPersistent();
  EXPECT_EQ(Names(manager.Cookies()), "kept=1");
  manager.OnDeleteCookie = [](TclCookieManager*, TclCookieItem*, bool& aAllow) { aAllow = false; };
  manager.Clear();
  EXPECT_EQ(manager.Cookies().Count(), 1);
  manager.OnDeleteCookie = nullptr;
  manager.Clear();
  EXPECT_EQ(manager.Cookies().Count(), 0);
}

TEST(TclCookieManager, KeepsFiftyCookiesPerDomainAndTakesThousandsInLinearTime) {
  TclCookieManager few, manager;
  const double fewSeconds = StoreResponse(few, 3000);
  const double manySeconds = StoreResponse(manager, 30000);
  // Ten times the cookies take about ten times as long; looking each one up among all stored ones
  // took a hundred times as long (8 s for 30,000). Measured against the same build and machine.
  EXPECT_LT(manySeconds, 30 * fewSeconds + 0.5) << fewSeconds;

  // The newest fifty stay, in the order they came.
  ASSERT_EQ(manager.Cookies().Count(), 50);
  EXPECT_EQ(Names(manager.Cookies()).substr(0, 23), "c29950=29950 c29951=299");
  // Replacing a stored cookie drops nothing.
  manager.AddCookies(Read("Set-Cookie: C29950=new", "h.example.com", "/"));
  ASSERT_EQ(manager.Cookies().Count(), 50);
  EXPECT_EQ(manager.Cookies().Items(0)->Value(), "new");
  manager.AddCookies(Read("Set-Cookie: late=1", "h.example.com", "/"));
  EXPECT_EQ(manager.Cookies().Items(0)->Name(), "c29951");
  EXPECT_EQ(manager.Cookies().Items(49)->Name(), "late");
}

TEST(TclCookieManager, KeepsThreeThousandCookiesInAll) {
  TclCookieList cookies;
  for (int domain = 0; domain < 100; ++domain)
    for (int i = 0; i < 40; ++i)
      cookies.Add("n" + std::to_string(i), "v", ".d" + std::to_string(domain) + ".example.com", "/");
  TclCookieManager manager;
  std::string deleted;
  manager.OnDeleteCookie = [&](TclCookieManager*, TclCookieItem* aCookie, bool&) {
    if (deleted.empty()) deleted = aCookie->Domain();
  };
  manager.AddCookies(cookies);
  // The oldest thousand are gone, and each departure was told.
  ASSERT_EQ(manager.Cookies().Count(), 3000);
  EXPECT_EQ(manager.Cookies().Items(0)->Domain(), ".d25.example.com");
  EXPECT_EQ(deleted, ".d0.example.com");
  TclCookieList sent;
  manager.GetCookies(sent, "d24.example.com", "/", 80, false);
  EXPECT_EQ(sent.Count(), 0);
  manager.GetCookies(sent, "d99.example.com", "/", 80, false);
  EXPECT_EQ(sent.Count(), 40);
}

TEST(TclCookieManager, IgnoresCookiesWithControlCharacters) {
  const std::string fields[] = {
      std::string("Set-Cookie: a=x\0y", 18), "Set-Cookie: a\x01" "b=1", "Set-Cookie: a=x\x7Fy",
      "Set-Cookie: a=x\x1B[2Jy; Path=/",
  };
  for (const auto& field : fields) EXPECT_EQ(Read(field).Count(), 0) << field;

  TclCookieList made;
  made.Add("a", std::string("x\0y", 3), ".h.example.com", "/");
  made.Add("b", "fine", ".h.example.com", "/");
  TclCookieManager manager;
  manager.AddCookies(made);
  EXPECT_EQ(Names(manager.Cookies()), "b=fine");
}

TEST(TclCookieManager, ServesClientsOnSeveralThreads) {
  TclCookieManager manager;
  std::vector<std::thread> clients;
  for (int t = 0; t < 4; ++t)
    clients.emplace_back([&manager, t] {
      for (int i = 0; i < 200; ++i) {
        manager.AddCookies(Read("Set-Cookie: c" + std::to_string(t) + "=" + std::to_string(i), "h.example.com", "/"));
        TclCookieList cookies;
        manager.GetCookies(cookies, "h.example.com", "/", 80, false);
        EXPECT_NE(cookies.CookieByName("c" + std::to_string(t)), nullptr);
      }
    });
  for (auto& c : clients) c.join();
  manager.BeginUpdate();  // the lock is recursive: operations inside the bracket take it again
  TclCookieList all;
  manager.GetCookies(all, "h.example.com", "/", 80, false);
  EXPECT_EQ(Names(all), "c0=199 c1=199 c2=199 c3=199");
  manager.EndUpdate();
}
