#pragma once
// Watches one name in one folder for a file appearing there and going away again, by the
// folder's change notifications, so that a file that exists only for a moment between two looks
// is still seen.
#include <string>

class TclFileWatch {
public:
  // Watches from now on; a file that already exists counts as appeared.
  TclFileWatch(const std::string& aFolder, const std::string& aName);
  ~TclFileWatch();
  TclFileWatch(const TclFileWatch&) = delete;
  TclFileWatch& operator=(const TclFileWatch&) = delete;

  // Readable (poll) when news about the folder has come; -1 when the folder cannot be watched.
  int Handle() const { return FHandle; }
  // Takes in the news that has come (never blocks).
  void Update();
  // Whether the file was seen, and whether it went away after it was seen and is gone now.
  bool Appeared() const { return FAppeared; }
  bool Vanished() const;

private:
  const std::string FPath;
  const std::string FName;
  int FHandle = -1;
  bool FAppeared = false;
  bool FVanished = false;
};
