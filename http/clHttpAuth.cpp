#include "http/clHttpAuth.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "common/clDateTime.h"
#include "common/clTranslator.h"
#include "http/clHeaderFieldList.h"

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

std::string Md5Hex(const std::string& aText) {
  const std::string bytes = CredentialBytes(aText);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
  static const char hex[] = "0123456789abcdef";
  std::string result;
  for (unsigned int i = 0; i < length; ++i) {
    result += hex[digest[i] >> 4];
    result += hex[digest[i] & 15];
  }
  return result;
}

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
    a1 = Md5Hex(FUserName + ":" + FRealm + ":" + aPassword) + ":" + FNonce + ":" + FClientNonce;
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
  FResponse = Md5Hex(Md5Hex(a1) + ":" + FNonce + ":" +
                     (hasQop ? std::string(nc) + ":" + FClientNonce + ":" + qop + ":" : std::string()) + Md5Hex(a2));

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
