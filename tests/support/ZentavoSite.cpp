#include "tests/support/ZentavoSite.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/FfmpegTools.h"

namespace zvtest {

ZentavoSite::ZentavoSite(const TestCert* aTlsCert) {
  std::vector<std::string> args{"--dir", FDir.Path()};
  if (aTlsCert) args.insert(args.end(), {"--cert", aTlsCert->ChainFile, "--key", aTlsCert->KeyFile});
  std::string ports;
  FServer = StartFixture("zentavo_site.py", args, ports);
  if (std::sscanf(ports.c_str(), "PORTS %d %d", &FPort, &FTlsPort) != 2) throw std::runtime_error("site: " + ports);
}

ZentavoSite::~ZentavoSite() = default;

std::string ZentavoSite::Url(const std::string& aPath) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + aPath;
}

std::string ZentavoSite::TlsUrl(const std::string& aPath) const {
  return "https://127.0.0.1:" + std::to_string(FTlsPort) + aPath;
}

TSiteSettings ZentavoSite::Settings(bool aTls) const {
  TSiteSettings settings;
  settings.InterfaceHost = settings.ApiHost = aTls ? TlsUrl() : Url();
  return settings;
}

void ZentavoSite::AddPage(const std::string& aPath, const std::string& aText) {
  std::filesystem::path file = std::filesystem::path(FDir.Path()) / "pages" / aPath.substr(aPath.find_first_not_of('/'));
  std::filesystem::create_directories(file.parent_path());
  WriteFile(file.string(), aText);
}

std::string ZentavoSite::SegmentFolder() const {
  std::filesystem::path folder = std::filesystem::path(FDir.Path()) / "segments";
  std::filesystem::create_directories(folder);
  return folder.string();
}

void ZentavoSite::Configure(const nlohmann::json& aConfig) {
  // Written aside and renamed in, so the server never reads half a file.
  std::string file = FDir.File("site.json");
  WriteFile(file + ".tmp", aConfig.dump());
  std::filesystem::rename(file + ".tmp", file);
}

void ZentavoSite::LoadDemo() {
  auto [status, pages] = Shell("/usr/bin/python3 " + ShellQuote(SourceDir() + "/tests/fixtures/demo_site.py") +
                               " --pace 0 --dir " + ShellQuote(FDir.Path()));
  if (status != 0) throw std::runtime_error("demo site: " + pages);
}

std::vector<nlohmann::json> ZentavoSite::Requests() const {
  std::vector<nlohmann::json> requests;
  std::ifstream log(FDir.File("requests.log"));
  for (std::string line; std::getline(log, line);)
    if (!line.empty()) requests.push_back(nlohmann::json::parse(line));
  return requests;
}

std::string ZentavoSite::SegmentSha256(const std::string& aCid, int aIndex, int aTags) {
  const std::string code =
      "import hashlib, sys; sys.path.insert(0, sys.argv[1]); import zentavo_site; "
      "print(hashlib.sha256(zentavo_site.flv_segment(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))).hexdigest())";
  ChildProcess python({"/usr/bin/python3", "-c", code, SourceDir() + "/tests/fixtures", aCid, std::to_string(aIndex),
                       std::to_string(aTags)});
  return python.ReadLine();
}

}  // namespace zvtest
