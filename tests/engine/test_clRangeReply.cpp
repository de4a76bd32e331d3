#include "engine/clRangeReply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/clInternetError.h"

namespace {

struct TContentRangeCase {
  const char* Value;
  bool Valid;
  int64_t First = 0, Last = 0, Total = 0;
};

const TContentRangeCase cContentRanges[] = {
    {"bytes 0-0/1", true, 0, 0, 1},
    {"bytes 40000-59999/100000", true, 40000, 59999, 100000},
    {"BYTES 5-9/*", true, 5, 9, -1},
    {" bytes 0-9/10 ", true, 0, 9, 10},
    {"bytes 5-4/10", false},
    {"bytes 0-10/10", false},
    {"bytes=0-9/10", false},
    {"bytes 0-9", false},
    {"bytes 0-9/", false},
    {"items 0-9/10", false},
    {"bytes -1-9/10", false},
    {"bytes 0-9/10x", false},
    {"bytes 99999999999999999999-1/2", false},
    {"", false},
};

struct TReplyCase {
  const char* Name;
  int32_t Status;
  std::vector<std::string> Header;
  int64_t RequestedPos, KnownSize;
  int64_t Leading;  // or the error code raised
  bool Raises;
};

const TReplyCase cReplies[] = {
    {"the range asked for", 206, {"Content-Range: bytes 40000-59999/100000"}, 40000, 100000, 0, false},
    {"a range starting early", 206, {"Content-Range: bytes 39000-59999/100000"}, 40000, 100000, 1000, false},
    {"a range of unknown total", 206, {"Content-Range: bytes 40000-59999/*"}, 40000, 100000, 0, false},
    {"identity coding", 206, {"Content-Range: bytes 10-19/20", "Content-Encoding: identity"}, 10, 20, 0, false},
    {"the whole resource", 200, {"Content-Length: 100000"}, 40000, 100000, 40000, false},
    {"a whole body of unknown length", 200, {}, 40000, 100000, 40000, false},
    {"a range starting late", 206, {"Content-Range: bytes 41000-59999/100000"}, 40000, 100000, clRangeMismatchError, true},
    {"a range ending before it", 206, {"Content-Range: bytes 0-100/100000"}, 40000, 100000, clRangeMismatchError, true},
    {"no Content-Range", 206, {}, 40000, 100000, clRangeMismatchError, true},
    {"a compressed range", 206, {"Content-Range: bytes 10-19/20", "Content-Encoding: gzip"}, 10, 20, clRangeMismatchError, true},
    {"a compressed whole body", 200, {"Content-Encoding: gzip"}, 0, 20, clRangeMismatchError, true},
    {"another status", 416, {"Content-Range: bytes */100000"}, 40000, 100000, clRangeMismatchError, true},
    {"a range of another resource", 206, {"Content-Range: bytes 40000-59999/90000"}, 40000, 100000, clResourceChangedError, true},
    {"a whole body of another length", 200, {"Content-Length: 90000"}, 0, 100000, clResourceChangedError, true},
};

}  // namespace

TEST(TclContentRange, ParsesOnlyWellFormedByteRanges) {
  for (const auto& c : cContentRanges) {
    TclContentRange range;
    ASSERT_EQ(TclContentRange::Parse(c.Value, range), c.Valid) << c.Value;
    if (!c.Valid) continue;
    EXPECT_EQ(range.First, c.First) << c.Value;
    EXPECT_EQ(range.Last, c.Last) << c.Value;
    EXPECT_EQ(range.Total, c.Total) << c.Value;
  }
}

TEST(LeadingReplyBytes, CountsBytesBeforeTheRangeOrRefusesTheReply) {
  for (const auto& c : cReplies) {
    TStrings header{"HTTP/1.1 " + std::to_string(c.Status) + " Reason"};
    header.insert(header.end(), c.Header.begin(), c.Header.end());
    if (!c.Raises) {
      EXPECT_EQ(LeadingReplyBytes(c.Status, header, c.RequestedPos, c.KnownSize), c.Leading) << c.Name;
      continue;
    }
    try {
      LeadingReplyBytes(c.Status, header, c.RequestedPos, c.KnownSize);
      ADD_FAILURE() << c.Name << " was taken";
    } catch (const EclInternetError& e) {
      EXPECT_EQ(e.ErrorCode(), c.Leading) << c.Name;
    }
  }
}
