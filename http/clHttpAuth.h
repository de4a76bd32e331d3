#pragma once
// Answers to HTTP authentication challenges (WWW-Authenticate, Proxy-Authenticate) as the value of
// an Authorization or Proxy-Authorization field. TclHttpAuthorization is the base of the schemes
// and a process-wide registry of one object per scheme; Basic, Digest and Negotiate/NTLM are
// registered first, and later registrations are asked before earlier ones.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/clStringsUtils.h"
#include "http/clSspiAuth.h"
#include "http/clUriUtils.h"

class TclHttpAuthorization {
public:
  virtual ~TclHttpAuthorization() = default;

  // Answers aChallenge (one challenge value per line) for the request to aUrl; sets AuthValue
  // (empty: the scheme declines) and StartNewConnection. aContext identifies the asking client,
  // for schemes whose handshakes span several requests.
  virtual void Authenticate(const TclUrlParser& aUrl, const std::string& aMethod, const std::string& aUserName,
                            const std::string& aPassword, const TStrings& aChallenge, const void* aContext) = 0;
  bool StartNewConnection() const { return FStartNewConnection; }
  const std::string& AuthValue() const { return FAuthValue; }

  // Asks the registered schemes, the last registered first; true when one produced a value.
  static bool Authorize(const TclUrlParser& aUrl, const std::string& aMethod, const std::string& aUserName,
                        const std::string& aPassword, const TStrings& aAuthChallenge, const void* aContext,
                        bool& aStartNewConnection, std::string& aAuthValue);
  // The registry owns the scheme from then on.
  static void RegisterAuthorization(std::unique_ptr<TclHttpAuthorization> aAuthorization);
  static std::vector<TclHttpAuthorization*> RegisteredAuthorizations();

protected:
  // The first challenge line that mentions the scheme anywhere (case-insensitive), or empty.
  static std::string FindChallenge(const TStrings& aChallenge, const std::string& aScheme);

  bool FStartNewConnection = false;
  std::string FAuthValue;
};

// RFC 2617 Basic: "Basic " + Base64 of user ":" password.
class TclHttpBasicAuthorization : public TclHttpAuthorization {
public:
  void Authenticate(const TclUrlParser& aUrl, const std::string& aMethod, const std::string& aUserName,
                    const std::string& aPassword, const TStrings& aChallenge, const void* aContext) override;
};

// One Digest challenge and the answer built from it.
class TclDigestChallenge {
public:
  // Reads the items of a challenge line ("Digest realm=..., nonce=..., qop=...").
  void Parse(const std::string& aChallenge);
  // The Authorization value for Password with MD5 or MD5-sess; empty for any other algorithm.
  std::string BuildAuthorization(const std::string& aPassword);

  bool Stale() const { return FStale; }
  const std::string& Realm() const { return FRealm; }
  const std::string& Algorithm() const { return FAlgorithm; }
  const std::string& QopOptions() const { return FQopOptions; }
  const std::string& Nonce() const { return FNonce; }
  const std::string& Domain() const { return FDomain; }
  const std::string& Opaque() const { return FOpaque; }
  uint32_t NonceCount() const { return FNonceCount; }
  void SetNonceCount(uint32_t aValue) { FNonceCount = aValue; }
  const std::string& UserName() const { return FUserName; }
  void SetUserName(const std::string& aValue) { FUserName = aValue; }
  const std::string& ClientNonce() const { return FClientNonce; }
  void SetClientNonce(const std::string& aValue) { FClientNonce = aValue; }
  // The response digest of the last BuildAuthorization.
  const std::string& Response() const { return FResponse; }
  const std::string& Uri() const { return FUri; }
  void SetUri(const std::string& aValue) { FUri = aValue; }
  const std::string& Method() const { return FMethod; }
  void SetMethod(const std::string& aValue) { FMethod = aValue; }
  const std::string& CharSet() const { return FCharSet; }

  // "ab" + the local time and tick counts in hexadecimal: unique per request.
  static std::string NewClientNonce();

private:
  bool FStale = false;
  std::string FRealm;
  std::string FAlgorithm;
  std::string FQopOptions;
  std::string FNonce;
  std::string FDomain;
  std::string FOpaque;
  uint32_t FNonceCount = 0;
  std::string FUserName;
  std::string FClientNonce;
  std::string FResponse;
  std::string FUri;
  std::string FMethod;
  std::string FCharSet;
};

// RFC 2617 Digest with MD5 and MD5-sess, qop auth.
class TclHttpDigestAuthorization : public TclHttpAuthorization {
public:
  void Authenticate(const TclUrlParser& aUrl, const std::string& aMethod, const std::string& aUserName,
                    const std::string& aPassword, const TStrings& aChallenge, const void* aContext) override;
};

// Negotiate (preferred when offered) and NTLM: a handshake of several requests per asking client,
// each step answering the server's token with "<scheme> <Base64 token>".
class TclHttpNtlmAuthorization : public TclHttpAuthorization {
public:
  // Security context requirements: delegation, mutual authentication, replay and sequence
  // detection, confidentiality, integrity, connection semantics, package-allocated buffers.
  static constexpr uint32_t ContextRequirements = 0x1091F;

  void Authenticate(const TclUrlParser& aUrl, const std::string& aMethod, const std::string& aUserName,
                    const std::string& aPassword, const TStrings& aChallenge, const void* aContext) override;
  // Frees every running handshake.
  void CloseSessions();
  // The keys of the running handshakes: each asking client's identity in decimal.
  TStrings Sessions() const;

private:
  std::map<std::string, std::unique_ptr<TclSspiClientContext>> FSessions;
};
