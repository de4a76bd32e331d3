#include "http/clUriUtils.h"

#include <array>
#include <vector>

#include "common/clStringsUtils.h"
#include "common/clTranslator.h"
#include "http/clIdnTranslator.h"

namespace {

// Bytes that never go out literally in a URL (besides controls and non-ASCII bytes).
const std::array<bool, 256> cUnsafeBytes = [] {
  std::array<bool, 256> set{};
  for (unsigned char c : std::string(" <>\"#%{}|\\^~[]`")) set[c] = true;
  return set;
}();

bool IsHexDigit(char aChar) {
  return (aChar >= '0' && aChar <= '9') || (aChar >= 'a' && aChar <= 'f') || (aChar >= 'A' && aChar <= 'F');
}

// A port written as decimal digits that fit the 32-bit field; anything else counts as not given.
int32_t ParsePort(const std::string& aText) {
  if (aText.empty() || aText.size() > 9) return 0;
  int32_t port = 0;
  for (char c : aText) {
    if (c < '0' || c > '9') return 0;
    port = port * 10 + (c - '0');
  }
  return port;
}

// Removes "." segments and folds each ".." into the segment before it; a ".." left in front
// climbs above the root and gives the empty path. A final "." or ".." keeps a trailing "/".
// One pass over the segments with a stack, so a reference of many ".." stays linear.
std::string NormalizePath(std::string_view aText) {
  std::vector<std::string_view> kept;
  bool endsInDots = false;
  for (size_t start = 0; !aText.empty();) {
    size_t slash = aText.find('/', start);
    std::string_view segment = aText.substr(start, slash == std::string_view::npos ? aText.npos : slash - start);
    endsInDots = slash == std::string_view::npos && (segment == "." || segment == "..");
    if (segment == ".." && !kept.empty())
      kept.pop_back();
    else if (segment != ".")
      kept.push_back(segment);
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  if (endsInDots) kept.emplace_back();
  if (!kept.empty() && kept.front() == "..") return std::string();
  std::string result;
  result.reserve(aText.size() + 1);
  for (std::string_view segment : kept) {
    result += '/';
    result += segment;
  }
  return result;
}

std::string AfterLast(const std::string& aText, char aSeparator) {
  size_t pos = aText.rfind(aSeparator);
  return pos == std::string::npos ? aText : aText.substr(pos + 1);
}

}  // namespace

void TclUrlParser::Clear() {
  FScheme.clear();
  FPath.clear();
  FUserName.clear();
  FQueryString.clear();
  FHost.clear();
  FPassword.clear();
  FPort = 0;
  FFragment.clear();
}

void TclUrlParser::Assign(const TclUrlParser& aSource) {
  FScheme = aSource.FScheme;
  FPath = aSource.FPath;
  FUserName = aSource.FUserName;
  FQueryString = aSource.FQueryString;
  FHost = aSource.FHost;
  FPassword = aSource.FPassword;
  FPort = aSource.FPort;
  FFragment = aSource.FFragment;
}

int32_t TclUrlParser::GetDefaultPort(const std::string& aScheme) {
  if (aScheme == "ftp") return 21;
  if (aScheme == "gopher") return 70;
  if (aScheme == "http") return 80;
  if (aScheme == "https") return 443;
  return 0;
}

TclUrlType TclUrlParser::UrlType() const {
  static const char* const names[] = {"ftp", "gopher", "http", "https", "file", "news", "mailto"};
  for (int i = 0; i < 7; ++i)
    if (FScheme == names[i]) return static_cast<TclUrlType>(utFTP + i);
  return utUnknown;
}

void TclUrlParser::Split(const std::string& aUrl) {
  Clear();
  std::string rest = aUrl;
  size_t pos = rest.find('#');
  if (pos != std::string::npos) {
    FFragment = rest.substr(pos);
    rest.resize(pos);
  }
  pos = rest.find('?');
  if (pos != std::string::npos) {
    FQueryString = rest.substr(pos);
    rest.resize(pos);
  }
  pos = rest.find("://");
  if (pos != std::string::npos) {
    FScheme = TclStringsUtils::LowerCase(rest.substr(0, pos));
    rest.erase(0, pos + 3);
  } else if (rest.size() > 6 && TclStringsUtils::LowerCase(rest.substr(0, 7)) == "mailto:") {
    FScheme = "mailto";
    rest.erase(0, 7);
  }
  pos = rest.find('/');
  if (pos != std::string::npos) {
    // Relative paths keep their leading "./" or "../".
    if (pos > 0 && rest[pos - 1] == '.') {
      --pos;
      if (pos > 0 && rest[pos - 1] == '.') --pos;
    }
    FPath = rest.substr(pos);
    rest.resize(pos);
  }
  pos = rest.find('@');
  if (pos != std::string::npos) {
    std::string userInfo = rest.substr(0, pos);
    rest.erase(0, pos + 1);
    size_t colon = userInfo.find(':');
    FUserName = userInfo.substr(0, colon);
    if (colon != std::string::npos) FPassword = userInfo.substr(colon + 1);
  }
  // A bracketed IPv6 literal holds colons of its own; the port follows the closing bracket.
  size_t hostEnd = 0;
  if (!rest.empty() && rest[0] == '[') {
    size_t bracket = rest.find(']');
    if (bracket != std::string::npos) hostEnd = bracket + 1;
  }
  pos = rest.find(':', hostEnd);
  if (pos != std::string::npos) {
    FPort = ParsePort(rest.substr(pos + 1));
    rest.resize(pos);
  }
  FHost = rest;
}

void TclUrlParser::Parse(const std::string& aFullUrl) {
  Split(aFullUrl);
  if (FScheme.empty() && !FHost.empty()) FScheme = "http";
  if (FPort == 0) FPort = GetDefaultPort(FScheme);
}

void TclUrlParser::Parse(const std::string& aBaseUrl, const std::string& aRelativeUrl) {
  if (aBaseUrl.empty() && aRelativeUrl.empty()) {
    Clear();
    return;
  }
  TclUrlParser base(FCharSet);
  base.Split(aBaseUrl);
  Split(aRelativeUrl);
  // A scheme-less reference such as img/a.png was split as host "img": it is a path.
  if (!base.FScheme.empty() && FScheme.empty() && !FHost.empty()) {
    FPath = FHost + (!FPath.empty() && FPath[0] != '/' ? "/" : "") + FPath;
    FHost.clear();
  }
  const bool sameDocument = FScheme.empty() && FHost.empty() && FPath.empty();
  if (FScheme.empty() && !base.FScheme.empty()) {
    FScheme = base.FScheme;
    FHost = base.FHost;
    FUserName = base.FUserName;
    FPassword = base.FPassword;
    FPort = base.FPort;
  }
  if (FScheme.empty() && !FHost.empty()) FScheme = "http";
  std::string text;
  if (sameDocument) {
    // A reference of only a query or a fragment stays on the base document.
    text = base.FPath.empty() || base.FPath[0] != '/' ? base.FPath : base.FPath.substr(1);
    if (FQueryString.empty()) FQueryString = base.FQueryString;
  } else if (!FPath.empty() && FPath[0] == '/') {
    text = FPath.substr(1);
  } else {
    size_t lastSlash = base.FPath.rfind('/');
    if (lastSlash != std::string::npos && lastSlash >= 1) text = base.FPath.substr(1, lastSlash);
    text += FPath;
  }
  FPath = NormalizePath(text);
  if (FScheme.empty() && FHost.empty() && FPath.empty()) FPath = text;
  if (FPort == 0) FPort = GetDefaultPort(FScheme);
}

std::string TclUrlParser::EncodeUrl(const std::string& aUrl, const std::string& aCharSet) {
  std::string bytes = TclTranslator::GetBytes(aUrl, aCharSet);
  if (bytes.empty()) {
    std::string text = TclStringsUtils::Trim(aUrl);
    std::string result;
    for (char c : text) result += c == ' ' ? std::string("%20") : std::string(1, c);
    return result;
  }
  static const char hex[] = "0123456789ABCDEF";
  std::string result;
  result.reserve(bytes.size() + bytes.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '%' && i + 2 < bytes.size() && IsHexDigit(bytes[i + 1]) && IsHexDigit(bytes[i + 2])) {
      result.append(bytes, i, 3);
      i += 2;
    } else if (c < 32 || c > 126 || cUnsafeBytes[c]) {
      result += '%';
      result += hex[c >> 4];
      result += hex[c & 15];
    } else {
      result += static_cast<char>(c);
    }
  }
  return result;
}

