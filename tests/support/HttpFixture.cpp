#include "tests/support/HttpFixture.h"

#include "tests/support/ZLibReference.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

namespace zvtest {

namespace {

std::string Base64(const std::string& aData) {
  std::string out(4 * ((aData.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(aData.data()), int(aData.size()));
  out.resize(size_t(n));
  return out;
}

FixtureStep Step(const nlohmann::json& aJson) { return {aJson.dump()}; }

std::string StepsJson(const std::vector<FixtureStep>& aSteps) {
  std::string json = "[";
  for (size_t i = 0; i < aSteps.size(); ++i) json += (i ? "," : "") + aSteps[i].Json;
  return json + "]";
}

}  // namespace

namespace fx {
FixtureStep Send(const std::string& aBytes, int aSplit, int aDelayMs) {
  return Step({{"op", "send"}, {"data", Base64(aBytes)}, {"split", aSplit}, {"delay", aDelayMs / 1000.0}});
}
FixtureStep Sleep(int aMs) { return Step({{"op", "sleep"}, {"seconds", aMs / 1000.0}}); }
FixtureStep Close() { return Step({{"op", "close"}}); }
FixtureStep Reset() { return Step({{"op", "reset"}}); }
FixtureStep ReadBody() { return Step({{"op", "read_body"}}); }
FixtureStep StartTls() { return Step({{"op", "starttls"}}); }
FixtureStep Serve(const std::string& aFile, const ServeOptions& aOptions) {
  return Step({{"op", "serve"},
               {"file", aFile},
               {"range", aOptions.IgnoreRange ? "ignore" : "honour"},
               {"accept_ranges", aOptions.AcceptRanges},
               {"shift", aOptions.Shift},
               {"short", aOptions.Short},
               {"drop_after", aOptions.DropAfter},
               {"stall_after", aOptions.StallAfter},
               {"split", aOptions.Split},
               {"delay", aOptions.DelayMs / 1000.0}});
}
}  // namespace fx

static size_t HeadLength(const std::string& aRaw) {
  size_t crlf = aRaw.find("\r\n\r\n");
  size_t lf = aRaw.find("\n\n");
  if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) return crlf + 4;
  return lf == std::string::npos ? aRaw.size() : lf + 2;
}

std::string RecordedRequest::Head() const { return Raw.substr(0, HeadLength(Raw)); }
std::string RecordedRequest::Body() const { return Raw.substr(HeadLength(Raw)); }
std::string RecordedRequest::RequestLine() const { return Raw.substr(0, Raw.find("\r\n")); }

std::string RecordedRequest::Field(const std::string& aName) const {
  std::istringstream lines(Head());
  std::string line;
  while (std::getline(lines, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon != aName.size()) continue;
    bool same = true;
    for (size_t i = 0; i < colon && same; ++i)
      same = std::tolower(static_cast<unsigned char>(line[i])) == std::tolower(static_cast<unsigned char>(aName[i]));
    if (!same) continue;
    size_t start = line.find_first_not_of(' ', colon + 1);
    size_t end = line.find_last_not_of("\r ");
    return start == std::string::npos || end < start ? std::string() : line.substr(start, end - start + 1);
  }
  return {};
}

HttpFixture::HttpFixture(const TestCert* aTlsCert) {
  std::vector<std::string> args{"--state", FState.Path()};
  if (aTlsCert) args.insert(args.end(), {"--cert", aTlsCert->ChainFile, "--key", aTlsCert->KeyFile});
  std::string first;
  FProcess = StartFixture("http_server.py", args, first);
  if (std::sscanf(first.c_str(), "PORTS %d %d", &FPort, &FTlsPort) != 2)
    throw std::runtime_error("http fixture said: " + first);
}

HttpFixture::~HttpFixture() = default;

std::string HttpFixture::Url(const std::string& aPath) const { return "http://" + HostPort() + aPath; }
std::string HttpFixture::TlsUrl(const std::string& aPath) const {
  return "https://localhost:" + std::to_string(FTlsPort) + aPath;
}
std::string HttpFixture::HostPort() const { return "127.0.0.1:" + std::to_string(FPort); }

void HttpFixture::Queue(const std::string& aJson) {
  char name[32];
  std::snprintf(name, sizeof name, "%06d.json", FQueued++);
  // Written aside and renamed, so the server never reads half a file.
  std::string path = FState.File("queue/") + name;
  WriteFile(path + ".part", aJson);
  std::filesystem::rename(path + ".part", path);
}

void HttpFixture::Script(const std::vector<FixtureStep>& aSteps) {
  Queue("{\"actions\":" + StepsJson(aSteps) + "}");
}

void HttpFixture::Route(const std::string& aPath, const std::vector<FixtureStep>& aSteps, int aTimes,
                        RangeFilter aFilter) {
  const std::string filter = aFilter == rfAny ? "" : aFilter == rfRanged ? ",\"ranged\":true" : ",\"ranged\":false";
  Queue("{\"path\":" + nlohmann::json(aPath).dump() + ",\"times\":" + std::to_string(aTimes) + filter +
        ",\"actions\":" + StepsJson(aSteps) + "}");
}

std::vector<RecordedRequest> HttpFixture::Requests() const {
  std::vector<RecordedRequest> result;
  for (int i = 0;; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "requests/%06d", i);
    std::string base = FState.File(name);
    if (!std::filesystem::exists(base + ".bin")) break;
    auto meta = nlohmann::json::parse(ReadFile(base + ".json"));
    result.push_back({meta["connection"].get<int>(), meta["tls"].get<bool>(), meta.value("time", 0.0),
                      ReadFile(base + ".bin")});
  }
  return result;
}

std::string HttpResponse(int aStatus, const std::string& aReason, const std::vector<std::string>& aHeaders,
                         const std::string& aBody, bool aContentLength) {
  std::string out = "HTTP/1.1 " + std::to_string(aStatus) + " " + aReason + "\r\n";
  for (const auto& h : aHeaders) {
    out += h + "\r\n";
    std::string lower;
    for (char c : h.substr(0, h.find(':'))) lower += char(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "content-length" || lower == "transfer-encoding") aContentLength = false;
  }
  if (aContentLength) out += "Content-Length: " + std::to_string(aBody.size()) + "\r\n";
  return out + "\r\n" + aBody;
}

std::string Chunked(const std::string& aBody, size_t aChunkSize, const std::string& aExtension,
                    const std::vector<std::string>& aTrailer) {
  std::string out;
  char size[32];
  for (size_t pos = 0; pos < aBody.size(); pos += aChunkSize) {
    std::string piece = aBody.substr(pos, aChunkSize);
    std::snprintf(size, sizeof size, "%zx", piece.size());
    out += size + aExtension + "\r\n" + piece + "\r\n";
  }
  out += "0" + aExtension + "\r\n";
  for (const auto& t : aTrailer) out += t + "\r\n";
  return out + "\r\n";
}

std::string Gzip(const std::string& aData) { return zlibref::Compress(aData, Z_BEST_SPEED, 15 + 16); }

}  // namespace zvtest
