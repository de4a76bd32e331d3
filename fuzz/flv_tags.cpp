// Fuzzes the FLV reader (header, tags with and without data, stream information), the AMF0 parser
// and the metadata scan on one file of fuzzed bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "flvbind/Amf.h"
#include "flvbind/FLVLib.h"

namespace {

// The input lives in an in-memory file, opened through its /proc path like any other file.
const std::string& InputPath() {
  static const std::string path = [] {
    int fd = memfd_create("flv", 0);
    if (fd < 0) std::abort();
    return "/proc/self/fd/" + std::to_string(fd);
  }();
  return path;
}

void SetInput(const uint8_t* aData, size_t aSize) {
  int fd = std::stoi(InputPath().substr(14));
  if (ftruncate(fd, 0) != 0 || pwrite(fd, aData, aSize, 0) != static_cast<ssize_t>(aSize)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  ScriptDataObject script;
  if (script.Parse(aData, aSize)) {
    std::string written(script.Size(), '\0');
    script.Write(reinterpret_cast<uint8_t*>(written.data()));
    ScriptDataObject again;
    if (!again.Parse(reinterpret_cast<const uint8_t*>(written.data()), written.size())) std::abort();
  }

  SetInput(aData, aSize);
  FileReadAble* reader = CreateFileReadAble(InputPath().c_str());
  FlvHeaderRecord header;
  if (reader && Flv_ReadHeader(reader, &header)) {
    FlvTagRecord tag{};
    // the read-data choice follows the input's bytes, so both paths meet every layout
    for (size_t i = 0; Flv_ReadTag(reader, aData[i % aSize] & 1, &tag); ++i) {
      if (tag.rawBuffer && tag.rawSize != tag.dataSize + 15) std::abort();
      Flv_FreeTag(&tag);
    }
  }
  DeleteFileReadAble(reader);

  FlvMetaObject* meta = FlvMetaCreateObject();
  FlvMetaParseFromFile(meta, InputPath().c_str());
  FlvMetaDeleteObject(meta);
  return 0;
}
