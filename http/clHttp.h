#pragma once
// The HTTP/1.1 client component. One call (Get, Post, Put, Patch, Delete, Head or SendRequest) is
// one transaction on the component's own connection: it writes the request, reads the response
// header, follows redirects, answers authentication challenges by repeating the request, decodes
// chunked and gzip bodies while they arrive, and delivers the body to the caller's stream or as
// text lines. Failures and error statuses end the call with an exception (EclHttpError for
// statuses, the transport's errors otherwise). The connection is kept between calls when the
// server allows it and reused for the next call to the same host and port.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/clLink.h"
#include "common/clStreams.h"
#include "common/clStringsUtils.h"
#include "http/clCookieManager.h"
#include "http/clHttpHeader.h"
#include "http/clHttpRequest.h"
#include "http/clHttpUtils.h"
#include "http/clUriUtils.h"
#include "net/clTcpClientTls.h"

enum TclHttpVersion { hvHttp1_0, hvHttp1_1 };

class TclHttp : public TclTcpClientTls {
public:
  TclHttp();
  ~TclHttp() override;

  // The request object of the operations below is the one given, else Request, else the client's
  // own (cleared before each use). A response header argument receives the response header lines,
  // the status line first; text forms decode the body in the response's charset, else CharSet.

  // GET with the request's header; its body text, when there is one, becomes the query.
  void Get(const std::string& aUrl, TStream* aDestination);
  void Get(const std::string& aUrl, TStrings& aDestination);
  void Get(const std::string& aUrl, TStrings* aResponseHeader, TStream* aResponseBody);
  void Get(const std::string& aUrl, TclHttpRequest* aRequest, TStream* aDestination);
  void Get(const std::string& aUrl, TclHttpRequest* aRequest, TStrings* aResponseHeader, TStream* aResponseBody);
  // HEAD: no body is read.
  void Head(const std::string& aUrl, TStrings* aResponseHeader = nullptr);
  // POST of the request's body.
  void Post(const std::string& aUrl, TStream* aResponseBody);
  void Post(const std::string& aUrl, TStrings& aResponseBody);
  void Post(const std::string& aUrl, TclHttpRequest* aRequest, TStream* aResponseBody);
  void Post(const std::string& aUrl, TclHttpRequest* aRequest, TStrings& aResponseBody);
  void Post(const std::string& aUrl, TclHttpRequest* aRequest, TStrings* aResponseHeader, TStream* aResponseBody);
  // PUT of aSource (text is encoded in CharSet), with the request's header without Accept and
  // with aContentType when given.
  void Put(const std::string& aUrl, const std::string& aContentType, TStream* aSource,
           TStrings* aResponseHeader = nullptr, TStream* aResponseBody = nullptr);
  void Put(const std::string& aUrl, const std::string& aContentType, const TStrings& aSource,
           TStrings* aResponseHeader = nullptr, TStream* aResponseBody = nullptr);
  // PATCH of aSource, with the request's header without Accept, or with aRequestHeader when given.
  void Patch(const std::string& aUrl, const TStrings* aRequestHeader, TStream* aSource,
             TStrings* aResponseHeader = nullptr, TStream* aResponseBody = nullptr);
  void Delete(const std::string& aUrl, TStrings* aResponseHeader = nullptr, TStream* aResponseBody = nullptr);

  // The general forms: absent headers are empty lists, an absent request body an empty stream, an
  // absent response body a discarding stream.
  void SendRequest(const std::string& aMethod, const std::string& aUrl, const TStrings& aRequestHeader,
                   TStream* aRequestBody, TStrings* aResponseHeader, TStream* aResponseBody);
  void SendRequest(const std::string& aMethod, const std::string& aUrl, TclHttpRequest* aRequest,
                   TStrings* aResponseHeader, TStream* aResponseBody);

  // An external request object, not owned; unlinked when it is destroyed.
  TclHttpRequest* Request() const { return FRequest.Get(); }
  void SetRequest(TclHttpRequest* aValue);

