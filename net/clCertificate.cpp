#include "net/clCertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "net/clSocketErrors.h"
#include "net/clSspiTls.h"

namespace {

std::string NameEntry(X509_NAME* aName, int aNid) {
  int index = X509_NAME_get_index_by_NID(aName, aNid, -1);
  if (index < 0) return "";
  unsigned char* text = nullptr;
  int length = ASN1_STRING_to_UTF8(&text, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(aName, index)));
  if (length < 0) return "";
  std::string result(reinterpret_cast<char*>(text), length);
  OPENSSL_free(text);
  return result;
}

// The simple display name: the common name, else the organization, else the first entry.
std::string DisplayName(X509_NAME* aName) {
  for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
    std::string text = NameEntry(aName, nid);
    if (!text.empty()) return text;
  }
  return "";
}

std::string OneLine(X509_NAME* aName) {
  BIO* bio = BIO_new(BIO_s_mem());
  X509_NAME_print_ex(bio, aName, 0, XN_FLAG_RFC2253);
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  std::string result(data, length);
  BIO_free(bio);
  return result;
}

std::string Hex(const unsigned char* aData, size_t aLength) {
  std::string result;
  char digits[3];
  for (size_t i = 0; i < aLength; ++i) {
    std::snprintf(digits, sizeof digits, "%02X", aData[i]);
    result += digits;
  }
  return result;
}

std::chrono::system_clock::time_point TimePoint(const ASN1_TIME* aTime) {
  tm t{};
  if (!aTime || ASN1_TIME_to_tm(aTime, &t) != 1) return {};
  return std::chrono::system_clock::from_time_t(timegm(&t));
}

std::string ObjectText(const ASN1_OBJECT* aObject, bool aName) {
  if (aName) {
    int nid = OBJ_obj2nid(aObject);
    if (nid != NID_undef) return OBJ_nid2ln(nid);
  }
  char text[128];
  OBJ_obj2txt(text, sizeof text, aObject, 1);
  return text;
}

}  // namespace

TclCertificate::TclCertificate(X509* aCertificate, EVP_PKEY* aPrivateKey)
    : FCertificate(aCertificate), FPrivateKey(aPrivateKey) {
  X509_up_ref(FCertificate);
  if (FPrivateKey) EVP_PKEY_up_ref(FPrivateKey);

  X509_NAME* subject = X509_get_subject_name(FCertificate);
  FIssuedTo = DisplayName(subject);
  FIssuedBy = DisplayName(X509_get_issuer_name(FCertificate));
  FSubject = OneLine(subject);
  FEmail = NameEntry(subject, NID_pkcs9_emailAddress);
  if (STACK_OF(OPENSSL_STRING)* emails = X509_get1_email(FCertificate)) {
    if (FEmail.empty() && sk_OPENSSL_STRING_num(emails) > 0) FEmail = sk_OPENSSL_STRING_value(emails, 0);
    X509_email_free(emails);
  }
  const ASN1_INTEGER* serial = X509_get0_serialNumber(FCertificate);
  FSerialNumber = Hex(ASN1_STRING_get0_data(serial), ASN1_STRING_length(serial));
  FValidFrom = TimePoint(X509_get0_notBefore(FCertificate));
  FValidTo = TimePoint(X509_get0_notAfter(FCertificate));
  uint32_t usage = X509_get_key_usage(FCertificate);
  FUsage = usage == UINT32_MAX ? 0 : usage;
  FVersion = static_cast<TclCertificateVersion>(std::clamp<long>(X509_get_version(FCertificate), 0, 2));

  const X509_ALGOR* signature = nullptr;
  X509_get0_signature(nullptr, &signature, FCertificate);
  const ASN1_OBJECT* signatureObject = nullptr;
  X509_ALGOR_get0(&signatureObject, nullptr, nullptr, signature);
  FSignatureAlgorithm = ObjectText(signatureObject, false);
  FSignatureAlgorithmName = ObjectText(signatureObject, true);
  ASN1_OBJECT* keyObject = nullptr;
  X509_PUBKEY_get0_param(&keyObject, nullptr, nullptr, nullptr, X509_get_X509_PUBKEY(FCertificate));
  if (keyObject) {
    FPublicKeyAlgorithm = ObjectText(keyObject, false);
    FPublicKeyAlgorithmName = ObjectText(keyObject, true);
  }
  if (EVP_PKEY* key = X509_get0_pubkey(FCertificate)) FKeyLength = EVP_PKEY_get_bits(key);

  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (X509_digest(FCertificate, EVP_sha1(), digest, &digestLength) == 1) FThumbprint = Hex(digest, digestLength);
  if (const ASN1_OCTET_STRING* keyId = X509_get0_subject_key_id(FCertificate))
    FSubjectKeyIdentifier = Hex(ASN1_STRING_get0_data(keyId), ASN1_STRING_length(keyId));
}

TclCertificate::~TclCertificate() {
  X509_free(FCertificate);
  EVP_PKEY_free(FPrivateKey);
}

std::unique_ptr<TclCertificate> TclCertificate::LoadFromFiles(const std::string& aCertFile, const std::string& aKeyFile) {
  X509* certificate = nullptr;
  EVP_PKEY* key = nullptr;
  if (FILE* f = std::fopen(aCertFile.c_str(), "rb")) {
    certificate = PEM_read_X509(f, nullptr, nullptr, nullptr);
    std::fclose(f);
  }
  if (FILE* f = std::fopen(aKeyFile.c_str(), "rb")) {
    key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    std::fclose(f);
  }
  if (!certificate || !key) {
    X509_free(certificate);
    EVP_PKEY_free(key);
    throw EclSSPIError(SspiErrorText(clSspiLocalCertificateError), clSspiLocalCertificateError);
  }
  auto result = std::make_unique<TclCertificate>(certificate, key);
  X509_free(certificate);
  EVP_PKEY_free(key);
  return result;
}

void TclCertificateList::Add(std::unique_ptr<TclCertificate> aCertificate) {
  if (!FOwnsCertificates) RaiseAssertion("clCertificate");
  FItems.push_back(aCertificate.release());
}

void TclCertificateList::AddFrom(const TclCertificateList& aSource) {
  for (TclCertificate* c : aSource.FItems)
    if (FOwnsCertificates)
      FItems.push_back(new TclCertificate(c->Handle(), c->PrivateKey()));
    else
      FItems.push_back(c);
}

void TclCertificateList::Delete(size_t aIndex) {
  TclCertificate* item = FItems.at(aIndex);
  FItems.erase(FItems.begin() + aIndex);
  if (FOwnsCertificates) delete item;
}

void TclCertificateList::Remove(TclCertificate* aCertificate) {
  FItems.erase(std::remove(FItems.begin(), FItems.end(), aCertificate), FItems.end());
}

void TclCertificateList::Clear() {
  if (FOwnsCertificates)
    for (TclCertificate* c : FItems) delete c;
  FItems.clear();
}
