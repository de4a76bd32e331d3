#pragma once
// Settings and errors of the HTTP client: the HTTP proxy it goes through and the error that an
// HTTP status (or a refused redirect or challenge) ends a call with.
#include <cstdint>
#include <functional>
#include <string>

#include "net/clSocketErrors.h"

// atBasic sends Basic credentials with the first request; atAutoDetect waits for a challenge.
enum TclAuthorizationType { atAutoDetect, atBasic };

class TclHttpProxySettings {
public:
  TclAuthorizationType AuthorizationType() const { return FAuthorizationType; }
  void SetAuthorizationType(TclAuthorizationType aValue) { SetValue(FAuthorizationType, aValue); }
  const std::string& UserName() const { return FUserName; }
  void SetUserName(const std::string& aValue) { SetValue(FUserName, aValue); }
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& aValue) { SetValue(FPassword, aValue); }
  // Empty: no proxy.
  const std::string& Server() const { return FServer; }
  void SetServer(const std::string& aValue) { SetValue(FServer, aValue); }
  int32_t Port() const { return FPort; }
  // Values outside 0..65535 are ignored.
  void SetPort(int32_t aValue) {
    if (aValue >= 0 && aValue <= 65535) SetValue(FPort, aValue);
  }

  // Restores the defaults.
  void Clear();
  void Assign(const TclHttpProxySettings& aSource);

  // Raised after a setting changed.
  std::function<void(TclHttpProxySettings* Sender)> OnChanged;

private:
  template <typename T>
  void SetValue(T& aField, const T& aValue) {
    if (aField == aValue) return;
    aField = aValue;
    if (OnChanged) OnChanged(this);
  }

  TclAuthorizationType FAuthorizationType = atAutoDetect;
  std::string FUserName;
  std::string FPassword;
  std::string FServer;
  int32_t FPort = 8080;
};

// An HTTP status that ends a call: the status line as received is the message, the status code the
// error code, and the response body as text is kept.
class EclHttpError : public EclTcpClientError {
public:
  EclHttpError(const std::string& aStatusLine, int32_t aStatusCode, const std::string& aResponseText)
      : EclTcpClientError(aStatusLine, aStatusCode), FResponseText(aResponseText) {}
  const std::string& ResponseText() const { return FResponseText; }

private:
  std::string FResponseText;
};
