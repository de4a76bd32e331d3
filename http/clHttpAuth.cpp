#include "http/clHttpAuth.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <mutex>

#include "common/clDateTime.h"
#include "common/clTranslator.h"
#include "http/clHeaderFieldList.h"
#include "http/clMd5.h"

namespace {

// Credentials go out as bytes of the platform's narrow character set.
std::string CredentialBytes(const std::string& aText) { return TclTranslator::GetBytes(aText, std::string()); }

std::string Base64(const std::string& aBytes) {
  std::string out(4 * ((aBytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                     reinterpret_cast<const unsigned char*>(aBytes.data()), int(aBytes.size()));
  out.resize(size_t(length));
  return out;
}

// Decodes a server token; raises EclSSPIError for text that is not Base64.
std::string FromBase64(const std::string& aText) {
  if (aText.size() % 4 != 0) throw EclSSPIError("The server's authentication token is not Base64", clSspiInvalidToken);
  std::string out(aText.size() / 4 * 3, '\0');
  const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                     reinterpret_cast<const unsigned char*>(aText.data()), int(aText.size()));
  if (length < 0) throw EclSSPIError("The server's authentication token is not Base64", clSspiInvalidToken);
  // The block decoder counts the padding as zero bytes.
  size_t padding = 0;
  for (size_t i = aText.size(); i > 0 && aText[i - 1] == '=' && padding < 2; --i) ++padding;
  out.resize(size_t(length) - padding);
  return out;
}

// Digest hashes are taken over the text in the credentials' character set.
std::string DigestHash(const std::string& aText) { return Md5Hex(CredentialBytes(aText)); }

// The value in double quotes unless it already begins or ends with one.
std::string Quoted(const std::string& aValue) {
  if (!aValue.empty() && (aValue.front() == '"' || aValue.back() == '"')) return aValue;
  return "\"" + aValue + "\"";
}

struct TRegistry {
  std::mutex Lock;
  std::vector<std::unique_ptr<TclHttpAuthorization>> Items;
  TRegistry() {
    Items.push_back(std::make_unique<TclHttpBasicAuthorization>());
    Items.push_back(std::make_unique<TclHttpDigestAuthorization>());
    Items.push_back(std::make_unique<TclHttpNtlmAuthorization>());
  }
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

}  // namespace

// ---- registry ----

bool TclHttpAuthorization::Authorize(const TclUrlParser& aUrl, const std::string& aMethod,
                                     const std::string& aUserName, const std::string& aPassword,
                                     const TStrings& aAuthChallenge, const void* aContext, bool& aStartNewConnection,
                                     std::string& aAuthValue) {
  TRegistry& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.Lock);
  for (auto it = registry.Items.rbegin(); it != registry.Items.rend(); ++it) {
    (*it)->Authenticate(aUrl, aMethod, aUserName, aPassword, aAuthChallenge, aContext);
    if (!(*it)->AuthValue().empty()) {
      aStartNewConnection = (*it)->StartNewConnection();
      aAuthValue = (*it)->AuthValue();
      return true;
    }
  }
  aStartNewConnection = false;
  aAuthValue.clear();
  return false;
}

void TclHttpAuthorization::RegisterAuthorization(std::unique_ptr<TclHttpAuthorization> aAuthorization) {
  if (!aAuthorization) return;
  TRegistry& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.Lock);
  registry.Items.push_back(std::move(aAuthorization));
}

std::vector<TclHttpAuthorization*> TclHttpAuthorization::RegisteredAuthorizations() {
  TRegistry& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.Lock);
  std::vector<TclHttpAuthorization*> result;
  for (const auto& item : registry.Items) result.push_back(item.get());
  return result;
}

std::string TclHttpAuthorization::FindChallenge(const TStrings& aChallenge, const std::string& aScheme) {
  const std::string scheme = TclStringsUtils::LowerCase(aScheme);
  for (const auto& line : aChallenge)
    if (TclStringsUtils::LowerCase(line).find(scheme) != std::string::npos) return line;
  return std::string();
}

// ---- Basic ----

void TclHttpBasicAuthorization::Authenticate(const TclUrlParser&, const std::string&, const std::string& aUserName,
                                             const std::string& aPassword, const TStrings& aChallenge, const void*) {
  FStartNewConnection = false;
  FAuthValue.clear();
  if (FindChallenge(aChallenge, "basic").empty() || (aUserName.empty() && aPassword.empty())) return;
  FAuthValue = "Basic " + Base64(CredentialBytes(aUserName + (aUserName.empty() ? "" : ":") + aPassword));
  FStartNewConnection = true;
}

// ---- Digest ----

void TclDigestChallenge::Parse(const std::string& aChallenge) {
  TclHeaderFieldList items;
  auto item = [&](const char* aName) { return items.GetFieldValueItem(aChallenge, aName); };
  FRealm = item("realm");
  FDomain = item("domain");
  FNonce = item("nonce");
  FOpaque = item("opaque");
  FStale = TclStringsUtils::SameText(item("stale"), "true");
  FAlgorithm = item("algorithm");
  FQopOptions = item("qop");
  FCharSet = item("charset");
  FUserName = item("username");
  FUri = item("uri");
  FClientNonce = item("cnonce");
  FNonceCount = uint32_t(std::strtoul(item("nc").c_str(), nullptr, 16));
  FResponse = item("response");
}

std::string TclDigestChallenge::NewClientNonce() {
  const TclLocalTime now = TclDateTime::NowLocal();
  const uint32_t ticks = uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now().time_since_epoch())
                                      .count());
  char text[64];
  std::snprintf(text, sizeof text, "ab%02x%02x%02x%02x%02x%04x%08x%08x", now.Month, now.Day, now.Hour, now.Minute,
                now.Second, now.Millisecond, ticks, ticks + 1);
  return text;
}

