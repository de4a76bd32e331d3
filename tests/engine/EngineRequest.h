#pragma once
// One HTTP(S) request made through a connection's actions the way a download worker makes it:
// root handle, server connection, request, send, then block reads.
#include <memory>
#include <string>

#include "engine/clHttpActions.h"
#include "engine/clInternetConnection.h"

class TEngineRequest {
public:
  // Opens, connects and opens a GET request for aPath on 127.0.0.1 (localhost with aSecure).
  TEngineRequest(TclInternetConnection& aConnection, int aPort, const std::string& aPath, bool aSecure = false)
      : FConnection(aConnection) {
    Open = new TclInternetOpenAction(&aConnection, "engine test", INTERNET_OPEN_TYPE_DIRECT, "", "", 0);
    Open->FireAction(-1);
    Connect = new TclConnectAction(&aConnection, Open->hResource(), aSecure ? "localhost" : "127.0.0.1",
                                   INTERNET_PORT(aPort), "", "", INTERNET_SERVICE_HTTP, 0);
    Connect->FireAction(10000);
    Request = new TclHttpOpenRequestAction(&aConnection, Open->hResource(), Connect->hResource(), "GET", aPath, "",
                                           "", {}, INTERNET_FLAG_RELOAD | (aSecure ? INTERNET_FLAG_SECURE : 0));
    Request->FireAction(10000);
  }
  ~TEngineRequest() {
    delete Request;
    delete Connect;
    delete Open;
  }

  HINTERNET Handle() const { return Request->hResource(); }

  void Send(int32_t aTimeOut = 10000) {
    TclHttpSendRequestAction send(&FConnection, Open->hResource(), Handle(), "", nullptr, 0);
    send.FireAction(aTimeOut);
  }

  // The body up to its end, in blocks of at most aBlock bytes.
  std::string ReadAll(int32_t aTimeOut = 10000, DWORD aBlock = 8192) {
    std::string body, block(aBlock, '\0');
    TclInternetReadFileAction read(&FConnection, Open->hResource(), Handle(), block.data());
    for (;;) {
      read.SetNumberOfBytesToRead(aBlock);
      read.FireAction(aTimeOut);
      if (read.lpdwNumberOfBytesRead() == 0) return body;
      body.append(block.data(), read.lpdwNumberOfBytesRead());
    }
  }

  TclInternetOpenAction* Open;
  TclConnectAction* Connect;
  TclHttpOpenRequestAction* Request;

private:
  TclInternetConnection& FConnection;
};
