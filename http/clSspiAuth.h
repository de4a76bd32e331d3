#pragma once
// The client side of the Negotiate and NTLM handshakes over GSSAPI (MIT Kerberos; NTLM through the
// gss-ntlmssp mechanism): credentials of a given user or of the logged-on one, and a client
// security context that turns each server token into the next client token.
#include <cstdint>
#include <string>

#include "net/clSspiTls.h"

struct gss_name_struct;
struct gss_cred_id_struct;
struct gss_ctx_id_struct;

constexpr int32_t clSspiInternalError = SspiStatus(0x80090304);
constexpr int32_t clSspiLogonDenied = SspiStatus(0x8009030C);

// A user, a password and a domain, as text for the security package (narrow code page bytes).
class TclAuthIdentity {
public:
  TclAuthIdentity(const std::string& aUser, const std::string& aDomain, const std::string& aPassword);
  // aUserText is "domain\user", "domain/user" or a bare user name.
  TclAuthIdentity(const std::string& aUserText, const std::string& aPassword);

  const std::string& User() const { return FUser; }
  const std::string& Password() const { return FPassword; }
  const std::string& Domain() const { return FDomain; }
  // The user's name as the package of aPackage reads it: "domain\user" for NTLM, "user@domain"
  // (a Kerberos principal in the realm) for Negotiate; the bare user without a domain.
  std::string PrincipalName(const std::string& aPackage) const;

private:
  std::string FUser;
  std::string FPassword;
  std::string FDomain;
};

// One running handshake of the package "Negotiate" or "NTLM" towards aTargetName ("HTTP/host").
class TclSspiClientContext {
public:
  // aIdentity null: the credentials of the logged-on user. Raises EclSSPIError with
  // clSspiAcquireCredentialsError when the package or the credentials are unavailable.
  TclSspiClientContext(const std::string& aPackage, const TclAuthIdentity* aIdentity,
                       const std::string& aTargetName, uint32_t aContextRequirements);
  ~TclSspiClientContext();
  TclSspiClientContext(const TclSspiClientContext&) = delete;
  TclSspiClientContext& operator=(const TclSspiClientContext&) = delete;

  // One step: the server's token in (empty in the first step), the client's next token out.
  // Raises EclSSPIError when the package refuses the step.
  std::string InitializeSecurityContext(const std::string& aServerToken);
  // The package reported the handshake complete.
  bool Completed() const { return FCompleted; }
  const std::string& TargetName() const { return FTargetName; }

private:
  std::string FPackage;
  std::string FTargetName;
  uint32_t FFlags = 0;
  gss_name_struct* FTarget = nullptr;
  gss_cred_id_struct* FCredentials = nullptr;
  gss_ctx_id_struct* FContext = nullptr;
  bool FCompleted = false;
};
