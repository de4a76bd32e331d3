#include "tests/support/TestCa.h"

#include <arpa/inet.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>

namespace zvtest {

namespace {

struct KeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct CertFree {
  void operator()(X509* p) const { X509_free(p); }
};
using TKey = std::unique_ptr<EVP_PKEY, KeyFree>;
using TCert = std::unique_ptr<X509, CertFree>;

void Check(bool aOk, const char* aWhat) {
  if (!aOk) throw std::runtime_error(std::string("test CA: ") + aWhat + " failed");
}

TKey MakeKey(TestKeyType aType) {
  EVP_PKEY* key = aType == TestKeyType::Rsa2048 ? EVP_RSA_gen(2048) : EVP_EC_gen("P-256");
  Check(key != nullptr, "key generation");
  return TKey(key);
}

bool IsIpAddress(const std::string& aText) {
  unsigned char buf[16];
  return inet_pton(AF_INET, aText.c_str(), buf) == 1 || inet_pton(AF_INET6, aText.c_str(), buf) == 1;
}

void AddExtension(X509* aCert, X509* aIssuer, int aNid, const std::string& aValue) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, aIssuer, aCert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, aNid, aValue.c_str());
  Check(ext != nullptr, "certificate extension");
  Check(X509_add_ext(aCert, ext, -1) == 1, "adding an extension");
  X509_EXTENSION_free(ext);
}

void SetName(X509_NAME* aName, const std::string& aCommonName) {
  X509_NAME_add_entry_by_txt(aName, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Zentavo Tests"), -1,
                             -1, 0);
  X509_NAME_add_entry_by_txt(aName, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(aCommonName.c_str()),
                             -1, -1, 0);
}

// A certificate for aKey named aCommonName, signed by aIssuerKey as aIssuer (itself when null).
TCert MakeCert(EVP_PKEY* aKey, const std::string& aCommonName, long aSerial, int aNotBeforeDays, int aNotAfterDays,
               X509* aIssuer, EVP_PKEY* aIssuerKey) {
  TCert cert(X509_new());
  Check(cert != nullptr, "X509_new");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), aSerial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), long(aNotBeforeDays) * 86400);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), long(aNotAfterDays) * 86400);
  X509_set_pubkey(cert.get(), aKey);
  SetName(X509_get_subject_name(cert.get()), aCommonName);
  X509_set_issuer_name(cert.get(), X509_get_subject_name(aIssuer ? aIssuer : cert.get()));
  return cert;
}

void Sign(X509* aCert, EVP_PKEY* aKey) { Check(X509_sign(aCert, aKey, EVP_sha256()) > 0, "signing"); }

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};

std::unique_ptr<FILE, FileCloser> OpenForWriting(const std::string& aPath) {
  FILE* f = fopen(aPath.c_str(), "wb");
  Check(f != nullptr, ("opening " + aPath).c_str());
  return std::unique_ptr<FILE, FileCloser>(f);
}

void WriteCerts(const std::string& aPath, const std::vector<X509*>& aCerts) {
  auto f = OpenForWriting(aPath);
  for (X509* c : aCerts) Check(PEM_write_X509(f.get(), c) == 1, "writing a certificate");
}

void WriteKey(const std::string& aPath, EVP_PKEY* aKey) {
  auto f = OpenForWriting(aPath);
  Check(PEM_write_PrivateKey(f.get(), aKey, nullptr, nullptr, 0, nullptr, nullptr) == 1, "writing a key");
}

}  // namespace

struct TestCa::Keys {
  TKey Key;
  TCert Cert;
};

TestCa::TestCa(TestKeyType aKeyType) : FKeys(std::make_unique<Keys>()) {
  FKeys->Key = MakeKey(aKeyType);
  FKeys->Cert = MakeCert(FKeys->Key.get(), "Zentavo Test CA", FSerial++, -2, 3650, nullptr, nullptr);
  X509* c = FKeys->Cert.get();
  AddExtension(c, c, NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(c, c, NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(c, c, NID_subject_key_identifier, "hash");
  Sign(c, FKeys->Key.get());
  FCertFile = FDir.File("ca.crt");
  WriteCerts(FCertFile, {c});
  WriteKey(FDir.File("ca.key"), FKeys->Key.get());
}

TestCa::~TestCa() = default;

std::string TestCa::CertPem() const { return ReadFile(FCertFile); }

TestCert TestCa::Issue(const std::string& aLabel, const TestCertOptions& aOptions) {
  Check(!aOptions.Names.empty(), "a certificate without names");
  TKey key = MakeKey(aOptions.KeyType);
  X509* issuer = aOptions.SelfSigned ? nullptr : FKeys->Cert.get();
  EVP_PKEY* issuerKey = aOptions.SelfSigned ? key.get() : FKeys->Key.get();
  TCert cert = MakeCert(key.get(), aOptions.Names.front(), FSerial++, aOptions.NotBeforeDays, aOptions.NotAfterDays,
                        issuer, issuerKey);
  X509* c = cert.get();
  X509* signer = issuer ? issuer : c;
  std::string san;
  for (const auto& name : aOptions.Names) {
    if (!san.empty()) san += ",";
    san += (IsIpAddress(name) ? "IP:" : "DNS:") + name;
  }
  AddExtension(c, signer, NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(c, signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
  AddExtension(c, signer, NID_ext_key_usage, aOptions.ExtendedKeyUsage);
  AddExtension(c, signer, NID_subject_alt_name, san);
  AddExtension(c, signer, NID_subject_key_identifier, "hash");
  AddExtension(c, signer, NID_authority_key_identifier, "keyid:always");
  Sign(c, issuerKey);

  TestCert result{FDir.File(aLabel + ".crt"), FDir.File(aLabel + ".key"), FDir.File(aLabel + "-chain.crt")};
  WriteCerts(result.CertFile, {c});
  WriteKey(result.KeyFile, key.get());
  if (issuer)
    WriteCerts(result.ChainFile, {c, issuer});
  else
    WriteCerts(result.ChainFile, {c});
  return result;
}

TestCert TestCa::Server() { return Issue("server"); }

TestCert TestCa::Expired() {
  TestCertOptions o;
  o.NotBeforeDays = -30;
  o.NotAfterDays = -1;
  return Issue("expired", o);
}

TestCert TestCa::WrongHost() {
  TestCertOptions o;
  o.Names = {"wrong.host.invalid"};
  return Issue("wronghost", o);
}

TestCert TestCa::SelfSigned() {
  TestCertOptions o;
  o.SelfSigned = true;
  return Issue("selfsigned", o);
}

}  // namespace zvtest
