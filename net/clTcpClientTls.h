#pragma once
// A TCP client that can secure its connection with TLS: from the start (implicit), on request on
// an open connection (explicit), or chosen by the port (automatic).
#include <functional>
#include <memory>
#include <string>

#include "net/clTcpClient.h"
#include "net/clTlsSocket.h"

enum TclClientTlsMode { ctNone, ctAutomatic, ctImplicit, ctExplicit };

class TclTcpClientTls : public TclTcpClient {
public:
  TclTcpClientTls() = default;

  TclClientTlsMode UseTLS() const { return FUseTLS; }
  virtual void SetUseTLS(TclClientTlsMode aValue);
  TclCertificateVerifyFlags CertificateFlags() const { return FSettings.CertificateFlags; }
  void SetCertificateFlags(TclCertificateVerifyFlags aValue) { StoreProperty(FSettings.CertificateFlags, aValue); }
  TclTlsFlags TLSFlags() const { return FSettings.TLSFlags; }
  void SetTLSFlags(TclTlsFlags aValue) { StoreProperty(FSettings.TLSFlags, aValue); }
  bool SendRootCertificate() const { return FSettings.SendRootCertificate; }
  void SetSendRootCertificate(bool aValue) { StoreProperty(FSettings.SendRootCertificate, aValue); }
  bool UseStrongCryptoAlgorithms() const { return FSettings.UseStrongCryptoAlgorithms; }
  void SetUseStrongCryptoAlgorithms(bool aValue) { StoreProperty(FSettings.UseStrongCryptoAlgorithms, aValue); }
  const std::string& CSP() const { return FSettings.CSP; }
  void SetCSP(const std::string& aValue) { StoreProperty(FSettings.CSP, aValue); }

  // When UseTLS is ctExplicit, or ctAutomatic on the default port: starts TLS and returns true.
  bool ExplicitStartTls();
  // Starts TLS on the open connection (the handshake runs before it returns).
  virtual void StartTls();
  // Whether the connection's stream is a TLS stream.
  bool IsTls() const;

  std::function<void(TclTcpClientTls* Sender, std::unique_ptr<TclCertificate>& ACertificate,
                     TclCertificateList& AExtraCerts, bool& Handled)>
      OnGetCertificate;
  std::function<void(TclTcpClientTls* Sender, TclCertificate* ACertificate, const std::string& AStatusText,
                     int32_t AStatusCode, bool& AVerified)>
      OnVerifyServer;

protected:
  std::unique_ptr<TclNetworkStream> CreateNetworkStream() override;
  virtual void DoGetCertificate(std::unique_ptr<TclCertificate>& aCertificate, TclCertificateList& aExtraCerts,
                                bool& aHandled);
  virtual void DoVerifyServer(TclCertificate* aCertificate, const std::string& aStatusText, int32_t aStatusCode,
                              bool& aVerified);
  std::unique_ptr<TclTlsNetworkStream> CreateTlsStream();

private:
  TclClientTlsMode FUseTLS = ctNone;
  TclTlsSettings FSettings;
};
