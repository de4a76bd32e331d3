#pragma once
// The platform calls of an HTTP(S) transfer as actions: root handle, server connection,
// request, send, read.
#include <string>
#include <vector>

#include "engine/clInternetAction.h"

// The root handle (InternetOpenA). It has no parent handle, so it cannot be cancelled.
class TclInternetOpenAction : public TclInternetResourceAction {
public:
  // An empty proxy or bypass list (after trimming) is passed as none.
  TclInternetOpenAction(TclInternetConnection* aOwner, const std::string& lpszAgent, DWORD dwAccessType,
                        const std::string& lpszProxy, const std::string& lpszProxyBypass, DWORD dwFlags);

protected:
  void Execute() override;

private:
  std::string FAgent;
  DWORD FAccessType;
  std::string FProxy;
  std::string FProxyBypass;
  DWORD FFlags;
};

// A server connection (InternetConnectA) under the root handle hInet.
class TclConnectAction : public TclInternetResourceAction {
public:
  // An empty user name or password is passed as none.
  TclConnectAction(TclInternetConnection* aOwner, HINTERNET hInet, const std::string& lpszServerName,
                   INTERNET_PORT nServerPort, const std::string& lpszUsername, const std::string& lpszPassword,
                   DWORD dwService, DWORD dwFlags);

protected:
  void Execute() override;

private:
  std::string FServerName;
  INTERNET_PORT FServerPort;
  std::string FUserName;
  std::string FPassword;
  DWORD FService;
  DWORD FFlags;
};

// A request (HttpOpenRequestA) on the server connection hConnect.
class TclHttpOpenRequestAction : public TclInternetResourceAction {
public:
  // An empty verb, version or referrer is passed as none; no accept types as none.
  TclHttpOpenRequestAction(TclInternetConnection* aOwner, HINTERNET hInet, HINTERNET hConnect,
                           const std::string& lpszVerb, const std::string& lpszObjectName,
                           const std::string& lpszVersion, const std::string& lpszReferrer,
                           const std::vector<std::string>& lplpszAcceptTypes, DWORD dwFlags);

protected:
  void Execute() override;

private:
  HINTERNET FConnect;
  std::string FVerb;
  std::string FObjectName;
  std::string FVersion;
  std::string FReferrer;
  std::vector<std::string> FAcceptTypes;
  DWORD FFlags;
};

// Sends the request hRequest (HttpSendRequestA) and receives the reply's header block. The
// optional data stays the caller's and must live until the action has been fired.
class TclHttpSendRequestAction : public TclInternetAction {
public:
  TclHttpSendRequestAction(TclInternetConnection* aOwner, HINTERNET hInet, HINTERNET hRequest,
                           const std::string& lpszHeaders, const void* lpOptional, DWORD dwOptionalLength);

protected:
  void Execute() override;

private:
  HINTERNET FRequest;
  std::string FHeaders;
  const void* FOptional;
  DWORD FOptionalLength;
};

// Reads the next block of a reply's body (InternetReadFile) into the caller's buffer; 0 bytes
// read means the body has ended.
class TclInternetReadFileAction : public TclInternetAction {
public:
  TclInternetReadFileAction(TclInternetConnection* aOwner, HINTERNET hInet, HINTERNET hFile, void* lpBuffer);

  // The buffer the next read fills.
  void SetBuffer(void* lpBuffer) { FBuffer = lpBuffer; }
  DWORD dwNumberOfBytesToRead() const { return FNumberOfBytesToRead; }
  void SetNumberOfBytesToRead(DWORD aValue) { FNumberOfBytesToRead = aValue; }
  DWORD lpdwNumberOfBytesRead() const { return FNumberOfBytesRead; }

protected:
  void Execute() override;

private:
  HINTERNET FFile;
  void* FBuffer;
  DWORD FNumberOfBytesToRead = 0;
  DWORD FNumberOfBytesRead = 0;
};
