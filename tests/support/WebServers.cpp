#include "tests/support/WebServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace zvtest {

namespace {

sockaddr_in Loopback(int aPort) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(aPort));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// Starts a server with aMakeArgs(ports...) until one comes up on the ports it was given: a port
// taken by someone else between FreePort and the start makes it exit, and another pair is tried.
template <typename TMake>
std::unique_ptr<ChildProcess> StartOnFreePorts(int& aPort, int* aSecondPort, TMake aMake) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    aPort = FreePort();
    if (aSecondPort) *aSecondPort = FreePort();
    auto process = std::make_unique<ChildProcess>(aMake());
    if (WaitForPort(aPort) && (!aSecondPort || WaitForPort(*aSecondPort))) return process;
  }
  throw std::runtime_error("server did not come up");
}

}  // namespace

int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (s >= 0) close(s);
    throw std::runtime_error("no free port");
  }
  close(s);
  return ntohs(a.sin_port);
}

bool WaitForPort(int aPort, int aTimeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(aPort);
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

FullListener::FullListener() {
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  FListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  // A queue of one, taken by a connection that is never accepted: later connects get no answer.
  if (FListen < 0 || bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(FListen, 0) != 0 ||
      getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (FListen >= 0) close(FListen);
    throw std::runtime_error("cannot listen");
  }
  FPort = ntohs(a.sin_port);
  FFiller = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FFiller < 0 || connect(FFiller, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (FFiller >= 0) close(FFiller);
    close(FListen);
    throw std::runtime_error("cannot fill the queue");
  }
}

FullListener::~FullListener() {
  close(FFiller);
  close(FListen);
}

NginxServer::NginxServer(const std::string& aRoot, const TestCert* aTlsCert, const std::string& aExtraConfig) {
  std::filesystem::create_directories(FDir.File("tmp"));
  FProcess = StartOnFreePorts(FPort, aTlsCert ? &FTlsPort : nullptr, [&] {
    const std::string& d = FDir.Path();
    std::string conf =
        "daemon off;\nmaster_process off;\nworker_processes 1;\n"
        "error_log " + d + "/error.log;\npid " + d + "/nginx.pid;\n"
        "events { worker_connections 512; }\n"
        "http {\n"
        "  access_log off;\n"
        "  client_body_temp_path " + d + "/tmp/body;\n  proxy_temp_path " + d + "/tmp/proxy;\n"
        "  fastcgi_temp_path " + d + "/tmp/fastcgi;\n  uwsgi_temp_path " + d + "/tmp/uwsgi;\n"
        "  scgi_temp_path " + d + "/tmp/scgi;\n"
        "  types { text/html html; text/plain txt; application/json json; }\n"
        "  default_type application/octet-stream;\n"
        "  sendfile on;\n  keepalive_timeout 60;\n  keepalive_requests 100000;\n"
        "  gzip on;\n  gzip_min_length 1;\n  gzip_http_version 1.0;\n"
        "  gzip_types text/plain application/json;\n"
        "  server {\n    listen 127.0.0.1:" + std::to_string(FPort) + ";\n    server_name localhost;\n"
        "    root " + aRoot + ";\n" + aExtraConfig + "\n  }\n";
    if (aTlsCert)
      conf += "  server {\n    listen 127.0.0.1:" + std::to_string(FTlsPort) + " ssl;\n"
              "    server_name localhost;\n    root " + aRoot + ";\n"
              "    ssl_certificate " + aTlsCert->ChainFile + ";\n    ssl_certificate_key " + aTlsCert->KeyFile + ";\n"
              "    ssl_protocols TLSv1 TLSv1.1 TLSv1.2;\n" + aExtraConfig + "\n  }\n";
    conf += "}\n";
    WriteFile(FDir.File("nginx.conf"), conf);
    return std::vector<std::string>{"nginx", "-e", d + "/error.log", "-p", d, "-c", d + "/nginx.conf"};
  });
}

NginxServer::~NginxServer() = default;

std::string NginxServer::Url(const std::string& aPath) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + aPath;
}
std::string NginxServer::TlsUrl(const std::string& aPath) const {
  return "https://localhost:" + std::to_string(FTlsPort) + aPath;
}

TinyProxy::TinyProxy(const std::string& aExtraConfig) {
  FProcess = StartOnFreePorts(FPort, nullptr, [&] {
    WriteFile(FDir.File("tinyproxy.conf"),
              "Port " + std::to_string(FPort) + "\nListen 127.0.0.1\nTimeout 60\nMaxClients 50\n"
              "Allow 127.0.0.1\nLogLevel Error\nLogFile \"" + FDir.File("tinyproxy.log") + "\"\n"
              "PidFile \"" + FDir.File("tinyproxy.pid") + "\"\nDisableViaHeader Yes\n" + aExtraConfig + "\n");
    return std::vector<std::string>{"tinyproxy", "-d", "-c", FDir.File("tinyproxy.conf")};
  });
}

TinyProxy::~TinyProxy() = default;

}  // namespace zvtest
