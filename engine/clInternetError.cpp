#include "engine/clInternetError.h"

#include <algorithm>
#include <vector>

#include "platform/clWinInet.h"

namespace {

// The server's explanation of the last failure on this thread; empty when it has none.
std::string LastResponseText() {
  DWORD error = 0, length = 0;
  InternetGetLastResponseInfoA(&error, nullptr, &length);
  if (length == 0) return {};
  std::vector<char> buffer(size_t(length) + 1, '\0');
  DWORD size = DWORD(buffer.size());
  if (!InternetGetLastResponseInfoA(&error, buffer.data(), &size)) return {};
  return std::string(buffer.data(), std::min<size_t>(size, length));
}

}  // namespace

EclInternetError EclInternetError::CreateByLastError() {
  int32_t code = int32_t(GetLastError());
  return EclInternetError(GetLastErrorText(code), code);
}

std::string EclInternetError::GetLastErrorText(int32_t aCode) {
  const std::string systemText = FormatInternetMessage(DWORD(aCode));
  return ComposeErrorText(systemText, aCode,
                          DWORD(aCode) == ERROR_INTERNET_EXTENDED_ERROR ? LastResponseText() : std::string());
}

std::string EclInternetError::ComposeErrorText(const std::string& aSystemText, int32_t aCode,
                                               const std::string& aResponseText) {
  std::string text = aSystemText;
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.')) text.pop_back();
  if (!aResponseText.empty()) {
    if (!text.empty()) text += "; Additional info: ";
    text += aResponseText;
  }
  if (text.empty()) text = "Unknown error, code = " + std::to_string(aCode);
  return text;
}
