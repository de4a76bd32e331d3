#include "app/DownloadNames.h"

#include <algorithm>

#include "app/AppFiles.h"
#include "app/TextRoutines.h"

namespace {

constexpr const char* kNumberOpen = "（";
constexpr const char* kNumberClose = "）";
// Room kept in every name for the "（n）" of a repeated download, n up to four digits.
constexpr size_t kRenameRoom = 3 + 4 + 3;

size_t NameStart(const std::string& aPath) {
  size_t slash = aPath.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

size_t ExtensionStart(const std::string& aPath) {
  size_t dot = aPath.rfind('.');
  return dot == std::string::npos || dot < NameStart(aPath) ? aPath.size() : dot;
}

// aText cut to at most aBytes bytes without splitting a UTF-8 character.
std::string CutUtf8(const std::string& aText, size_t aBytes) {
  if (aText.size() <= aBytes) return aText;
  size_t cut = aBytes;
  while (cut > 0 && (static_cast<unsigned char>(aText[cut]) & 0xC0) == 0x80) --cut;
  return aText.substr(0, cut);
}

}  // namespace

std::string FitFileName(const std::string& aBase, size_t aTailBytes) {
  return CutUtf8(aBase, aTailBytes < kMaxFileNameBytes ? kMaxFileNameBytes - aTailBytes : 0);
}

std::string AddressExtension(const std::string& aAddress) {
  std::string path = aAddress.substr(0, aAddress.find('?'));
  size_t dot = path.rfind('.');
  if (dot == std::string::npos) return std::string();
  std::string extension = path.substr(dot);
  if (extension.find_first_of("/\\:") != std::string::npos) return std::string();
  return CleanFileName(extension);
}

TPartNames NameSegments(const std::string& aBase, const std::vector<std::string>& aAddresses) {
  const size_t count = aAddresses.size();
  TPartNames part;
  std::vector<std::string> suffixes;
  size_t longestTail = 0;
  for (size_t i = 0; i < count; ++i) {
    std::string suffix;
    if (count > 1) suffix.append(" ").append(std::to_string(count)).append("-").append(std::to_string(i + 1));
    std::string extension = AddressExtension(aAddresses[i]);
    longestTail = std::max(longestTail, suffix.size() + extension.size());
    suffixes.push_back(std::move(suffix));
    part.Segments.push_back({std::string(), std::move(extension)});
  }
  size_t tail = longestTail + kRenameRoom + std::string(kWorkingExtension).size();
  part.Base = FitFileName(aBase, tail);
  for (size_t i = 0; i < count; ++i) part.Segments[i].Name = part.Base + suffixes[i];
  return part;
}

std::string FileExtension(const std::string& aPath) { return aPath.substr(ExtensionStart(aPath)); }

std::string WithoutExtension(const std::string& aPath) { return aPath.substr(0, ExtensionStart(aPath)); }

std::string FileNameOf(const std::string& aPath) { return aPath.substr(NameStart(aPath)); }

std::string FolderOf(const std::string& aPath) { return aPath.substr(0, NameStart(aPath)); }

TFreeName FindFreeName(const std::string& aWorkingFile) {
  const std::string final = WithoutExtension(aWorkingFile);
  const std::string working = FileExtension(aWorkingFile);
  const std::string stem = WithoutExtension(final);
  const std::string extension = FileExtension(final);
  for (int n = 1;; ++n) {
    std::string numbered = stem + kNumberOpen + std::to_string(n) + kNumberClose;
    if (!FileExists(numbered + extension + working) && !FileExists(numbered + extension))
      return {numbered + extension + working, numbered};
  }
}

std::string SegmentFileName(const std::string& aBase, int aCount, int aIndex) {
  return aBase + " " + std::to_string(aCount) + "-" + std::to_string(aIndex) + ".flv";
}
