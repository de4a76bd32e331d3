#include <gtest/gtest.h>

#include <chrono>

#include "http/clUriUtils.h"

namespace {

struct TSplitCase {
  const char* Url;
  const char* Scheme;
  const char* UserName;
  const char* Password;
  const char* Host;
  int32_t Port;
  const char* Path;
  const char* Query;
  const char* Fragment;
  const char* AbsolutePath;
  const char* AbsoluteUri;
};

const TSplitCase cSplitCases[] = {
    {"HTTP://Host/a/b?x=1#top", "http", "", "", "Host", 80, "/a/b", "?x=1", "#top", "/a/b?x=1#top",
     "http://Host/a/b?x=1#top"},
    {"host:8080", "http", "", "", "host", 8080, "", "", "", "/", "http://host:8080/"},
    {"https://u:p@h.example:443/x", "https", "u", "p", "h.example", 443, "/x", "", "", "/x", "https://u:p@h.example/x"},
    {"http://h:443/", "http", "", "", "h", 443, "/", "", "", "/", "http://h:443/"},
    {"http://user@h/", "http", "user", "", "h", 80, "/", "", "", "/", "http://user@h/"},
    {"ftp://h/f.txt", "ftp", "", "", "h", 21, "/f.txt", "", "", "/f.txt", "ftp://h/f.txt"},
    {"mailto:someone", "mailto", "", "", "someone", 0, "", "", "", "", "mailto:someone"},
    // A port that is no number counts as not given.
    {"http://h:abc/p", "http", "", "", "h", 80, "/p", "", "", "/p", "http://h/p"},
    {"http://h:99999999999/p", "http", "", "", "h", 80, "/p", "", "", "/p", "http://h/p"},
    // The first "#" wins over a later "?", and "://" inside the query is not a scheme.
    {"http://h/p#f?q", "http", "", "", "h", 80, "/p", "", "#f?q", "/p#f?q", "http://h/p#f?q"},
    {"http://h/p?u=http://x/", "http", "", "", "h", 80, "/p", "?u=http://x/", "", "/p?u=http://x/",
     "http://h/p?u=http://x/"},
    // Bracketed IPv6 literals keep their colons; the port follows the bracket.
    {"http://[::1]:8080/a", "http", "", "", "[::1]", 8080, "/a", "", "", "/a", "http://[::1]:8080/a"},
    {"https://[::1]/", "https", "", "", "[::1]", 443, "/", "", "", "/", "https://[::1]/"},
    {"*", "http", "", "", "*", 80, "", "", "", "*", "http://*/"},
    {"", "", "", "", "", 0, "", "", "", "", ""},
};

}  // namespace

TEST(UrlParser, SplitsAndRebuildsUrls) {
  for (const auto& c : cSplitCases) {
    SCOPED_TRACE(c.Url);
    TclUrlParser url;
    url.Parse(c.Url);
    EXPECT_EQ(url.Scheme(), c.Scheme);
    EXPECT_EQ(url.UserName(), c.UserName);
    EXPECT_EQ(url.Password(), c.Password);
    EXPECT_EQ(url.Host(), c.Host);
    EXPECT_EQ(url.Port(), c.Port);
    EXPECT_EQ(url.Path(), c.Path);
    EXPECT_EQ(url.QueryString(), c.Query);
    EXPECT_EQ(url.Fragment(), c.Fragment);
    EXPECT_EQ(url.AbsolutePath(), c.AbsolutePath);
    EXPECT_EQ(url.AbsoluteUri(), c.AbsoluteUri);
  }
}

TEST(UrlParser, UrlTypeComparesTheSchemeExactly) {
  TclUrlParser url;
  const std::pair<const char*, TclUrlType> cases[] = {
      {"ftp://h/", utFTP},       {"gopher://h/", utGOPHER}, {"http://h/", utHTTP},  {"HTTPS://h/", utHTTPS},
      {"file://h/", utFILE},     {"news://h/", utNEWS},     {"mailto:x", utMAILTO}, {"ws://h/", utUnknown},
      {"/relative", utUnknown},
  };
  for (const auto& [text, type] : cases) {
    url.Parse(text);
    EXPECT_EQ(url.UrlType(), type) << text;
  }
  url.SetScheme("HTTP");
  EXPECT_EQ(url.UrlType(), utUnknown);
}

TEST(UrlParser, PercentEncodesPathAndQueryOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://h/a b", "/a%20b"},
      {"http://h/%41", "/%41"},
      {"http://h/100%", "/100%25"},
      {"http://h/%4", "/%254"},
      {"http://h/%zz", "/%25zz"},
      {"http://h/~user/", "/%7Euser/"},
      {"http://h/a?q=<\"{|}\\^[]`>", "/a?q=%3C%22%7B%7C%7D%5C%5E%5B%5D%60%3E"},
      {"http://h/p?a=1&b=/:@+$,;=!*'()", "/p?a=1&b=/:@+$,;=!*'()"},
      {"http://h/\xD0\xB6", "/%D0%B6"},
      // A line break can never reach the request line.
      {"http://h/a\r\nX: y", "/a%0D%0AX:%20y"},
      {"http://h/p#a b#c", "/p#a%20b%23c"},
  };
  TclUrlParser url("utf-8");
  for (const auto& [text, path] : cases) {
    url.Parse(text);
    EXPECT_EQ(url.AbsolutePath(), path) << text;
  }
}

