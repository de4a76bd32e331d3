// Fuzzes a whole join: a well-formed first source, then a source of fuzzed bytes, through the
// binder's copy, metadata scan and rewrite.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "flvbind/FlvBinder.h"

namespace {

std::string Tag(char aType, uint32_t aTime, const std::string& aData) {
  std::string t{aType, 0, 0, static_cast<char>(aData.size()), static_cast<char>(aTime >> 16), static_cast<char>(aTime >> 8),
                static_cast<char>(aTime), static_cast<char>(aTime >> 24), 0, 0, 0};
  t += aData;
  const uint32_t previous = 11 + aData.size();
  return t + std::string{0, 0, static_cast<char>(previous >> 8), static_cast<char>(previous)};
}

struct TWorkFolder {
  TWorkFolder() {
    // In memory where the machine has it: the join's file calls, not a disk, should set the pace.
    std::string pattern = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/fuzz-flv-join-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    Path = pattern;
    std::ofstream(Path + "/first.flv", std::ios::binary)
        << std::string("FLV\x01\x05\0\0\0\x09\0\0\0\0", 13) + Tag(9, 0, "\x17\x01\0\0\0") + Tag(8, 20, "\xAF\x01xx") +
               Tag(9, 40, "\x27\x01\0\0\0");
    Messages = std::fopen("/dev/null", "w");
  }
  ~TWorkFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  std::string Path;
  FILE* Messages;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static TWorkFolder folder;
  const std::string first = folder.Path + "/first.flv", second = folder.Path + "/second.flv",
                    output = folder.Path + "/joined.flv";
  std::ofstream(second, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(aData), aSize);
  char* sources[] = {const_cast<char*>(first.c_str()), const_cast<char*>(second.c_str())};
  int code = TFlvBinder(folder.Messages).Bind(output.c_str(), sources, 2);
  if (code != bcDone && code != bcBadSource) std::abort();
  if (access((output + ".$$$").c_str(), F_OK) == 0) std::abort();  // the work file never stays
  return 0;
}
