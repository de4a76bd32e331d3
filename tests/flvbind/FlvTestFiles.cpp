#include "tests/flvbind/FlvTestFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <stdexcept>

#include "flvbind/Amf.h"
#include "tests/support/TestSupport.h"

namespace flvtest {

namespace {
// One counter of a process's I/O accounting; -1 where the system keeps none.
int64_t SystemCallCount(pid_t aProcess, const std::string& aCounter) {
  std::ifstream io("/proc/" + std::to_string(aProcess) + "/io");
  std::string name;
  int64_t value = 0;
  while (io >> name >> value)
    if (name == aCounter + ":") return value;
  return -1;
}

std::string BigEndian(uint64_t aValue, int aBytes) {
  std::string s(aBytes, '\0');
  for (int i = aBytes - 1; i >= 0; --i, aValue >>= 8) s[i] = static_cast<char>(aValue & 0xFF);
  return s;
}

uint32_t GetBigEndian(const std::string& aData, size_t aAt, int aBytes) {
  uint32_t v = 0;
  for (int i = 0; i < aBytes; ++i) v = (v << 8) | static_cast<uint8_t>(aData[aAt + i]);
  return v;
}
}  // namespace

std::string Header(uint8_t aFlags, uint32_t aDataOffset) {
  std::string h = "FLV\x01" + std::string(1, static_cast<char>(aFlags)) + BigEndian(aDataOffset, 4);
  h.resize(aDataOffset, '\0');
  return h + BigEndian(0, 4);
}

std::string Tag(uint8_t aType, uint32_t aTimestamp, const std::string& aData, uint32_t aStreamId) {
  return std::string(1, static_cast<char>(aType)) + BigEndian(aData.size(), 3) + BigEndian(aTimestamp & 0xFFFFFF, 3) +
         std::string(1, static_cast<char>(aTimestamp >> 24)) + BigEndian(aStreamId, 3) + aData +
         BigEndian(11 + aData.size(), 4);
}

std::string Audio(uint32_t aTimestamp, size_t aSize, uint8_t aFlags) {
  return Tag(8, aTimestamp, std::string(1, static_cast<char>(aFlags)) + std::string(aSize - 1, 'a'));
}

std::string Video(uint32_t aTimestamp, size_t aSize, uint8_t aFlags) {
  return Tag(9, aTimestamp, std::string(1, static_cast<char>(aFlags)) + std::string(aSize - 1, 'v'));
}

std::string Script(uint32_t aTimestamp, const std::string& aName) {
  // name, then an empty ECMA array
  std::string data = "\x02" + BigEndian(aName.size(), 2) + aName + std::string("\x08\0\0\0\0\0\0\x09", 8);
  return Tag(18, aTimestamp, data);
}

std::vector<TTag> ListTags(const std::string& aFile) {
  std::vector<TTag> tags;
  size_t at = GetBigEndian(aFile, 5, 4) + 4;
  while (at + 11 <= aFile.size()) {
    uint32_t size = GetBigEndian(aFile, at + 1, 3);
    if (at + size + 15 > aFile.size()) break;
    uint32_t time = GetBigEndian(aFile, at + 4, 3) | static_cast<uint32_t>(static_cast<uint8_t>(aFile[at + 7])) << 24;
    tags.push_back({static_cast<uint8_t>(aFile[at]), time, aFile.substr(at + 11, size), aFile.substr(at, size + 15)});
    at += size + 15;
  }
  return tags;
}

double MetadataNumber(const std::string& aFile, const std::string& aKey) {
  std::vector<TTag> tags = ListTags(aFile);
  ScriptDataObject meta;
  if (tags.empty() || tags[0].Type != 18 ||
      !meta.Parse(reinterpret_cast<const uint8_t*>(tags[0].Data.data()), tags[0].Data.size()))
    return std::nan("");
  const AmfValue* value = meta.Array().Get(aKey);
  return value && value->Marker() == amNumber ? static_cast<const AmfNumber*>(value)->Value() : std::nan("");
}

TRunResult RunBinder(const std::vector<std::string>& aArgs, int64_t aFileSizeLimit) {
  zvtest::TempDir dir;
  const std::string outPath = dir.File("out"), errPath = dir.File("err");
  std::vector<std::string> args{zvtest::BinDir() + "/FlvBind.exe"};
  args.insert(args.end(), aArgs.begin(), aArgs.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT, 0600), err = open(errPath.c_str(), O_WRONLY | O_CREAT, 0600);
    int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(120);
    if (aFileSizeLimit > 0) {
      // a write past the limit then fails with an error instead of killing the process
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{static_cast<rlim_t>(aFileSizeLimit), static_cast<rlim_t>(aFileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    execv(argv[0], argv.data());
    _exit(121);
  }
  // The counts are read while the ended process still waits to be collected.
  siginfo_t ended{};
  while (waitid(P_PID, pid, &ended, WEXITED | WNOWAIT) < 0) {
  }
  TRunResult result{0, "", "", SystemCallCount(pid, "syscr"), SystemCallCount(pid, "syscw")};
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  if (!WIFEXITED(status)) throw std::runtime_error("FlvBind.exe did not exit normally");
  result.Status = WEXITSTATUS(status);
  result.Out = zvtest::ReadFile(outPath);
  result.Err = zvtest::ReadFile(errPath);
  return result;
}

}  // namespace flvtest
