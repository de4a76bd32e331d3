#include "net/clTcpClientTls.h"

#include "net/clSocks.h"

void TclTcpClientTls::SetUseTLS(TclClientTlsMode aValue) { StoreProperty(FUseTLS, aValue); }

std::unique_ptr<TclNetworkStream> TclTcpClientTls::CreateNetworkStream() {
  if (FUseTLS == ctImplicit || (FUseTLS == ctAutomatic && Port() != GetDefaultPort())) return CreateTlsStream();
  return TclTcpClient::CreateNetworkStream();
}

std::unique_ptr<TclTlsNetworkStream> TclTcpClientTls::CreateTlsStream() {
  auto stream = std::make_unique<TclTlsNetworkStream>();
  stream->SetSettings(FSettings);
  stream->SetTargetName(Server());
  stream->OnGetCertificate = [this](TclTlsNetworkStream*, std::unique_ptr<TclCertificate>& aCertificate,
                                    TclCertificateList& aExtraCerts, bool& aHandled) {
    DoGetCertificate(aCertificate, aExtraCerts, aHandled);
  };
  stream->OnVerifyPeer = [this](TclTlsNetworkStream*, TclCertificate* aCertificate, const std::string& aStatusText,
                                int32_t aStatusCode, bool& aVerified) {
    DoVerifyServer(aCertificate, aStatusText, aStatusCode, aVerified);
  };
  return stream;
}

bool TclTcpClientTls::ExplicitStartTls() {
  if (FUseTLS == ctExplicit || (FUseTLS == ctAutomatic && Port() == GetDefaultPort())) {
    StartTls();
    return true;
  }
  return false;
}

void TclTcpClientTls::StartTls() {
  if (FUseTLS == ctNone) SetUseTLS(ctExplicit);
  try {
    Connection()->SetNetworkStream(CreateTlsStream());
    Connection()->OpenSession();
  } catch (...) {
    CleanUpAfterFailure();
    throw;
  }
}

bool TclTcpClientTls::IsTls() const {
  TclNetworkStream* stream = Connection()->NetworkStream();
  if (auto* socks = dynamic_cast<TclSocksNetworkStream*>(stream)) stream = socks->BaseStream();
  return dynamic_cast<TclTlsNetworkStream*>(stream) != nullptr;
}

void TclTcpClientTls::DoGetCertificate(std::unique_ptr<TclCertificate>& aCertificate, TclCertificateList& aExtraCerts,
                                       bool& aHandled) {
  if (OnGetCertificate) OnGetCertificate(this, aCertificate, aExtraCerts, aHandled);
}

void TclTcpClientTls::DoVerifyServer(TclCertificate* aCertificate, const std::string& aStatusText, int32_t aStatusCode,
                                     bool& aVerified) {
  if (OnVerifyServer) OnVerifyServer(this, aCertificate, aStatusText, aStatusCode, aVerified);
}
