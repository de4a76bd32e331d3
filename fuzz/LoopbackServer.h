#pragma once
// A server on 127.0.0.1 for the harnesses that play arbitrary bytes as a server's reply: every
// connection gets the request head read, then the reply set last, then an orderly close.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <thread>

class TclLoopbackServer {
public:
  TclLoopbackServer() {
    FListen = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(FListen, 16);
    getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    std::thread([this] { Serve(); }).detach();
  }

  int Port() const { return FPort; }
  void SetResponse(std::string aResponse) {
    std::lock_guard<std::mutex> guard(FLock);
    FResponse = std::move(aResponse);
  }

private:
  void Serve() {
    for (;;) {
      int s = accept(FListen, nullptr, nullptr);
      if (s < 0) continue;
      // The request head, then the response and an orderly close.
      std::string request;
      char buf[4096];
      pollfd p{s, POLLIN, 0};
      while (request.find("\r\n\r\n") == std::string::npos && poll(&p, 1, 1000) > 0) {
        ssize_t n = recv(s, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, size_t(n));
      }
      std::string response;
      {
        std::lock_guard<std::mutex> guard(FLock);
        response = FResponse;
      }
      send(s, response.data(), response.size(), MSG_NOSIGNAL);
      shutdown(s, SHUT_RDWR);
      close(s);
    }
  }

  int FListen = -1;
  int FPort = 0;
  std::mutex FLock;
  std::string FResponse;
};
