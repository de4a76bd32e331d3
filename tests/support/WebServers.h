#pragma once
// Real servers on 127.0.0.1 for tests, each on ports the test picks and with its configuration in
// a scratch folder: nginx (static files, gzip on, keep-alive, https with a test certificate) and
// tinyproxy (an HTTP proxy with CONNECT).
#include <memory>
#include <string>

#include "tests/support/TestCa.h"
#include "tests/support/TestSupport.h"

namespace zvtest {

// A port on 127.0.0.1 that was free a moment ago.
int FreePort();
// Waits until something accepts connections on 127.0.0.1:aPort; false after aTimeoutMs.
bool WaitForPort(int aPort, int aTimeoutMs = 10000);

// A listener on 127.0.0.1 whose queue is full: connects to it stay pending.
class FullListener {
public:
  FullListener();
  ~FullListener();
  FullListener(const FullListener&) = delete;
  FullListener& operator=(const FullListener&) = delete;
  int Port() const { return FPort; }

private:
  int FListen = -1;
  int FFiller = -1;
  int FPort = 0;
};

class NginxServer {
public:
  // Serves the folder aRoot; with aTlsCert also HTTPS. aExtraConfig goes inside both server blocks
  // (locations, auth, headers).
  explicit NginxServer(const std::string& aRoot, const TestCert* aTlsCert = nullptr,
                       const std::string& aExtraConfig = "");
  ~NginxServer();
  int Port() const { return FPort; }
  int TlsPort() const { return FTlsPort; }
  std::string Url(const std::string& aPath = "/") const;     // http://127.0.0.1:port + path
  std::string TlsUrl(const std::string& aPath = "/") const;  // https://localhost:port + path

private:
  TempDir FDir;
  std::unique_ptr<ChildProcess> FProcess;
  int FPort = 0;
  int FTlsPort = 0;
};

class TinyProxy {
public:
  // aExtraConfig: more configuration lines, such as "BasicAuth user password".
  explicit TinyProxy(const std::string& aExtraConfig = "");
  ~TinyProxy();
  int Port() const { return FPort; }

private:
  TempDir FDir;
  std::unique_ptr<ChildProcess> FProcess;
  int FPort = 0;
};

}  // namespace zvtest
