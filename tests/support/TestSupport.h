#pragma once
// Helpers shared by the test programs: scratch folders and child processes (fixture servers).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zvtest {

std::string SourceDir();  // the source tree
std::string BinDir();     // build/bin

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& aName) const { return FPath + "/" + aName; }

private:
  std::string FPath;
};

std::string ReadFile(const std::string& aPath);
// The program's data resources ("flvexe", "flvdll") as this build made them: the real binder.
std::map<std::string, std::string> BuiltBinderResources();
// Compares byte strings without printing megabytes: names the sizes and the first difference.
::testing::AssertionResult SameBytes(const std::string& aActual, const std::string& aExpected);
void WriteFile(const std::string& aPath, const std::string& aData);
// The one-letter state of a process ('S': sleeping, 'Z': ended, not reaped); 0 when there is none.
char ProcessState(int aPid);

// A child process with its standard output on a pipe; killed (SIGTERM, then SIGKILL) and reaped
// on destruction. Fixture servers print a first line (e.g. their port) once they listen.
class ChildProcess {
public:
  explicit ChildProcess(const std::vector<std::string>& aArgs);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Next line of standard output; throws after aTimeoutMs without one.
  std::string ReadLine(int aTimeoutMs = 20000);
  // Waits for the exit and returns the exit status (-1 when killed by a signal).
  int Wait();
  int Pid() const { return FPid; }

private:
  int FPid = -1;
  int FOut = -1;
  std::string FBuffer;
  bool FReaped = false;
};

// Runs aCall while another thread calls aStop 200 ms into it; how long aCall took. An exception of
// aCall passes through once the other thread has ended.
std::chrono::milliseconds TimeStopped(const std::function<void()>& aCall, const std::function<void()>& aStop);

// aSize bytes of a random sequence seeded with aSeed in the file aPath.
void WriteRandomFile(const std::string& aPath, int64_t aSize, uint64_t aSeed);

// SHA-256 of a file's content, as 64 lowercase hexadecimal digits.
std::string FileSha256(const std::string& aPath);

// Starts a python fixture from tests/fixtures with arguments and returns the process after its
// first output line, which is stored in aFirstLine.
std::unique_ptr<ChildProcess> StartFixture(const std::string& aScript, const std::vector<std::string>& aArgs,
                                           std::string& aFirstLine);

}  // namespace zvtest
