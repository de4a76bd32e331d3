#pragma once
// The scriptable HTTP/HTTPS fixture server (tests/fixtures/http_server.py) seen from a test:
// each request is answered by the next scripted exchange (or by a route chosen by its path),
// and every request is recorded byte for byte.
#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestCa.h"
#include "tests/support/TestSupport.h"

namespace zvtest {

// One step of a scripted exchange, run after the request has been read.
struct FixtureStep {
  std::string Json;
};

namespace fx {
// Sends aBytes; with aSplit > 0 in pieces of that size, aDelayMs apart.
FixtureStep Send(const std::string& aBytes, int aSplit = 0, int aDelayMs = 0);
FixtureStep Sleep(int aMs);
// Ends the connection: an orderly close, or a reset (RST).
FixtureStep Close();
FixtureStep Reset();
// Reads the request body only here (for interim responses before it); otherwise it is read
// before the first step.
FixtureStep ReadBody();
// Starts TLS as the server on the connection (inside a CONNECT tunnel).
FixtureStep StartTls();

// How Serve answers a request for a file.
struct ServeOptions {
  bool IgnoreRange = false;   // 200 with the whole body, also to ranged requests
  bool AcceptRanges = true;   // send Accept-Ranges: bytes
  int64_t Shift = 0;          // a sent range starts this many bytes from the requested start
  int64_t Short = 0;          // a sent range ends this many bytes before the requested end
  int64_t DropAfter = -1;     // close the connection after this many body bytes
  int64_t StallAfter = -1;    // send this many body bytes, then nothing for 5 s
  int Split = 0;              // send in pieces of this size,
  int DelayMs = 0;            // this far apart
};
// The file's bytes as 206 (Range) or 200, with length, date, type and Accept-Ranges.
FixtureStep Serve(const std::string& aFile, const ServeOptions& aOptions = {});
}  // namespace fx

// Which requests a route answers.
enum RangeFilter { rfAny, rfRanged, rfUnranged };

struct RecordedRequest {
  int Connection = 0;  // 1 for the first connection accepted, and so on
  bool Tls = false;
  double Time = 0;     // arrival, seconds since the epoch
  std::string Raw;     // the request as received, head and body
  std::string Head() const;  // up to and including the empty line
  std::string Body() const;
  std::string RequestLine() const;
  // The value of a header field (name without regard to case), or empty.
  std::string Field(const std::string& aName) const;
};

class HttpFixture {
public:
  // With a certificate (chain and key) it also serves HTTPS on a port of its own.
  explicit HttpFixture(const TestCert* aTlsCert = nullptr);
  ~HttpFixture();

  int Port() const { return FPort; }
  int TlsPort() const { return FTlsPort; }
  std::string Url(const std::string& aPath = "/") const;     // http://127.0.0.1:port + path
  std::string TlsUrl(const std::string& aPath = "/") const;  // https://localhost:port + path
  std::string HostPort() const;                               // 127.0.0.1:port

  // The next exchange in arrival order.
  void Script(const std::vector<FixtureStep>& aSteps);
  void Reply(const std::string& aRawResponse) { Script({fx::Send(aRawResponse)}); }
  // Answers every request whose path (query left out) equals aPath, aTimes times (-1: always),
  // before the ordered exchanges; aFilter limits it to requests with or without a Range header.
  void Route(const std::string& aPath, const std::vector<FixtureStep>& aSteps, int aTimes = -1,
             RangeFilter aFilter = rfAny);

  std::vector<RecordedRequest> Requests() const;

private:
  void Queue(const std::string& aJson);
  TempDir FState;
  std::unique_ptr<ChildProcess> FProcess;
  int FPort = 0;
  int FTlsPort = 0;
  int FQueued = 0;
};

// Response builders.
// A complete response: status line, the given header lines, Content-Length (unless
// aContentLength is false or a header already names a length or coding), the empty line, body.
std::string HttpResponse(int aStatus, const std::string& aReason, const std::vector<std::string>& aHeaders = {},
                         const std::string& aBody = "", bool aContentLength = true);
// aBody in chunked coding: chunks of aChunkSize bytes, each size line followed by aExtension
// (such as ";name=value"), then the last chunk and aTrailer lines and the empty line.
std::string Chunked(const std::string& aBody, size_t aChunkSize, const std::string& aExtension = "",
                    const std::vector<std::string>& aTrailer = {});
// aData as one gzip member (zlib's encoder, as a reference).
std::string Gzip(const std::string& aData);

}  // namespace zvtest
