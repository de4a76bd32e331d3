#pragma once
// A threader is a worker thread that performs one request against one URL. TclCustomThreader
// holds what every request shares: parsing the URL, the root handle and the server connection
// (through a TclInternetConnection), sending with certificate and authentication retries,
// reading the reply's status into the resource info, tries with a pause between them, and the
// status and error reports. Its events run on the thread that created it, one at a time, while
// the worker waits.
//
// Only HTTP and HTTPS URLs are transferred; other schemes end the request without a transfer.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/clStreams.h"
#include "common/clStringsUtils.h"
#include "engine/clHttpActions.h"
#include "engine/clInternetConnection.h"
#include "engine/clResourceInfo.h"
#include "engine/clResourceState.h"
#include "engine/clThread.h"
#include "engine/clThreadSynchronizer.h"
#include "http/clHttpUtils.h"
#include "http/clUriUtils.h"
#include "net/clSocketWait.h"
#include "net/clSspiTls.h"

// Server-certificate faults a request ignores: the same faults the TLS transport knows.
using TclCertificateFlag = TclCertificateVerifyFlag;
using TclCertificateFlags = TclCertificateVerifyFlags;

inline constexpr const char* cDefaultInternetAgent = "Mozilla/4.0 (compatible; Varnelo Net Toolkit)";

class TclCustomThreader : public TclThread {
public:
  // aDataStream (not owned) receives the body; none for a request without one.
  TclCustomThreader(const std::string& aURL, TStream* aDataStream);
  ~TclCustomThreader() override;

  // Starts the suspended thread.
  void Perform() { Start(); }
  // Ends the request as soon as possible: a pause between tries ends at once and the pending
  // platform call is aborted. Any thread.
  void Stop();
  // See TclThread::WaitFor.
  void Wait() { WaitFor(); }

  const std::string& URL() const { return FURL; }
  TStream* DataStream() const { return FDataStream; }
  TclProcessStatus Status() const { return FStatus; }
  const std::string& LastError() const { return FLastError; }
  int32_t LastErrorCode() const { return FLastErrorCode; }
  const TStrings& ResponseHeader() const { return FResponseHeader; }

  // The given connection, else the threader's own, made on first need.
  TclInternetConnection& Connection();
  // A connection shared with other threaders (not owned); giving one frees the own one.
  void SetConnection(TclInternetConnection* aValue);
  // The given resource info, else the threader's own (null until the reply made one).
  TclResourceInfo* ResourceInfo() const { return FResourceInfo.Get(); }
  // A resource info given by the item (not owned): no information request is made.
  void SetResourceInfo(TclResourceInfo* aValue) { FResourceInfo.SetGiven(aValue); }
  const TclUrlParser& URLParser() const { return FURLParser; }
  // A parsed URL: the threader then neither parses URL again nor raises OnUrlParsing.
  void SetURLParser(const TclUrlParser& aValue) { FURLParser.Assign(aValue); }
  const TStrings& RequestHeader() const { return FRequestHeader; }
  void SetRequestHeader(const TStrings& aValue) { FRequestHeader = aValue; }

  // Settings, set before Perform.
  int32_t TimeOut() const { return FTimeOut; }
  void SetTimeOut(int32_t aValue) { FTimeOut = aValue; }
  int32_t TryCount() const { return FTryCount; }
  void SetTryCount(int32_t aValue) { FTryCount = aValue; }
  int32_t BatchSize() const { return FBatchSize; }
  void SetBatchSize(int32_t aValue) { FBatchSize = aValue; }
  int32_t ReconnectAfter() const { return FReconnectAfter; }
  void SetReconnectAfter(int32_t aValue) { FReconnectAfter = aValue; }
  TclCertificateFlags CertificateFlags() const { return FCertificateFlags; }
  void SetCertificateFlags(TclCertificateFlags aValue) { FCertificateFlags = aValue; }
  // Blank-separated host list reached without the proxy.
  const std::string& ProxyBypass() const { return FProxyBypass; }
  void SetProxyBypass(const std::string& aValue) { FProxyBypass = aValue; }
  const std::string& InternetAgent() const { return FInternetAgent; }
  void SetInternetAgent(const std::string& aValue) { FInternetAgent = aValue; }
  TclHttpProxySettings& HttpProxySettings() { return FHttpProxySettings; }
  void SetHttpProxySettings(const TclHttpProxySettings& aValue) { FHttpProxySettings.Assign(aValue); }
  // The item's lock around positioning and writing its shared stream (not owned).
  void SetDataAccessor(std::mutex* aValue) { FDataAccessor = aValue; }
  // Bytes to fetch; -1: the whole body, without a Range header.
  int64_t BytesToProceed() const { return FBytesToProceed; }
  void SetBytesToProceed(int64_t aValue) { FBytesToProceed = aValue; }
  // Offset of the next byte to fetch and write.
  int64_t ResourcePos() const { return FResourcePos; }
  void SetResourcePos(int64_t aValue) { FResourcePos = aValue; }
  // Keep the root handle, server connection and request registered for the next request.
  bool KeepConnection() const { return FKeepConnection; }
  void SetKeepConnection(bool aValue) { FKeepConnection = aValue; }
  // Ask for a gzip body, which the platform then decodes.
  bool AllowCompression() const { return FAllowCompression; }
  void SetAllowCompression(bool aValue) { FAllowCompression = aValue; }
  // No separate information request: the data request's reply fills the resource info.
  bool DoNotGetResourceInfo() const { return FDoNotGetResourceInfo; }
  void SetDoNotGetResourceInfo(bool aValue) { FDoNotGetResourceInfo = aValue; }

