#pragma once
// FLV and AMF0 store every integer big-endian.
#include <cstdint>

inline uint64_t GetBigEndian(const uint8_t* aSource, int aBytes) {
  uint64_t v = 0;
  for (int i = 0; i < aBytes; ++i) v = (v << 8) | aSource[i];
  return v;
}

inline void PutBigEndian(uint8_t* aDest, uint64_t aValue, int aBytes) {
  for (int i = aBytes - 1; i >= 0; --i) {
    aDest[i] = static_cast<uint8_t>(aValue);
    aValue >>= 8;
  }
}
