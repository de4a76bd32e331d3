#pragma once
// URL parsing: splits absolute and relative URLs into their components, resolves a reference
// against a base URL and rebuilds the strings sent on the wire (AbsoluteUri, AbsolutePath) with
// percent-encoding in a character set and IDN host names. No component is ever decoded.
#include <cstdint>
#include <string>

enum TclUrlType { utUnknown, utFTP, utGOPHER, utHTTP, utHTTPS, utFILE, utNEWS, utMAILTO };

class TclUrlParser {
public:
  TclUrlParser() = default;
  explicit TclUrlParser(const std::string& aCharSet) : FCharSet(aCharSet) {}

  // Empties the seven text components and the port; CharSet stays.
  void Clear();
  // Copies the text components and the port, not CharSet.
  void Assign(const TclUrlParser& aSource);

  // Splits an absolute URL; a host without scheme gets "http", an absent port the default one.
  void Parse(const std::string& aFullUrl);
  // Resolves aRelativeUrl against aBaseUrl, normalising "." and ".." segments.
  void Parse(const std::string& aBaseUrl, const std::string& aRelativeUrl);

  // Percent-encodes aUrl's bytes in aCharSet; existing %XX sequences stay as they are.
  static std::string EncodeUrl(const std::string& aUrl, const std::string& aCharSet);

  // aLocalFolder + "/" + the last path segment of aFullUrl (aLocalFolder alone when the URL is empty).
  std::string GetLocalFileByURL(const std::string& aFullUrl, const std::string& aLocalFolder);
  // aFullUrl with its last path segment replaced by the file name of aLocalFile.
  std::string GetURLByLocalFile(const std::string& aFullUrl, const std::string& aLocalFile);

  // Default port of a scheme: ftp 21, gopher 70, http 80, https 443, others 0.
  static int32_t GetDefaultPort(const std::string& aScheme);

  TclUrlType UrlType() const;
  // Request target: path, query and fragment, encoded; the host itself when it is "*".
  std::string AbsolutePath() const;
  std::string AbsoluteUri() const;

  const std::string& Scheme() const { return FScheme; }
  void SetScheme(const std::string& aValue) { FScheme = aValue; }
  // Begins with "/" for absolute URLs.
  const std::string& Path() const { return FPath; }
  void SetPath(const std::string& aValue) { FPath = aValue; }
  const std::string& UserName() const { return FUserName; }
  void SetUserName(const std::string& aValue) { FUserName = aValue; }
  // Includes the leading "?".
  const std::string& QueryString() const { return FQueryString; }
  void SetQueryString(const std::string& aValue) { FQueryString = aValue; }
  // As written; AbsoluteUri sends it in its IDN form.
  const std::string& Host() const { return FHost; }
  void SetHost(const std::string& aValue) { FHost = aValue; }
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& aValue) { FPassword = aValue; }
  // 0: not given.
  int32_t Port() const { return FPort; }
  void SetPort(int32_t aValue) { FPort = aValue; }
  const std::string& CharSet() const { return FCharSet; }
  void SetCharSet(const std::string& aValue) { FCharSet = aValue; }
  // Includes the leading "#".
  const std::string& Fragment() const { return FFragment; }
  void SetFragment(const std::string& aValue) { FFragment = aValue; }

private:
  void Split(const std::string& aUrl);
  std::string BuildPathPart() const;

  std::string FScheme;
  std::string FPath;
  std::string FUserName;
  std::string FQueryString;
  std::string FHost;
  std::string FPassword;
  int32_t FPort = 0;
  std::string FCharSet;
  std::string FFragment;
};
