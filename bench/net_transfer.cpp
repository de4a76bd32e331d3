// Receive throughput of the transport against plain reads on the same loopback server, measured
// in the same run: a TCP connection (TclTcpClient against a blocking recv loop) and a TLS one
// (TclTcpClientTls against a blocking SSL_read loop), each reading until the server closes.
// Usage: bench_net_transfer [TCP MiB, default 1024] [TLS MiB, default 256]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "bench/BenchResult.h"
#include "net/clTcpClientTls.h"
#include "tests/support/TestCa.h"

namespace {

class BenchClient : public TclTcpClientTls {
public:
  int32_t GetDefaultPort() const override { return 80; }
};

// Serves one connection per call of aServe on a loopback port.
class Server {
public:
  explicit Server(std::function<void(int)> aServe) {
    FListen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&addr), length) != 0 || ::listen(FListen, 4) != 0) std::exit(1);
    getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &length);
    FPort = ntohs(addr.sin_port);
    FThread = std::thread([this, aServe] {
      for (int i = 0; i < 2; ++i) {
        int c = ::accept(FListen, nullptr, nullptr);
        if (c < 0) return;
        aServe(c);
        ::close(c);
      }
    });
  }
  ~Server() {
    FThread.join();
    ::close(FListen);
  }
  int Port() const { return FPort; }

private:
  int FListen;
  int FPort;
  std::thread FThread;
};

int ConnectPlain(int aPort) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(aPort);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) std::exit(1);
  return s;
}

double Seconds(const std::function<int64_t()>& aRun, int64_t aExpected) {
  auto start = std::chrono::steady_clock::now();
  int64_t got = aRun();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (got != aExpected) {
    std::fprintf(stderr, "received %lld of %lld bytes\n", static_cast<long long>(got), static_cast<long long>(aExpected));
    std::exit(1);
  }
  return seconds;
}

int64_t ReadOurs(BenchClient& aClient) {
  TclNullStream sink;
  aClient.Open();
  aClient.Connection()->SetIsReadUntilClose(true);
  aClient.Connection()->ReadData(&sink);
  return sink.Written();
}

// aVersus: "OURS vs PEER".
void Report(const char* aResult, const std::string& aName, const std::string& aVersus, int64_t aBytes, double aOurs,
            double aPeer) {
  double mb = aBytes / 1048576.0;
  std::printf("%s: ours %.0f MB/s, peer %.0f MB/s, ratio ours/peer %.2f\n", aName.c_str(), mb / aOurs, mb / aPeer,
              aPeer / aOurs);
  const std::string what = aName + " of " + std::to_string(aBytes >> 20) + " MiB: " + aVersus;
  zvbench::PrintResult(aResult, what.c_str(), mb / aOurs, mb / aPeer, "MiB/s");
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t tcpBytes = (argc > 1 ? std::atoll(argv[1]) : 1024) << 20;
  const int64_t tlsBytes = (argc > 2 ? std::atoll(argv[2]) : 256) << 20;
  std::string block(65536, 'x');
  Server tcp([&](int c) {
    for (int64_t sent = 0; sent < tcpBytes; sent += block.size()) send(c, block.data(), block.size(), MSG_NOSIGNAL);
  });
  BenchClient client;
  client.SetServer("127.0.0.1");
  client.SetPort(tcp.Port());
  double ours = Seconds([&] { return ReadOurs(client); }, tcpBytes);
  double peer = Seconds(
      [&] {
        int s = ConnectPlain(tcp.Port());
        std::string buffer(65536, '\0');
        int64_t total = 0;
        for (ssize_t n; (n = recv(s, buffer.data(), buffer.size(), 0)) > 0;) total += n;
        ::close(s);
        return total;
      },
      tcpBytes);
  Report("net-tcp", "TCP receive", "TclTcpClient vs recv loop", tcpBytes, ours, peer);

  zvtest::TestCa ca;
  zvtest::TestCert cert = ca.Server();
  setenv("SSL_CERT_FILE", ca.CertFile().c_str(), 1);
  SSL_CTX* serverContext = SSL_CTX_new(TLS_server_method());
  SSL_CTX_use_certificate_chain_file(serverContext, cert.ChainFile.c_str());
  SSL_CTX_use_PrivateKey_file(serverContext, cert.KeyFile.c_str(), SSL_FILETYPE_PEM);
  SSL_CTX_set_max_proto_version(serverContext, TLS1_2_VERSION);
  Server tls([&](int c) {
    SSL* ssl = SSL_new(serverContext);
    SSL_set_fd(ssl, c);
    if (SSL_accept(ssl) == 1) {
      for (int64_t sent = 0; sent < tlsBytes; sent += block.size()) SSL_write(ssl, block.data(), block.size());
      SSL_shutdown(ssl);
    }
    SSL_free(ssl);
  });
  BenchClient tlsClient;
  tlsClient.SetServer("localhost");
  tlsClient.SetPort(tls.Port());
  tlsClient.SetUseTLS(ctImplicit);
  ours = Seconds([&] { return ReadOurs(tlsClient); }, tlsBytes);
  peer = Seconds(
      [&] {
        SSL_CTX* context = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
        SSL* ssl = SSL_new(context);
        int s = ConnectPlain(tls.Port());
        SSL_set_fd(ssl, s);
        int64_t total = 0;
        if (SSL_connect(ssl) == 1) {
          std::string buffer(65536, '\0');
          for (int n; (n = SSL_read(ssl, buffer.data(), buffer.size())) > 0;) total += n;
        }
        SSL_free(ssl);
        SSL_CTX_free(context);
        ::close(s);
        return total;
      },
      tlsBytes);
  Report("net-tls", "TLS receive", "TclTcpClientTls vs SSL_read loop", tlsBytes, ours, peer);
  SSL_CTX_free(serverContext);
  return 0;
}