std::string TclUrlParser::BuildPathPart() const {
  const bool rooted = (!FHost.empty() && FPath.empty() && TclStringsUtils::LowerCase(FScheme) != "mailto") ||
                      (!FPath.empty() && FPath[0] != '/');
  std::string text(rooted ? 1 : 0, '/');
  text += FPath;
  if (!FQueryString.empty() && FQueryString[0] != '?') text += '?';
  text += FQueryString;
  text = EncodeUrl(text, FCharSet);
  if (!FFragment.empty()) {
    text += '#';
    text += EncodeUrl(FFragment[0] == '#' ? FFragment.substr(1) : FFragment, FCharSet);
  }
  return text;
}

std::string TclUrlParser::AbsolutePath() const {
  if (FHost == "*") return FHost;
  return BuildPathPart();
}

std::string TclUrlParser::AbsoluteUri() const {
  std::string result;
  if (TclStringsUtils::LowerCase(FScheme) == "mailto")
    result = "mailto:";
  else if (!FScheme.empty())
    result = FScheme + "://";
  if (!FHost.empty()) {
    if (!FUserName.empty()) result += FUserName + (FPassword.empty() ? "" : ":" + FPassword) + "@";
    result += TclIdnTranslator::GetAscii(FHost);
  }
  if (FPort != 0 && FPort != GetDefaultPort(FScheme)) {
    result += ':';
    result += std::to_string(FPort);
  }
  result += BuildPathPart();
  return result;
}

std::string TclUrlParser::GetLocalFileByURL(const std::string& aFullUrl, const std::string& aLocalFolder) {
  Parse(aFullUrl);
  if (AbsoluteUri().empty()) return aLocalFolder;
  std::string result = aLocalFolder;
  if (!result.empty() && result.back() != '/') result += '/';
  return result + AfterLast(FPath, '/');
}

std::string TclUrlParser::GetURLByLocalFile(const std::string& aFullUrl, const std::string& aLocalFile) {
  Parse(aFullUrl);
  size_t lastSlash = FPath.rfind('/');
  std::string path = lastSlash == std::string::npos ? FPath : FPath.substr(0, lastSlash + 1);
  if (!path.empty() && path.back() != '/') path += '/';
  FPath = path + AfterLast(aLocalFile, '/');
  return AbsoluteUri();
}
