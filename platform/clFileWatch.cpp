#include "platform/clFileWatch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace {

bool Exists(const std::string& aPath) {
  struct stat info;
  return lstat(aPath.c_str(), &info) == 0;
}

}  // namespace

TclFileWatch::TclFileWatch(const std::string& aFolder, const std::string& aName)
    : FPath(aFolder + (aFolder.empty() || aFolder.back() == '/' ? "" : "/") + aName), FName(aName) {
  FHandle = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (FHandle >= 0 &&
      inotify_add_watch(FHandle, aFolder.c_str(), IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR) < 0) {
    close(FHandle);
    FHandle = -1;
  }
  FAppeared = Exists(FPath);
}

TclFileWatch::~TclFileWatch() {
  if (FHandle >= 0) close(FHandle);
}

void TclFileWatch::Update() {
  alignas(inotify_event) char buffer[16384];
  for (ssize_t got; FHandle >= 0 && (got = read(FHandle, buffer, sizeof buffer)) > 0;) {
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += ssize_t(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        // News was lost: what the folder holds now is all there is to go by.
        FAppeared = FAppeared || Exists(FPath);
        continue;
      }
      if (event->len == 0 || std::strcmp(event->name, FName.c_str()) != 0) continue;
      if (event->mask & (IN_CREATE | IN_MOVED_TO)) FAppeared = true;
      if (event->mask & (IN_DELETE | IN_MOVED_FROM)) FVanished = FAppeared;
    }
  }
  // Without notifications the file is only seen while it exists.
  if (FHandle < 0) FAppeared = FAppeared || Exists(FPath);
}

bool TclFileWatch::Vanished() const {
  if (FHandle < 0) return FAppeared && !Exists(FPath);
  return FVanished && !Exists(FPath);
}
