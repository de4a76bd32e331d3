#pragma once
// zlib as the reference encoder of the decoder tests and benchmark, and the data they share.
#include <zlib.h>

#include <random>
#include <stdexcept>
#include <string>

namespace zlibref {

// aWindowBits: -15 raw DEFLATE, 15 the zlib form, 31 gzip.
inline std::string Compress(const std::string& aData, int aLevel, int aWindowBits,
                            int aStrategy = Z_DEFAULT_STRATEGY, const std::string& aDictionary = "") {
  z_stream z{};
  if (deflateInit2(&z, aLevel, Z_DEFLATED, aWindowBits, 8, aStrategy) != Z_OK) throw std::runtime_error("deflateInit2");
  if (!aDictionary.empty())
    deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(aDictionary.data()), uInt(aDictionary.size()));
  std::string out(deflateBound(&z, uLong(aData.size())) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(aData.data()));
  z.avail_in = uInt(aData.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  int rc = deflate(&z, Z_FINISH);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  return out;
}

// Markup with repeated tags and varying numbers, like the comment lists.
inline std::string XmlText(size_t aSize, unsigned aSeed = 1) {
  std::mt19937 rng(aSeed);
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i>";
  const char* words[] = {"好", "弹幕", "video", "part", "hello", "233333", "哈哈哈", "nice", "the", "ok"};
  while (s.size() < aSize) {
    s += "<d p=\"" + std::to_string(rng() % 100000) + "." + std::to_string(rng() % 1000) + ",1,25," +
         std::to_string(rng() % 16777216) + "," + std::to_string(1500000000 + rng() % 100000000) + "\">";
    for (unsigned n = 1 + rng() % 6; n > 0; --n) s += words[rng() % 10];
    s += "</d>\n";
  }
  s.resize(aSize);
  return s;
}

inline std::string RandomBytes(size_t aSize, unsigned aSeed = 2) {
  std::mt19937 rng(aSeed);
  std::string s(aSize, '\0');
  for (auto& c : s) c = char(rng());
  return s;
}

// Stretches of text, noise, runs and repeats far apart: every kind of block and distance.
inline std::string MixedBinary(size_t aSize, unsigned aSeed = 3) {
  std::mt19937 rng(aSeed);
  std::string s;
  while (s.size() < aSize) {
    switch (rng() % 4) {
      case 0: s += XmlText(200 + rng() % 4000, rng()); break;
      case 1: s += RandomBytes(100 + rng() % 3000, rng()); break;
      case 2: s += std::string(1 + rng() % 2000, char(rng())); break;
      default:
        if (s.size() > 100) {
          size_t from = rng() % s.size(), len = std::min<size_t>(1 + rng() % 500, s.size() - from);
          s += s.substr(from, len);
        }
    }
  }
  s.resize(aSize);
  return s;
}

}  // namespace zlibref
