#include "http/clSspiAuth.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>

#include "common/clStringsUtils.h"
#include "common/clTranslator.h"

namespace {

// SPNEGO (RFC 4178) carries the Negotiate scheme; the NTLMSSP mechanism the NTLM one.
gss_OID_desc SpnegoMechanism = {6, const_cast<char*>("\x2b\x06\x01\x05\x05\x02")};
gss_OID_desc NtlmMechanism = {10, const_cast<char*>("\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a")};

gss_OID Mechanism(const std::string& aPackage) {
  return TclStringsUtils::SameText(aPackage, "NTLM") ? &NtlmMechanism : &SpnegoMechanism;
}

// The context requirement bits of the Windows security package that GSSAPI knows; connection
// semantics and package-allocated buffers are how GSSAPI always works.
OM_uint32 GssFlags(uint32_t aRequirements) {
  struct TBit {
    uint32_t Requirement;
    OM_uint32 Flag;
  };
  static const TBit bits[] = {{0x1, GSS_C_DELEG_FLAG},    {0x2, GSS_C_MUTUAL_FLAG},
                              {0x4, GSS_C_REPLAY_FLAG},   {0x8, GSS_C_SEQUENCE_FLAG},
                              {0x10, GSS_C_CONF_FLAG},    {0x10000, GSS_C_INTEG_FLAG}};
  OM_uint32 flags = 0;
  for (const auto& bit : bits)
    if (aRequirements & bit.Requirement) flags |= bit.Flag;
  return flags;
}

// The package's own words for a failure, major and minor status.
std::string StatusText(OM_uint32 aStatus, int aType, gss_OID aMechanism) {
  std::string text;
  OM_uint32 context = 0;
  do {
    OM_uint32 minor = 0;
    gss_buffer_desc message = GSS_C_EMPTY_BUFFER;
    if (GSS_ERROR(gss_display_status(&minor, aStatus, aType, aMechanism, &context, &message))) break;
    if (!text.empty()) text += "; ";
    text.append(static_cast<const char*>(message.value), message.length);
    gss_release_buffer(&minor, &message);
  } while (context != 0);
  return text;
}

[[noreturn]] void RaiseError(const std::string& aStep, OM_uint32 aMajor, OM_uint32 aMinor, gss_OID aMechanism,
                             int32_t aCode) {
  std::string message = aStep + ": " + StatusText(aMajor, GSS_C_GSS_CODE, GSS_C_NO_OID);
  const std::string detail = aMinor ? StatusText(aMinor, GSS_C_MECH_CODE, aMechanism) : std::string();
  if (!detail.empty()) message += " (" + detail + ")";
  throw EclSSPIError(message, aCode);
}

gss_name_t ImportName(const std::string& aText, gss_OID aType) {
  OM_uint32 minor = 0;
  gss_buffer_desc buffer = {aText.size(), const_cast<char*>(aText.data())};
  gss_name_t name = GSS_C_NO_NAME;
  const OM_uint32 major = gss_import_name(&minor, &buffer, aType, &name);
  if (GSS_ERROR(major)) RaiseError("Cannot read the name \"" + aText + "\"", major, minor, GSS_C_NO_OID,
                                   clSspiAcquireCredentialsError);
  return name;
}

}  // namespace

// ---- TclAuthIdentity ----

TclAuthIdentity::TclAuthIdentity(const std::string& aUser, const std::string& aDomain, const std::string& aPassword)
    : FUser(TclTranslator::GetBytes(aUser, std::string())),
      FPassword(TclTranslator::GetBytes(aPassword, std::string())),
      FDomain(TclTranslator::GetBytes(aDomain, std::string())) {}

namespace {

// The first backslash separates domain and user; without one, the first slash.
std::pair<std::string, std::string> SplitUserText(const std::string& aUserText) {
  size_t separator = aUserText.find('\\');
  if (separator == std::string::npos) separator = aUserText.find('/');
  if (separator == std::string::npos) return {std::string(), aUserText};
  return {aUserText.substr(0, separator), aUserText.substr(separator + 1)};
}

}  // namespace

TclAuthIdentity::TclAuthIdentity(const std::string& aUserText, const std::string& aPassword)
    : TclAuthIdentity(SplitUserText(aUserText).second, SplitUserText(aUserText).first, aPassword) {}

