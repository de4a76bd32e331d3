#pragma once
// A certificate authority made at test time: a CA certificate and server certificates signed by
// it (valid, expired, for another host name, or self-signed), written as PEM files into a scratch
// folder, for TLS servers (nginx, openssl s_server, the python fixtures) that tests start.
#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace zvtest {

enum class TestKeyType { EcP256, Rsa2048 };

struct TestCertOptions {
  // Subject alternative names; texts that are IP addresses become IP entries. The first one is
  // also the common name.
  std::vector<std::string> Names{"localhost", "127.0.0.1", "::1"};
  // Validity relative to now, in days (negative: in the past).
  int NotBeforeDays = -1;
  int NotAfterDays = 365;
  TestKeyType KeyType = TestKeyType::EcP256;
  // Signed by its own key instead of the CA's.
  bool SelfSigned = false;
  // Extended key usage ("serverAuth", "clientAuth", or both joined by a comma).
  std::string ExtendedKeyUsage = "serverAuth";
};

struct TestCert {
  std::string CertFile;   // the certificate alone
  std::string KeyFile;    // its private key (unencrypted PKCS#8)
  std::string ChainFile;  // the certificate followed by the CA certificate (what servers send)
};

class TestCa {
public:
  // Makes the CA's key and certificate ("Zentavo Test CA") in a scratch folder of its own.
  explicit TestCa(TestKeyType aKeyType = TestKeyType::EcP256);
  ~TestCa();
  TestCa(const TestCa&) = delete;
  TestCa& operator=(const TestCa&) = delete;

  const std::string& Folder() const { return FDir.Path(); }
  const std::string& CertFile() const { return FCertFile; }  // the CA certificate, PEM
  std::string CertPem() const;

  // Issues a certificate with files <aLabel>.crt, <aLabel>.key and <aLabel>-chain.crt.
  TestCert Issue(const std::string& aLabel, const TestCertOptions& aOptions = {});

  // The common cases: valid for localhost, 127.0.0.1 and ::1; the same names but expired
  // yesterday; valid but only for "wrong.host.invalid"; valid names but self-signed.
  TestCert Server();
  TestCert Expired();
  TestCert WrongHost();
  TestCert SelfSigned();

private:
  struct Keys;
  TempDir FDir;
  std::string FCertFile;
  std::unique_ptr<Keys> FKeys;
  long FSerial = 1;
};

}  // namespace zvtest
