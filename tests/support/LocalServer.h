#pragma once
// A TCP server on a loopback address, run by a test or a fuzz harness: each accepted connection
// is handed to the handler on the server thread. Blocking sockets keep the handlers short and
// plain. Header only, so the fuzz harnesses use it without the test support library.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

class LocalServer {
public:
  using Handler = std::function<void(int aClient)>;

  explicit LocalServer(Handler aHandler, const std::string& aAddress = "127.0.0.1") : FHandler(std::move(aHandler)) {
    bool v6 = aAddress.find(':') != std::string::npos;
    FListen = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage addr{};
    socklen_t length;
    if (v6) {
      auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
      a->sin6_family = AF_INET6;
      inet_pton(AF_INET6, aAddress.c_str(), &a->sin6_addr);
      length = sizeof *a;
    } else {
      auto* a = reinterpret_cast<sockaddr_in*>(&addr);
      a->sin_family = AF_INET;
      inet_pton(AF_INET, aAddress.c_str(), &a->sin_addr);
      length = sizeof *a;
    }
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&addr), length) != 0 || ::listen(FListen, 8) != 0)
      throw std::runtime_error("cannot listen on " + aAddress);
    getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &length);
    FPort = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    FThread = std::thread([this] { Run(); });
  }

  ~LocalServer() {
    FStopping = true;
    ::shutdown(FListen, SHUT_RDWR);
    // A handler waiting for its client (one that keeps its connection) ends too.
    const int client = FClient;
    if (client >= 0) ::shutdown(client, SHUT_RDWR);
    FThread.join();
    ::close(FListen);
  }

  int Port() const { return FPort; }
  int Accepted() const { return FAccepted; }

  // Helpers for handlers.
  static void SendAll(int aSocket, const std::string& aData) {
    size_t done = 0;
    while (done < aData.size()) {
      ssize_t n = ::send(aSocket, aData.data() + done, aData.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += n;
    }
  }
  static std::string ReceiveSome(int aSocket) {
    char buffer[65536];
    ssize_t n = ::recv(aSocket, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, n) : std::string();
  }
  static std::string ReceiveExactly(int aSocket, size_t aCount) {
    std::string data;
    while (data.size() < aCount) {
      std::string more = ReceiveSome(aSocket);
      if (more.empty()) break;
      data += more;
    }
    return data;
  }

private:
  void Run() {
    while (!FStopping) {
      int client = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) return;
      ++FAccepted;
      FClient = client;
      FHandler(client);
      FClient = -1;
      ::close(client);
    }
  }

  Handler FHandler;
  int FListen = -1;
  int FPort = 0;
  std::atomic<bool> FStopping{false};
  std::atomic<int> FAccepted{0};
  std::atomic<int> FClient{-1};  // the connection being handled
  std::thread FThread;
};