TEST(UrlParser, EncodesTextInTheGivenCharSet) {
  EXPECT_EQ(TclUrlParser::EncodeUrl("/\xD0\xB6", "windows-1251"), "/%E6");
  EXPECT_EQ(TclUrlParser::EncodeUrl("/\xE8\xA7\x86", "gbk"), "/%CA%D3");
  EXPECT_EQ(TclUrlParser::EncodeUrl("", "utf-8"), "");
  TclUrlParser url("windows-1251");
  url.Parse("http://h/\xD0\xB6?\xD0\xB6");
  EXPECT_EQ(url.AbsolutePath(), "/%E6?%E6");
}

TEST(UrlParser, WritesNonAsciiHostsInTheirIdnFormPerLabel) {
  TclUrlParser url;
  url.Parse("http://www.b\xC3\xBC" "cher.example:8080/x");
  EXPECT_EQ(url.Host(), "www.b\xC3\xBC" "cher.example");
  EXPECT_EQ(url.AbsoluteUri(), "http://www.xn--bcher-kva.example:8080/x");
}

namespace {

struct TResolveCase {
  const char* Base;
  const char* Relative;
  const char* AbsoluteUri;
};

const TResolveCase cResolveCases[] = {
    {"http://h/a/b/c.html", "../x.html", "http://h/a/x.html"},
    {"http://h/dir/page.html", "img.png", "http://h/dir/img.png"},
    {"http://h/dir/page.html", "img/a.png", "http://h/dir/img/a.png"},
    {"http://h/dir/page.html", "./img/a.png", "http://h/dir/img/a.png"},
    {"http://h:8080/a/b.html", "/root.html", "http://h:8080/root.html"},
    {"http://h/a.html", "../x.html", "http://h/"},
    {"http://h/a/b/c", "../../../../x", "http://h/x"},
    {"http://h/a/b/c", "..", "http://h/a/"},
    {"http://h/a/b/c", ".", "http://h/a/b/"},
    {"http://h/a/b/c", "x/./y/../z?q#f", "http://h/a/b/x/z?q#f"},
    {"http://h/dir/page.html", "https://other/x", "https://other/x"},
    {"https://u:p@h:444/d/p", "q.html", "https://u:p@h:444/d/q.html"},
    // A reference of only a query or a fragment stays on the base document.
    {"http://h/list/index.html?page=1", "?page=2", "http://h/list/index.html?page=2"},
    {"http://h/list/index.html?page=1", "#top", "http://h/list/index.html?page=1#top"},
    {"http://h/list/index.html", "", "http://h/list/index.html"},
    {"", "http://h/x", "http://h/x"},
    {"", "", ""},
};

}  // namespace

TEST(UrlParser, ResolvesReferencesAgainstABase) {
  for (const auto& c : cResolveCases) {
    SCOPED_TRACE(std::string(c.Base) + " + " + c.Relative);
    TclUrlParser url;
    url.Parse(c.Base, c.Relative);
    EXPECT_EQ(url.AbsoluteUri(), c.AbsoluteUri);
  }
}

TEST(UrlParser, ResolvesLongDotSegmentChainsInLinearTime) {
  // Hostile Location values of 250 KB: each is resolved well within a second.
  std::string inAndOut, upwards;
  for (int i = 0; i < 50000; ++i) inAndOut += "x/../";
  for (int i = 0; i < 83333; ++i) upwards += "../";
  const auto start = std::chrono::steady_clock::now();
  TclUrlParser url;
  url.Parse("http://h/a/b", inAndOut + "end");
  EXPECT_EQ(url.AbsoluteUri(), "http://h/a/end");
  url.Parse("http://h/a/b", upwards + "y/z");
  EXPECT_EQ(url.AbsoluteUri(), "http://h/y/z");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(UrlParser, ResolvingKeepsRelativeTextWithoutABase) {
  TclUrlParser url;
  url.Parse("", "../x.html");
  EXPECT_EQ(url.Scheme(), "");
  EXPECT_EQ(url.Host(), "");
  EXPECT_EQ(url.Path(), "../x.html");
}

TEST(UrlParser, ClearAndAssignLeaveTheCharSet) {
  TclUrlParser source("gbk");
  source.Parse("https://u:p@h:81/a?b#c");
  TclUrlParser copy("utf-8");
  copy.Assign(source);
  EXPECT_EQ(copy.AbsoluteUri(), "https://u:p@h:81/a?b#c");
  EXPECT_EQ(copy.CharSet(), "utf-8");
  copy.Clear();
  EXPECT_EQ(copy.AbsoluteUri(), "");
  EXPECT_EQ(copy.Port(), 0);
  EXPECT_EQ(copy.CharSet(), "utf-8");
}

TEST(UrlParser, MapsUrlsToLocalFilesAndBack) {
  TclUrlParser url;
  EXPECT_EQ(url.GetLocalFileByURL("http://h/videos/a.flv?x=1", "/tmp/save"), "/tmp/save/a.flv");
  EXPECT_EQ(url.GetLocalFileByURL("http://h/videos/a.flv", "/tmp/save/"), "/tmp/save/a.flv");
  EXPECT_EQ(url.GetLocalFileByURL("http://h/videos/a.flv", ""), "a.flv");
  EXPECT_EQ(url.GetLocalFileByURL("", "/tmp/save"), "/tmp/save");
  EXPECT_EQ(url.GetURLByLocalFile("http://h/videos/a.flv", "/tmp/save/b.flv"), "http://h/videos/b.flv");
  EXPECT_EQ(url.GetURLByLocalFile("http://h", "b.flv"), "http://h/b.flv");
}
