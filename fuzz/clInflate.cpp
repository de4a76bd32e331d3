// Arbitrary bytes, split at arbitrary points, into the gzip stream and the raw and zlib-form
// inflaters. Where zlib decodes the data completely, ours must give the same bytes.
#include <zlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "http/clZLibStreams.h"

namespace {

class TSink : public TStream {
public:
  std::string Data;
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* aBuffer, int64_t aCount) override {
    Data.append(static_cast<const char*>(aBuffer), size_t(aCount));
    return aCount;
  }
  int64_t Seek(int64_t, TSeekOrigin) override { return int64_t(Data.size()); }
  void SetSize(int64_t) override {}
};

// zlib's reading of the whole input; empty optional when it does not reach the stream's end.
bool ZlibDecode(const uint8_t* aData, size_t aSize, int aWindowBits, std::string& aOut) {
  z_stream z{};
  if (inflateInit2(&z, aWindowBits) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(aData);
  z.avail_in = uInt(aSize);
  std::vector<Bytef> buf(65536);
  int rc;
  do {
    z.next_out = buf.data();
    z.avail_out = uInt(buf.size());
    rc = inflate(&z, Z_NO_FLUSH);
    aOut.append(reinterpret_cast<char*>(buf.data()), buf.size() - z.avail_out);
  } while (rc == Z_OK);
  inflateEnd(&z);
  return rc == Z_STREAM_END;
}

std::string OurDecode(const uint8_t* aData, size_t aSize, bool aNoHeader, unsigned aPiece, bool& aFinished) {
  TclInflater inflater(aNoHeader);
  std::string out;
  std::vector<uint8_t> buf(1 + aPiece * 97 % 20000);
  size_t pos = 0;
  aFinished = false;
  try {
    while (!inflater.IsFinished()) {
      if (inflater.IsNeedingInput()) {
        if (pos == aSize) break;
        size_t n = std::min<size_t>(aPiece, aSize - pos);
        inflater.SetInput({aData + pos, n});
        pos += n;
      }
      int64_t got = inflater.Inflate(buf);
      out.append(reinterpret_cast<char*>(buf.data()), size_t(got));
      if (got == 0 && inflater.IsNeedingDictionary()) return out;
      if (got == 0 && !inflater.IsNeedingInput() && !inflater.IsFinished()) abort();  // no progress
    }
    aFinished = inflater.IsFinished();
  } catch (const EclZLibError&) {
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 1) return 0;
  unsigned piece = 1 + aData[0] % 64;
  aData++;
  aSize--;

  TSink sink;
  try {
    TclGZipInflateStream stream(&sink);
    for (size_t pos = 0; pos < aSize; pos += piece) stream.Write(aData + pos, int64_t(std::min<size_t>(piece, aSize - pos)));
  } catch (const EclZLibError&) {
  }

  for (bool noHeader : {true, false}) {
    bool finished;
    std::string ours = OurDecode(aData, aSize, noHeader, piece, finished);
    std::string theirs;
    if (ZlibDecode(aData, aSize, noHeader ? -15 : 15, theirs) && (!finished || ours != theirs)) abort();
  }
  return 0;
}