  // Settings.
  const std::string& CharSet() const { return FCharSet; }
  void SetCharSet(const std::string& aValue);
  TclHttpVersion HttpVersion() const { return FHttpVersion; }
  void SetHttpVersion(TclHttpVersion aValue) { SetSetting(FHttpVersion, aValue); }
  // When empty, the URL's user name and password are used.
  const std::string& UserName() const { return FUserName; }
  void SetUserName(const std::string& aValue) { SetSetting(FUserName, aValue); }
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& aValue) { SetSetting(FPassword, aValue); }
  const std::string& UserAgent() const { return FUserAgent; }
  void SetUserAgent(const std::string& aValue) { SetSetting(FUserAgent, aValue); }
  TclAuthorizationType AuthorizationType() const { return FAuthorizationType; }
  void SetAuthorizationType(TclAuthorizationType aValue) { SetSetting(FAuthorizationType, aValue); }
  bool KeepConnection() const { return FKeepConnection; }
  void SetKeepConnection(bool aValue) { SetSetting(FKeepConnection, aValue); }
  bool AllowCaching() const { return FAllowCaching; }
  void SetAllowCaching(bool aValue) { SetSetting(FAllowCaching, aValue); }
  bool AllowRedirects() const { return FAllowRedirects; }
  void SetAllowRedirects(bool aValue) { SetSetting(FAllowRedirects, aValue); }
  TclHttpProxySettings& ProxySettings() { return FProxySettings; }
  void SetProxySettings(const TclHttpProxySettings& aValue) { FProxySettings.Assign(aValue); }
  // 0 or less: no limit.
  int32_t MaxRedirects() const { return FMaxRedirects; }
  void SetMaxRedirects(int32_t aValue) { SetSetting(FMaxRedirects, aValue); }
  int32_t MaxAuthRetries() const { return FMaxAuthRetries; }
  void SetMaxAuthRetries(int32_t aValue) { SetSetting(FMaxAuthRetries, aValue); }
  // An external cookie store, not owned; unlinked when it is destroyed. Without one, the client
  // keeps its own, created on first need and freed when an external one is assigned.
  TclCookieManager* CookieManager() const { return FCookieManager.Get(); }
  void SetCookieManager(TclCookieManager* aValue);
  bool AllowCookies() const { return FAllowCookies; }
  void SetAllowCookies(bool aValue) { SetSetting(FAllowCookies, aValue); }
  bool AllowCompression() const { return FAllowCompression; }
  void SetAllowCompression(bool aValue) { SetSetting(FAllowCompression, aValue); }
  // True: error statuses do not raise; their body goes to the destination.
  bool SilentHTTP() const { return FSilentHTTP; }
  void SetSilentHTTP(bool aValue) { SetSetting(FSilentHTTP, aValue); }
  // A fixed Authorization value sent with every request; a 401 then ends the call.
  const std::string& Authorization() const { return FAuthorization; }
  void SetAuthorization(const std::string& aValue) { SetSetting(FAuthorization, aValue); }
  bool Expect100Continue() const { return FExpect100Continue; }
  void SetExpect100Continue(bool aValue) { SetSetting(FExpect100Continue, aValue); }

  // The last response.
  int32_t StatusCode() const { return FStatusCode; }
  const std::string& StatusText() const { return FStatusText; }
  TclHttpVersion ResponseVersion() const { return FResponseVersion; }
  const TclHttpResponseHeader& ResponseHeader() const { return FResponseHeader; }
  const TclCookieList& ResponseCookies() const { return FResponseCookies; }

  // Events, raised on the calling thread.
  std::function<void(TclHttp* Sender, const std::string& AMethod, const std::string& AUrl,
                     const TStrings& ARequestHeader)>
      OnSendRequest;
  // Cancel ends the call without reading the body and closes the connection.
  std::function<void(TclHttp* Sender, const std::string& AMethod, const std::string& AUrl,
                     const TStrings& AResponseHeader, const TclCookieList& ACookies, bool& Cancel)>
      OnReceiveHeader;
  std::function<void(TclHttp* Sender, const std::string& AMethod, const std::string& AUrl,
                     const TStrings& AResponseHeader, const TclCookieList& ACookies)>
      OnReceiveResponse;
  // Before a redirect is followed; CanRedirect and Handled arrive false. A handler that sets
  // Handled decides alone through CanRedirect (and AMethod).
  std::function<void(TclHttp* Sender, const TStrings& ARequestHeader, int32_t AStatusCode,
                     const TclHttpResponseHeader& AResponseHeader, const TStrings& AResponseText,
                     std::string& AMethod, bool& CanRedirect, bool& Handled)>
      OnRedirect;
  std::function<void(TclHttp* Sender, int64_t ABytesProceed, int64_t ATotalBytes)> OnSendProgress;
  std::function<void(TclHttp* Sender, int64_t ABytesProceed, int64_t ATotalBytes)> OnReceiveProgress;

protected:
  int32_t GetDefaultPort() const override { return 80; }
  void OpenConnection(const std::string& aServer, int32_t aPort) override;

  // The authorization schemes' answer to a challenge (one challenge value per line) for the
  // request in progress: true with the value to send and whether the next attempt needs a new
  // connection. Asks the registered schemes, with this client as the handshake's context.
  virtual bool Authorize(const std::string& aMethod, const std::string& aUserName, const std::string& aPassword,
                         const TStrings& aChallenge, bool& aStartNewConnection, std::string& aAuthValue);

