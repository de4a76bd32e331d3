#pragma once
// Certificates as the TLS layer hands them to its owner: the server's certificate for checking,
// and client certificates (with their private key) for servers that ask for one.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct x509_st X509;
typedef struct evp_pkey_st EVP_PKEY;

enum TclCertificateVersion { cvVersion1, cvVersion2, cvVersion3 };

class TclCertificate {
public:
  // Keeps its own reference to aCertificate (and aPrivateKey, when given).
  explicit TclCertificate(X509* aCertificate, EVP_PKEY* aPrivateKey = nullptr);
  ~TclCertificate();
  TclCertificate(const TclCertificate&) = delete;
  TclCertificate& operator=(const TclCertificate&) = delete;

  // A certificate and its private key from PEM files; raises EclSSPIError when either cannot be read.
  static std::unique_ptr<TclCertificate> LoadFromFiles(const std::string& aCertFile, const std::string& aKeyFile);

  X509* Handle() const { return FCertificate; }
  EVP_PKEY* PrivateKey() const { return FPrivateKey; }

  const std::string& IssuedTo() const { return FIssuedTo; }
  const std::string& IssuedBy() const { return FIssuedBy; }
  const std::string& Email() const { return FEmail; }
  const std::string& SerialNumber() const { return FSerialNumber; }
  std::chrono::system_clock::time_point ValidFrom() const { return FValidFrom; }
  std::chrono::system_clock::time_point ValidTo() const { return FValidTo; }
  const std::string& FriendlyName() const { return FFriendlyName; }
  // Key usage bits as the certificate's keyUsage extension has them (0 when absent).
  uint32_t Usage() const { return FUsage; }
  TclCertificateVersion Version() const { return FVersion; }
  const std::string& SignatureAlgorithm() const { return FSignatureAlgorithm; }
  const std::string& SignatureAlgorithmName() const { return FSignatureAlgorithmName; }
  const std::string& PublicKeyAlgorithm() const { return FPublicKeyAlgorithm; }
  const std::string& PublicKeyAlgorithmName() const { return FPublicKeyAlgorithmName; }
  int32_t KeyLength() const { return FKeyLength; }
  const std::string& Subject() const { return FSubject; }
  // SHA-1 digest of the encoded certificate, upper-case hexadecimal.
  const std::string& Thumbprint() const { return FThumbprint; }
  const std::string& SubjectKeyIdentifier() const { return FSubjectKeyIdentifier; }

private:
  X509* FCertificate;
  EVP_PKEY* FPrivateKey;
  std::string FIssuedTo, FIssuedBy, FEmail, FSerialNumber, FFriendlyName;
  std::chrono::system_clock::time_point FValidFrom, FValidTo;
  uint32_t FUsage = 0;
  TclCertificateVersion FVersion = cvVersion1;
  std::string FSignatureAlgorithm, FSignatureAlgorithmName, FPublicKeyAlgorithm, FPublicKeyAlgorithmName;
  int32_t FKeyLength = 0;
  std::string FSubject, FThumbprint, FSubjectKeyIdentifier;
};

// A list of certificates that owns them or only refers to them.
class TclCertificateList {
public:
  explicit TclCertificateList(bool aOwnsCertificates = true) : FOwnsCertificates(aOwnsCertificates) {}
  ~TclCertificateList() { Clear(); }
  TclCertificateList(const TclCertificateList&) = delete;
  TclCertificateList& operator=(const TclCertificateList&) = delete;

  void Add(TclCertificate* aCertificate) { FItems.push_back(aCertificate); }
  // Only an owning list takes a certificate over.
  void Add(std::unique_ptr<TclCertificate> aCertificate);
  // Adds every certificate of aSource: an owning list adds its own copies.
  void AddFrom(const TclCertificateList& aSource);
  void Delete(size_t aIndex);
  // Takes the certificate out of the list without freeing it.
  void Remove(TclCertificate* aCertificate);
  void Clear();
  size_t Count() const { return FItems.size(); }
  TclCertificate* Items(size_t aIndex) const { return FItems.at(aIndex); }
  bool OwnsCertificates() const { return FOwnsCertificates; }

private:
  bool FOwnsCertificates;
  std::vector<TclCertificate*> FItems;
};