std::string TclAuthIdentity::PrincipalName(const std::string& aPackage) const {
  if (FDomain.empty()) return FUser;
  if (TclStringsUtils::SameText(aPackage, "NTLM")) return FDomain + "\\" + FUser;
  return FUser + "@" + FDomain;
}

// ---- TclSspiClientContext ----

TclSspiClientContext::TclSspiClientContext(const std::string& aPackage, const TclAuthIdentity* aIdentity,
                                           const std::string& aTargetName, uint32_t aContextRequirements)
    : FPackage(aPackage), FTargetName(aTargetName), FFlags(GssFlags(aContextRequirements)) {
  // "HTTP/host" is the service principal; GSSAPI names it in the host-based form "HTTP@host".
  std::string service = aTargetName;
  const size_t slash = service.find('/');
  if (slash != std::string::npos) service[slash] = '@';
  FTarget = ImportName(service, GSS_C_NT_HOSTBASED_SERVICE);

  gss_OID mechanism = Mechanism(FPackage);
  gss_OID_set_desc mechanisms = {1, mechanism};
  OM_uint32 minor = 0;
  OM_uint32 major;
  if (aIdentity) {
    gss_name_t user = GSS_C_NO_NAME;
    try {
      user = ImportName(aIdentity->PrincipalName(FPackage), GSS_C_NT_USER_NAME);
    } catch (...) {
      gss_release_name(&minor, &FTarget);
      throw;
    }
    gss_buffer_desc password = {aIdentity->Password().size(), const_cast<char*>(aIdentity->Password().data())};
    major = gss_acquire_cred_with_password(&minor, user, &password, GSS_C_INDEFINITE, &mechanisms, GSS_C_INITIATE,
                                           &FCredentials, nullptr, nullptr);
    OM_uint32 ignored = 0;
    gss_release_name(&ignored, &user);
  } else {
    major = gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mechanisms, GSS_C_INITIATE, &FCredentials,
                             nullptr, nullptr);
  }
  if (GSS_ERROR(major)) {
    OM_uint32 ignored = 0;
    gss_release_name(&ignored, &FTarget);
    RaiseError("No " + FPackage + " credentials", major, minor, mechanism, clSspiAcquireCredentialsError);
  }
}

TclSspiClientContext::~TclSspiClientContext() {
  OM_uint32 minor = 0;
  if (FContext) gss_delete_sec_context(&minor, &FContext, GSS_C_NO_BUFFER);
  if (FCredentials) gss_release_cred(&minor, &FCredentials);
  if (FTarget) gss_release_name(&minor, &FTarget);
}

std::string TclSspiClientContext::InitializeSecurityContext(const std::string& aServerToken) {
  gss_buffer_desc input = {aServerToken.size(), const_cast<char*>(aServerToken.data())};
  gss_buffer_desc output = GSS_C_EMPTY_BUFFER;
  OM_uint32 minor = 0;
  const OM_uint32 major =
      gss_init_sec_context(&minor, FCredentials, &FContext, FTarget, Mechanism(FPackage), FFlags, GSS_C_INDEFINITE,
                           GSS_C_NO_CHANNEL_BINDINGS, aServerToken.empty() ? GSS_C_NO_BUFFER : &input, nullptr,
                           &output, nullptr, nullptr);
  std::string token(static_cast<const char*>(output.value), output.length);
  OM_uint32 ignored = 0;
  gss_release_buffer(&ignored, &output);
  if (GSS_ERROR(major)) {
    const bool badToken = GSS_ROUTINE_ERROR(major) == GSS_S_DEFECTIVE_TOKEN;
    const bool refused = GSS_ROUTINE_ERROR(major) == GSS_S_NO_CRED ||
                         GSS_ROUTINE_ERROR(major) == GSS_S_DEFECTIVE_CREDENTIAL ||
                         GSS_ROUTINE_ERROR(major) == GSS_S_CREDENTIALS_EXPIRED;
    RaiseError("The " + FPackage + " handshake with " + FTargetName + " failed", major, minor, Mechanism(FPackage),
               badToken ? clSspiInvalidToken : refused ? clSspiLogonDenied : clSspiInternalError);
  }
  FCompleted = !(major & GSS_S_CONTINUE_NEEDED);
  return token;
}
