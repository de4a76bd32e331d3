#pragma once
// A set of the values of a small enumeration (at most 32 values), kept as bits: value n is bit n.
#include <cstdint>
#include <initializer_list>

template <typename TEnum>
class TclFlagSet {
public:
  constexpr TclFlagSet() = default;
  constexpr TclFlagSet(std::initializer_list<TEnum> aItems) {
    for (TEnum item : aItems) Include(item);
  }
  static constexpr TclFlagSet FromValue(uint32_t aValue) {
    TclFlagSet result;
    result.FBits = aValue;
    return result;
  }

  constexpr bool Contains(TEnum aItem) const { return (FBits & Bit(aItem)) != 0; }
  constexpr void Include(TEnum aItem) { FBits |= Bit(aItem); }
  constexpr void Exclude(TEnum aItem) { FBits &= ~Bit(aItem); }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint32_t Value() const { return FBits; }
  constexpr bool operator==(const TclFlagSet&) const = default;

private:
  static constexpr uint32_t Bit(TEnum aItem) { return uint32_t{1} << static_cast<uint32_t>(aItem); }
  uint32_t FBits = 0;
};