std::string TclDigestChallenge::BuildAuthorization(const std::string& aPassword) {
  FResponse.clear();
  const std::string algorithm = TclStringsUtils::LowerCase(FAlgorithm);
  std::string a1;
  if (algorithm.empty() || algorithm == "md5")
    a1 = FUserName + ":" + FRealm + ":" + aPassword;
  else if (algorithm == "md5-sess")
    a1 = DigestHash(FUserName + ":" + FRealm + ":" + aPassword) + ":" + FNonce + ":" + FClientNonce;
  else
    return std::string();
  const std::string a2 = FMethod + ":" + FUri;
  const bool hasQop = !FQopOptions.empty();
  std::string qop = FQopOptions;
  // "auth" among the offered options is chosen; anything else is echoed as offered.
  for (size_t start = 0; start <= FQopOptions.size();) {
    size_t comma = FQopOptions.find(',', start);
    if (comma == std::string::npos) comma = FQopOptions.size();
    if (TclStringsUtils::LowerCase(TclStringsUtils::Trim(FQopOptions.substr(start, comma - start))) == "auth") qop = "auth";
    start = comma + 1;
  }
  char nc[16];
  std::snprintf(nc, sizeof nc, "%08X", FNonceCount);
  FResponse = DigestHash(DigestHash(a1) + ":" + FNonce + ":" +
                     (hasQop ? std::string(nc) + ":" + FClientNonce + ":" + qop + ":" : std::string()) + DigestHash(a2));

  std::string value;
  auto add = [&](const char* aName, const std::string& aValue, bool aQuote) {
    if (aValue.empty()) return;
    value += (value.empty() ? "Digest " : ", ") + std::string(aName) + "=" + (aQuote ? Quoted(aValue) : aValue);
  };
  add("username", FUserName, true);
  add("realm", FRealm, true);
  if (hasQop) {
    add("qop", qop, true);
    add("algorithm", FAlgorithm, true);
  }
  add("uri", FUri, true);
  add("nonce", FNonce, true);
  if (hasQop) {
    add("nc", nc, false);
    add("cnonce", FClientNonce, true);
  }
  add("opaque", FOpaque, true);
  add("response", FResponse, true);
  return value;
}

void TclHttpDigestAuthorization::Authenticate(const TclUrlParser& aUrl, const std::string& aMethod,
                                              const std::string& aUserName, const std::string& aPassword,
                                              const TStrings& aChallenge, const void*) {
  FStartNewConnection = false;
  FAuthValue.clear();
  const std::string line = FindChallenge(aChallenge, "digest");
  if (line.empty() || aUserName.empty()) return;
  TclDigestChallenge challenge;
  challenge.Parse(line);
  challenge.SetUserName(aUserName);
  challenge.SetUri(aUrl.AbsolutePath());
  challenge.SetMethod(aMethod);
  if (!challenge.QopOptions().empty()) {
    challenge.SetClientNonce(TclDigestChallenge::NewClientNonce());
    challenge.SetNonceCount(1);
  }
  FAuthValue = challenge.BuildAuthorization(aPassword);
}

// ---- Negotiate and NTLM ----

void TclHttpNtlmAuthorization::Authenticate(const TclUrlParser& aUrl, const std::string&,
                                            const std::string& aUserName, const std::string& aPassword,
                                            const TStrings& aChallenge, const void* aContext) {
  FStartNewConnection = false;
  FAuthValue.clear();
  std::string scheme = "Negotiate";
  std::string line = FindChallenge(aChallenge, scheme);
  if (line.empty()) {
    scheme = "NTLM";
    line = FindChallenge(aChallenge, scheme);
  }
  if (line.empty()) return;
  std::string serverToken;
  bool startNewConnection = false;
  if (TclStringsUtils::SameText(line.substr(0, scheme.size()), scheme)) {
    serverToken = TclStringsUtils::Trim(line.substr(scheme.size()));
    startNewConnection = serverToken.empty();
  }
  const std::string key = std::to_string(reinterpret_cast<uintptr_t>(aContext));
  auto session = FSessions.find(key);
  // A challenge without a token starts over, whatever an earlier handshake of this client left.
  const bool starting = session == FSessions.end() || serverToken.empty();
  std::string token;
  try {
    if (starting) {
      const std::unique_ptr<TclAuthIdentity> identity =
          aUserName.empty() ? nullptr : std::make_unique<TclAuthIdentity>(aUserName, aPassword);
      auto context = std::make_unique<TclSspiClientContext>(scheme, identity.get(), "HTTP/" + aUrl.Host(),
                                                            ContextRequirements);
      session = FSessions.insert_or_assign(key, std::move(context)).first;
    }
    token = session->second->InitializeSecurityContext(FromBase64(serverToken));
  } catch (const EclSSPIError&) {
    FSessions.erase(key);
    // Without the package, credentials or a ticket for the server, the scheme cannot start and
    // leaves the challenge to the next one; a handshake that fails midway ends the call.
    if (starting && serverToken.empty()) return;
    throw;
  }
  if (session->second->Completed()) FSessions.erase(session);
  if (token.empty()) return;
  FAuthValue = scheme + " " + Base64(token);
  FStartNewConnection = startNewConnection;
}

void TclHttpNtlmAuthorization::CloseSessions() {
  std::lock_guard<std::mutex> lock(Registry().Lock);
  FSessions.clear();
}

TStrings TclHttpNtlmAuthorization::Sessions() const {
  std::lock_guard<std::mutex> lock(Registry().Lock);
  TStrings keys;
  for (const auto& session : FSessions) keys.push_back(session.first);
  return keys;
}
