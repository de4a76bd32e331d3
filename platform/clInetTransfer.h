#pragma once
// One request's exchanges with its server over libcurl, driven by the thread that calls in: a send
// runs the transfer until the final reply's header block is there, a read until body bytes are
// there, and nothing runs in between. Body bytes wait in a bounded buffer; when it is full the
// transfer pauses, so that a reader that stops reading stops the download too.
#include <curl/curl.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clInetHeaders.h"
#include "platform/clInetTls.h"
#include "platform/clWinInet.h"

// A libcurl transfer handle with a multi handle of its own, whose connection cache outlives the
// request that used it: a root handle keeps idle sessions for its next requests.
struct TclCurlSession {
  TclCurlSession();
  ~TclCurlSession();
  TclCurlSession(const TclCurlSession&) = delete;
  TclCurlSession& operator=(const TclCurlSession&) = delete;
  CURL* Easy;
  CURLM* Multi;
  std::string Origin;  // scheme, host and port of the last exchange
};

// Options a handle carries (a new child handle starts with a copy of its parent's) and that an
// exchange is sent with: credentials, the certificate faults passed over, decoding.
struct TclInternetOptions {
  std::string UserName, Password, ProxyUserName, ProxyPassword;
  DWORD SecurityFlags = 0;
  bool Decoding = false;
  std::optional<TclClientCertificate> ClientCertificate;
};

// Everything one exchange sends, and how.
struct TclExchange {
  std::string Url;
  std::string Verb = "GET";
  std::vector<std::string> HeaderLines;
  std::optional<std::string> Body;
  bool Http10 = false;
  bool FollowRedirects = true;
  std::string Agent;
  // The proxy: none (direct), the system's configuration (the environment), or this one.
  enum class TProxy { Direct, System, Named } ProxyMode = TProxy::System;
  std::string Proxy;    // URL of the named proxy
  std::string NoProxy;  // hosts reached directly, comma separated
  TclInternetOptions Options;
};

class TclCurlTransfer {
public:
  explicit TclCurlTransfer(std::shared_ptr<TclCurlSession> aSession);
  ~TclCurlTransfer();
  TclCurlTransfer(const TclCurlTransfer&) = delete;
  TclCurlTransfer& operator=(const TclCurlTransfer&) = delete;

  // Starts a new exchange (dropping what is left of the last one) and returns once the final
  // reply's header block is there: 0, or the error number.
  DWORD Send(const TclExchange& aExchange);
  // Up to aSize body bytes, blocking until at least one is there or the body has ended
  // (aRead = 0). A body cut short fails once the bytes that did arrive have been read.
  DWORD Read(char* aBuffer, DWORD aSize, DWORD& aRead);
  // Moves the read position past the end of the body: later reads answer 0 bytes.
  void SkipToEnd() { FAtEnd = true; }
  // Makes the pending and every later call return ERROR_INTERNET_OPERATION_CANCELLED; any thread.
  void Abort();

  bool HasReply() const { return FHasReply; }
  const TclReplyHeaders& Reply() const { return FReply; }
  const std::string& Detail() const { return FDetail; }
  const std::shared_ptr<TclCurlSession>& Session() const { return FSession; }

private:
  // Where the exchange stands.
  enum class TStage {
    Idle,          // nothing sent
    Awaiting,      // sent; the final reply's header block is not there yet
    Redirecting,   // a redirection reply whose body is read and dropped
    Body,          // the final reply's body arrives
    Ended,         // the transfer has ended cleanly
    Failed,        // the transfer failed with FError
  };
  static size_t OnHeader(char* aData, size_t aSize, size_t aCount, void* aSelf);
  static size_t OnBody(char* aData, size_t aSize, size_t aCount, void* aSelf);
  void OnHeaderBlock();
  void Start();
  void Configure();
  DWORD Pump();
  void CollectEnd();
  void Redirect();
  void Fail(DWORD aError);
  DWORD FailureNumber(CURLcode aCode) const;
  size_t Buffered() const { return FBuffer.size() - FHead; }
  void Append(const char* aData, size_t aSize);

  std::shared_ptr<TclCurlSession> FSession;
  std::atomic<bool> FAborted{false};
  TclExchange FExchange;
  std::string FUrl;  // the current location, after redirections
  int FRedirects = 0;
  TStage FStage = TStage::Idle;
  bool FAdded = false;
  bool FHasReply = false;
  bool FPaused = false;
  bool FAtEnd = false;
  bool FTransferDone = false;
  DWORD FError = 0;
  DWORD FOwnError = 0;
  std::string FDetail;
  char FErrorText[CURL_ERROR_SIZE] = {};
  std::string FRedirectTo;
  TclReplyHeaders FReply;
  TclTlsCheck FTls;
  curl_slist* FHeaderList = nullptr;
  std::vector<char> FBuffer;
  size_t FHead = 0;
};
