#pragma once
// Checking the reply to a byte-range request against the range asked for, before any of its body
// is written at the range's offset.
#include <cstdint>
#include <string>

#include "common/clStringsUtils.h"

// A ranged reply that does not hold the bytes asked for, and one whose resource has another size
// than the information request found.
inline constexpr int32_t clRangeMismatchError = -3;
inline constexpr int32_t clResourceChangedError = -4;

// A Content-Range value "bytes first-last/total" (total "*": -1).
struct TclContentRange {
  int64_t First = 0;
  int64_t Last = 0;
  int64_t Total = -1;
  // False for anything else, also for a last byte before the first.
  static bool Parse(const std::string& aValue, TclContentRange& aRange);
};

// How many bytes of the reply's body come before aRequestedPos: 0 for the range asked for, the
// offset itself for a server that sent the whole resource (200), the difference for a range that
// starts early. aKnownSize (0: unknown) is the resource's size as first found. Raises
// EclInternetError when the body cannot deliver the byte at aRequestedPos as stored (another
// status, a range starting after it, a content coding) or belongs to a resource of another size.
int64_t LeadingReplyBytes(int32_t aStatusCode, const TStrings& aResponseHeader, int64_t aRequestedPos,
                          int64_t aKnownSize);
