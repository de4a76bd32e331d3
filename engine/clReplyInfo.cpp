#include "engine/clReplyInfo.h"

#include <charconv>
#include <vector>

#include "engine/clInternetError.h"
#include "http/clHttpDate.h"
#include "http/clHttpHeader.h"

namespace {

// A text level of the reply through the two-call size protocol; false when it cannot be read.
bool QueryText(HINTERNET hRequest, DWORD aLevel, std::string& aText) {
  DWORD length = 0;
  if (HttpQueryInfoA(hRequest, aLevel, nullptr, &length, nullptr) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return false;
  std::vector<char> buffer(length + 1, '\0');
  DWORD size = length;
  if (!HttpQueryInfoA(hRequest, aLevel, buffer.data(), &size, nullptr)) return false;
  aText.assign(buffer.data(), std::min<size_t>(size, length));
  return true;
}

// A decimal length; 0 when it is missing, malformed or out of range.
int64_t ReadLength(const std::string& aText) {
  int64_t value = 0;
  const char* end = aText.data() + aText.size();
  auto [next, error] = std::from_chars(aText.data(), end, value);
  return error == std::errc() && next == end && value > 0 ? value : 0;
}

void ReadDate(const std::string& aText, TclResourceInfo& aInfo) {
  TDateTime date;
  if (TclHttpDate::TryRead(aText, date)) aInfo.SetDate(date);
}

}  // namespace

bool ReadReplyStatus(HINTERNET hRequest, TStrings& aResponseHeader, TclResourceInfoHolder& aInfo) {
  aResponseHeader.clear();
  std::string raw;
  if (QueryText(hRequest, HTTP_QUERY_RAW_HEADERS_CRLF, raw)) TclStringsUtils::SetText(aResponseHeader, raw);

  DWORD status = 0, size = sizeof status;
  if (!HttpQueryInfoA(hRequest, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    return false;
  TclResourceInfo& info = aInfo.Ensure();
  info.SetStatusCode(int32_t(status));
  std::string statusText;
  QueryText(hRequest, HTTP_QUERY_STATUS_TEXT, statusText);
  info.SetStatusText(statusText);
  if (status >= 400)
    throw EclInternetError("HTTP resource access error occured, code = " + std::to_string(status), int32_t(status));
  return true;
}

void EvaluateReplyHeaders(HINTERNET hRequest, const TStrings& aResponseHeader, TclResourceInfoHolder& aInfo) {
  TclHttpResponseHeader header;
  header.ParseHeader(aResponseHeader);

  const int64_t length = ReadLength(header.ContentLength());
  if (length > 0) aInfo.Ensure().SetSize(length);

  // A resource without a date and without byte ranges is fetched whole.
  if (!header.LastModified().empty())
    ReadDate(header.LastModified(), aInfo.Ensure());
  else if (!header.Date().empty())
    ReadDate(header.Date(), aInfo.Ensure());
  else if (aInfo.Get() && !TclStringsUtils::SameText(header.AcceptRanges(), "bytes"))
    aInfo.Get()->SetSize(0);

  if (!header.ContentType().empty())
    aInfo.Ensure().SetContentType(header.ContentType());
  else if (aInfo.Get())
    aInfo.Get()->SetSize(0);

  if (!header.ContentDisposition().empty()) aInfo.Ensure().SetContentDisposition(header.ContentDisposition());
  if (TclStringsUtils::LowerCase(header.ContentEncoding()).find("gzip") != std::string::npos)
    aInfo.Ensure().SetCompressed(true);

  if (aInfo.Get() && aInfo.Get()->Size() > 0) {
    int32_t high = 0;
    if (InternetSetFilePointer(hRequest, 0, &high, FILE_END, 0) != INVALID_SET_FILE_POINTER)
      aInfo.Ensure().SetAllowsRandomAccess(true);
  }
}
