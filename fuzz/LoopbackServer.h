#pragma once
// A server on 127.0.0.1 for the harnesses that play arbitrary bytes as a server's reply: every
// connection gets the request head read, then the reply set last, then an orderly close.
#include <poll.h>

#include <mutex>
#include <string>

#include "tests/support/LocalServer.h"

class TclLoopbackServer {
public:
  int Port() const { return FServer.Port(); }
  void SetResponse(std::string aResponse) {
    std::lock_guard<std::mutex> guard(FLock);
    FResponse = std::move(aResponse);
  }

private:
  void Answer(int aClient) {
    std::string request;
    pollfd p{aClient, POLLIN, 0};
    while (request.find("\r\n\r\n") == std::string::npos && poll(&p, 1, 1000) > 0) {
      std::string more = LocalServer::ReceiveSome(aClient);
      if (more.empty()) break;
      request += more;
    }
    std::string response;
    {
      std::lock_guard<std::mutex> guard(FLock);
      response = FResponse;
    }
    LocalServer::SendAll(aClient, response);
    shutdown(aClient, SHUT_RDWR);
  }

  std::mutex FLock;
  std::string FResponse;
  LocalServer FServer{[this](int aClient) { Answer(aClient); }};  // last: it serves the fields above
};
