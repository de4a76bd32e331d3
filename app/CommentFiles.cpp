#include "app/CommentFiles.h"

#include <zlib.h>

#include <string_view>

#include "app/AppFiles.h"
#include "app/DownloadNames.h"
#include "app/TextRoutines.h"

namespace {

constexpr size_t kStep = 4096;
constexpr std::string_view kZlibHeader = "\x78\x9C";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The two bytes a zlib stream begins with: deflate, a window of at most 32 KiB, no preset
// dictionary, and the check bits that make them a multiple of 31.
bool HasZlibHeader(std::string_view aData) {
  if (aData.size() < 2) return false;
  unsigned method = static_cast<unsigned char>(aData[0]);
  unsigned flags = static_cast<unsigned char>(aData[1]);
  return (method & 0x0F) == 8 && (method >> 4) <= 7 && (flags & 0x20) == 0 && (method * 256 + flags) % 31 == 0;
}

// The text after a byte order mark and white space.
std::string_view XmlStart(std::string_view aText) {
  if (aText.substr(0, kByteOrderMark.size()) == kByteOrderMark) aText.remove_prefix(kByteOrderMark.size());
  size_t start = aText.find_first_not_of(" \t\r\n");
  return start == std::string_view::npos ? std::string_view() : aText.substr(start);
}

// A comment list: an XML declaration or the list's root element first (not an error page's HTML).
bool IsCommentXml(std::string_view aText) {
  std::string_view start = XmlStart(aText);
  return start.starts_with("<?xml") || start.starts_with("<i>") || start.starts_with("<i ");
}

bool InflatedXml(const std::string& aCompressed, std::string& aXml) {
  return InflateComment(aCompressed, aXml) && IsCommentXml(aXml);
}

}  // namespace

std::string CommentFileName(const std::string& aRowName, const std::string& aNumber) {
  const std::string prefix = aNumber.empty() ? std::string() : aNumber + " ";
  const std::string extension = ".xml";
  const size_t tail = prefix.size() + extension.size() + std::string_view(kTemporarySuffix).size();
  return prefix + FitFileName(CleanFileName(aRowName), tail) + extension;
}

bool InflateComment(const std::string& aCompressed, std::string& aOutput) {
  aOutput.clear();
  z_stream stream{};
  if (inflateInit2(&stream, 15) != Z_OK) return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(aCompressed.data()));
  stream.avail_in = static_cast<uInt>(aCompressed.size());
  unsigned char step[kStep];
  int result;
  do {
    stream.next_out = step;
    stream.avail_out = kStep;
    result = inflate(&stream, Z_NO_FLUSH);
    aOutput.append(reinterpret_cast<char*>(step), kStep - stream.avail_out);
  } while (result == Z_OK && stream.avail_out == 0 && aOutput.size() <= kMaxCommentBytes);
  inflateEnd(&stream);
  // Z_OK with room left and Z_BUF_ERROR both mean the input has run out.
  bool ended = result == Z_STREAM_END || result == Z_OK || result == Z_BUF_ERROR;
  return ended && aOutput.size() <= kMaxCommentBytes;
}

bool DecodeCommentReply(const std::string& aReply, std::string& aXml) {
  if (HasZlibHeader(aReply) && InflatedXml(aReply, aXml)) return true;
  if (InflatedXml(std::string(kZlibHeader) + aReply, aXml)) return true;
  // Text that no inflation turns into XML and that is XML itself is the list uncompressed.
  if (!IsCommentXml(aReply)) return false;
  aXml = aReply;
  return true;
}
