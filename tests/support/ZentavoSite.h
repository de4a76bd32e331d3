#pragma once
// The local stand-in of the Zentavo site (tests/fixtures/zentavo_site.py) seen from a test: pages
// written into its folder, its behaviour set by a JSON configuration, and the log of what it got.
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/SiteSettings.h"
#include "tests/support/TestCa.h"
#include "tests/support/TestSupport.h"

namespace zvtest {

class ZentavoSite {
public:
  // With a certificate it also serves HTTPS on a port of its own.
  explicit ZentavoSite(const TestCert* aTlsCert = nullptr);
  ~ZentavoSite();

  std::string Url(const std::string& aPath = "") const;     // http://127.0.0.1:port + path
  std::string TlsUrl(const std::string& aPath = "") const;  // https://127.0.0.1:port + path
  // The application's site settings with the interface and API hosts on this site.
  TSiteSettings Settings(bool aTls = false) const;

  // Serves aText at aPath (e.g. "/www.zentavo.com/video/BV1").
  void AddPage(const std::string& aPath, const std::string& aText);
  // The folder whose <cid>-<i>.flv files are served as those segments instead of made-up ones.
  std::string SegmentFolder() const;
  // The behaviour: play replies, comment limit, faults (see tests/fixtures/README.md).
  void Configure(const nlohmann::json& aConfig);
  // Fills the site with the demo of tests/fixtures/demo_site.py (real videos made by ffmpeg), served
  // at full speed; its pages are at the addresses below.
  void LoadDemo();
  static constexpr const char* DemoOnePart = "https://www.zentavo.com/video/BV1demo1part";
  static constexpr const char* DemoThreeParts = "https://www.zentavo.com/video/BV1demo3parts";
  static constexpr const char* DemoEpisodes = "https://www.zentavo.com/bangumi/play/ss1demo";
  // Every request so far: method, path, query, tls, headers.
  std::vector<nlohmann::json> Requests() const;
  // SHA-256 (hex) of the segment the site serves for cid and index with aTags video tags.
  static std::string SegmentSha256(const std::string& aCid, int aIndex, int aTags = 200);

private:
  TempDir FDir;
  std::unique_ptr<ChildProcess> FServer;
  int FPort = 0;
  int FTlsPort = 0;
};

}  // namespace zvtest