  // Events, on the creating thread.
  std::function<void(TclCustomThreader* Sender, TclProcessStatus Status)> OnStatusChanged;
  std::function<void(TclCustomThreader* Sender, const std::string& Error, int32_t ErrorCode)> OnError;
  std::function<void(TclCustomThreader* Sender, TclResourceInfo* ResourceInfo)> OnGetResourceInfo;
  std::function<void(TclCustomThreader* Sender, TclUrlParser& AURLComponents)> OnUrlParsing;
  // ABytesProceed: the absolute offset after the block.
  std::function<void(TclCustomThreader* Sender, TclResourceInfo* ResourceInfo, int64_t ABytesProceed,
                     const char* CurrentData, int32_t CurrentDataSize)>
      OnDataItemProceed;
  // The server asked for a client certificate; a handler that sets Handled gives ACertificate.
  std::function<void(TclCustomThreader* Sender, TclClientCertificate& ACertificate,
                     std::vector<TclClientCertificate>& AExtraCerts, bool& Handled)>
      OnGetCertificate;

protected:
  // The root handle and server connection of one attempt (made by it, or kept registered with
  // the connection); the transfer adds its request.
  struct TclSession {
    TclInternetOpenAction* Open = nullptr;
    TclConnectAction* Connect = nullptr;
    bool OwnOpen = false;
    bool OwnConnect = false;
    HINTERNET Internet() const { return Open->hResource(); }
  };

  void Execute() override;
  // The request of the threader's kind, on an open server connection.
  virtual void HttpTransfer(TclSession& aSession) = 0;

  // The information request: skipped with a given resource info; raises OnGetResourceInfo.
  void HttpGetResourceInfo(TclSession& aSession);
  // A request of one attempt, freed at its end unless it is kept for the next request.
  struct TclRequestRelease {
    bool Keep = false;
    void operator()(TclHttpOpenRequestAction* aRequest) const {
      if (!Keep) delete aRequest;
    }
  };
  using TclRequestPtr = std::unique_ptr<TclHttpOpenRequestAction, TclRequestRelease>;
  // A registered request (KeepConnection), else a new one for aVerb on the URL's path.
  TclRequestPtr OpenRequest(TclSession& aSession, const std::string& aVerb);
  void AddRequestHeaders(HINTERNET hRequest, bool aAskCompression);
  // Sends with the certificate and authentication retries and checks the reply's status (a
  // refused status raises). False when the status could not be read (an error is reported) or
  // a refusal ended the sending because the threader was stopped.
  bool SendRequest(TclSession& aSession, HINTERNET hRequest);
  void ReportError(const std::string& aError, int32_t aErrorCode, const std::string& aExtra = "");
  void Synchronize(const std::function<void()>& aMethod) { FSynchronizer.Synchronize(aMethod); }

  TclResourceInfoHolder& ResourceInfoHolder() { return FResourceInfo; }
  std::mutex* DataAccessor() const { return FDataAccessor; }

private:
  void SetStatus(TclProcessStatus aStatus);
  void ParseURL();
  // One attempt: root handle, server connection, transfer.
  void Process();
  void OpenSession(TclSession& aSession);
  void CloseSession(TclSession& aSession);
  // The pause between tries; a stop ends it at once.
  void Pause(int32_t aMilliseconds);
  std::string ProxyString() const;
  DWORD RequestFlags() const;
  // One send, repeated while the platform asks for a retry or a certificate fault can be handled.
  void SendWithCertificates(TclSession& aSession, HINTERNET hRequest);
  bool HandleCertificateError(HINTERNET hRequest, int32_t aErrorCode);
  void IgnoreCertificateFaults(HINTERNET hRequest);
  bool AskClientCertificate(HINTERNET hRequest);
  // Gives the request the credentials for a 401 (aProxy false) or 407 challenge.
  void SetCredentials(HINTERNET hRequest, bool aProxy);

  std::string FURL;
  TStream* FDataStream;
  std::string FLastError;
  int32_t FLastErrorCode = 0;
  int32_t FTimeOut = 5000;
  int32_t FTryCount = 5;
  int32_t FBatchSize = 8192;
  std::unique_ptr<TclInternetConnection> FOwnConnection;
  TclInternetConnection* FConnection = nullptr;
  TclProcessStatus FStatus = psUnknown;
  TclUrlParser FURLParser;
  TclCertificateFlags FCertificateFlags;
  std::string FProxyBypass;
  std::string FInternetAgent = cDefaultInternetAgent;
  TclResourceInfoHolder FResourceInfo;
  std::mutex* FDataAccessor = nullptr;
  std::mutex FConnectionLock;
  int64_t FBytesToProceed = -1;
  int64_t FResourcePos = 0;
  bool FKeepConnection = false;
  int32_t FReconnectAfter = 5000;
  TclWaitEvent FSleepEvent;
  bool FAllowCompression = false;
  TclThreadSynchronizer FSynchronizer;
  TStrings FRequestHeader;
  TStrings FResponseHeader;
  bool FDoNotGetResourceInfo = false;
  TclHttpProxySettings FHttpProxySettings;
};

// Sends a DELETE for the URL.
class TclDeleteThreader : public TclCustomThreader {
public:
  explicit TclDeleteThreader(const std::string& aURL) : TclCustomThreader(aURL, nullptr) {}

protected:
  void HttpTransfer(TclSession& aSession) override;
};