private:
  struct TclTransaction;
  enum TclAttemptResult { arDone, arRepeat };

  template <typename T>
  void SetSetting(T& aField, const T& aValue) {
    if (aField == aValue) return;
    aField = aValue;
    DoChanged();
  }

  void RunTransaction(TclTransaction& aTransaction);
  TclAttemptResult RunAttempt(TclTransaction& aTransaction);
  void PrepareAuthorization(TclTransaction& aTransaction);
  void PrepareConnection(TclTransaction& aTransaction);
  // An abort from another thread ends the call with 10004 (interrupted); checked after every
  // transfer, since an aborted transfer returns without error.
  void EndIfAborted();
  // ReadData on the connection, ending the call when it was aborted.
  void ReadMore(TStream* aData);
  // Opens the connection to the proxy and a TLS tunnel through it to Server:Port.
  void OpenTunnel();
  void BuildRequestHeader(TclTransaction& aTransaction);
  void SendRequestBody(TclTransaction& aTransaction);
  // False when the receiver of the header cancelled the call.
  bool ReadResponseHeader(TclTransaction& aTransaction);
  bool ParseStatusLine(const std::string& aBuffer, size_t aStart);
  TclAttemptResult DispatchStatus(TclTransaction& aTransaction);
  TclAttemptResult AnswerChallenge(TclTransaction& aTransaction, bool aProxy);
  bool TakeRedirect(TclTransaction& aTransaction, const TStrings& aText);
  TclAttemptResult EndWithText(TclTransaction& aTransaction, const std::string& aBytes);
  int64_t BodyLength(const TclTransaction& aTransaction) const;
  void ReadBody(TclTransaction& aTransaction, TStream* aDestination);
  void ReadBodyData(TclTransaction& aTransaction, TStream* aDestination);
  std::string ReadBodyBytes(TclTransaction& aTransaction);
  bool KeepAliveAllowed(const TclTransaction& aTransaction) const;
  std::string TextCharSet() const;
  TclCookieManager& Cookies();
  TclHttpRequest* UseRequest(TclHttpRequest* aRequest);
  // The body in the text charset as lines.
  void LoadText(TMemoryStream& aBody, TStrings& aLines) const;
  // PUT and PATCH: the request's header lines without Accept (aHeader: replaced by those lines).
  TStrings SourceHeader(const std::string& aContentType, const TStrings* aHeader);
  // The URL of the request in progress as it goes on the wire.
  TclUrlParser WireUrl() const;
  void StartProgress(std::function<void(TclHttp*, int64_t, int64_t)>& aEvent);
  void EndProgress(std::function<void(TclHttp*, int64_t, int64_t)>& aEvent, int64_t aDone, int64_t aTotal);

  std::string FCharSet;
  TclUrlParser FUrl;
  TclHttpVersion FHttpVersion = hvHttp1_1;
  std::string FUserName;
  std::string FPassword;
  int32_t FStatusCode = 0;
  std::string FStatusText;
  std::string FUserAgent = "Mozilla/4.0 (compatible; Varnelo Net Toolkit)";
  TclAuthorizationType FAuthorizationType = atAutoDetect;
  bool FKeepConnection = true;
  bool FAllowCaching = true;
  bool FAllowRedirects = true;
  TclHttpProxySettings FProxySettings;
  int32_t FMaxRedirects = 15;
  int32_t FMaxAuthRetries = 5;
  TclLink<TclCookieManager> FCookieManager;
  std::unique_ptr<TclCookieManager> FOwnCookieManager;
  bool FAllowCookies = true;
  bool FAllowCompression = true;
  TclLink<TclHttpRequest> FRequest;
  TclHttpResponseHeader FResponseHeader;
  TclHttpVersion FResponseVersion = hvHttp1_1;
  bool FProgressHandled = false;
  std::unique_ptr<TclHttpRequest> FOwnRequest;
  TclCookieList FResponseCookies;
  std::string FOldProxyServer;
  int32_t FOldProxyPort = 0;
  bool FSilentHTTP = false;
  std::string FAuthorization;
  bool FExpect100Continue = false;

  // The response being read: its bytes so far, where its header ends and its status line.
  std::string FBuffer;
  size_t FHeaderEnd = 0;
  std::string FStatusLine;
  TStrings FResponseLines;
  // Open connects to the proxy instead of Server:Port.
  bool FOpenViaProxy = false;
};
