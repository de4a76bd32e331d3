#include "app/AppFiles.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

bool FileExists(const std::string& aPath) {
  struct stat info;
  return stat(aPath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool FolderWritable(const std::string& aPath) { return access(aPath.c_str(), W_OK | X_OK) == 0; }

void DeleteFileIfExists(const std::string& aPath) {
  if (FileExists(aPath)) unlink(aPath.c_str());
}

bool RenameFileNoReplace(const std::string& aFrom, const std::string& aTo) {
  if (renameat2(AT_FDCWD, aFrom.c_str(), AT_FDCWD, aTo.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without the no-replace rename still refuse to link over an existing name.
  if (link(aFrom.c_str(), aTo.c_str()) != 0) return false;
  unlink(aFrom.c_str());
  return true;
}

namespace {

// aData in a new file beside aPath with the permissions aMode; its name, or empty after a failure.
std::string WriteTemporary(const std::string& aPath, const std::string& aData, mode_t aMode) {
  std::string temporary = aPath + kTemporarySuffix;
  int fd = mkstemp(temporary.data());
  if (fd < 0) return std::string();
  bool written = fchmod(fd, aMode) == 0;
  for (size_t done = 0; written && done < aData.size();) {
    ssize_t n = write(fd, aData.data() + done, aData.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += static_cast<size_t>(n);
  }
  // On disk before the rename, so that not even a crash leaves the final name half written.
  written = written && fsync(fd) == 0;
  written = close(fd) == 0 && written;
  if (written) return temporary;
  unlink(temporary.c_str());
  return std::string();
}

}  // namespace

bool WriteNewFile(const std::string& aPath, const std::string& aData, bool aExecutable) {
  std::string temporary = WriteTemporary(aPath, aData, aExecutable ? 0755 : 0644);
  if (temporary.empty()) return false;
  if (RenameFileNoReplace(temporary, aPath)) return true;
  unlink(temporary.c_str());
  return false;
}

bool ReplaceFile(const std::string& aPath, const std::string& aData) {
  std::string temporary = WriteTemporary(aPath, aData, 0644);
  if (temporary.empty()) return false;
  if (rename(temporary.c_str(), aPath.c_str()) == 0) return true;
  unlink(temporary.c_str());
  return false;
}
