#include <gtest/gtest.h>

#include "http/clHttpUtils.h"
#include "http/clStreams.h"

namespace {

struct ChunkedCase {
  const char* Name;
  std::string Encoded;
  std::string Decoded;
  size_t BodyLength;  // encoded bytes up to the end of the message; the rest is dropped
};

// Writes aEncoded in pieces of aPiece bytes.
std::string Decode(const std::string& aEncoded, size_t aPiece, bool* aCompleted = nullptr) {
  TMemoryStream out;
  TclChunkedStream chunked(&out);
  for (size_t pos = 0; pos < aEncoded.size(); pos += aPiece) {
    std::string piece = aEncoded.substr(pos, aPiece);
    EXPECT_EQ(chunked.Write(piece.data(), int64_t(piece.size())), int64_t(piece.size()));
  }
  EXPECT_EQ(chunked.TotalWritten(), int64_t(aEncoded.size()));
  if (aCompleted) *aCompleted = chunked.IsCompleted();
  return out.Data();
}

}  // namespace

TEST(ChunkedStream, DecodesWhateverWayTheBytesAreSplit) {
  const std::string after = "HTTP/1.1 200 OK\r\n";
  const std::vector<ChunkedCase> cases = {
      {"plain", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", "hello world", 0},
      {"extensions and case", "A;name=\"x;y\"\r\n0123456789\r\n0b; last\r\nabcdefghijk\r\n0;ext\r\n\r\n",
       "0123456789abcdefghijk", 0},
      {"leading zeros", "0005\r\nhello\r\n000\r\n\r\n", "hello", 0},
      {"bare line feeds", "3\nabc\n0\n\n", "abc", 0},
      {"trailer fields", "2\r\nok\r\n0\r\nX-Sum: 1\r\nX-More: 2\r\n\r\n", "ok", 0},
      {"CR LF inside the data", "4\r\n\r\n\r\n\r\n0\r\n\r\n", "\r\n\r\n", 0},
      {"size line without digits ends the body", "2\r\nab\r\nzz\r\n\r\n", "ab", 0},
  };
  for (const auto& c : cases) {
    for (size_t piece : {size_t(1), size_t(2), size_t(3), size_t(7), size_t(1000)}) {
      bool completed = false;
      EXPECT_EQ(Decode(c.Encoded + after, piece, &completed), c.Decoded) << c.Name << " in pieces of " << piece;
      EXPECT_TRUE(completed) << c.Name;
      Decode(c.Encoded.substr(0, c.Encoded.size() - 1), piece, &completed);
      EXPECT_FALSE(completed) << c.Name << " without its last byte";
    }
  }
}

TEST(ChunkedStream, BigChunksPassThroughWithoutBeingHeld) {
  std::string data(1 << 20, 'x');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char('a' + i % 26);
  EXPECT_EQ(Decode("100000\r\n" + data + "\r\n0\r\n\r\n", 65536), data);
}

TEST(ChunkedStream, RefusesSizesBeyond64BitsAndSeeksOtherThanThePosition) {
  TMemoryStream out;
  TclChunkedStream chunked(&out);
  std::string line = "00000000000000000000fffffffffffffff\r\n";  // leading zeros do not count
  EXPECT_NO_THROW(chunked.Write(line.data(), int64_t(line.size())));

  TclChunkedStream hostile(&out);
  std::string huge = "1000000000000000\r\n";
  EXPECT_THROW(hostile.Write(huge.data(), int64_t(huge.size())), EStreamError);

  TclChunkedStream seeking(&out);
  seeking.Write("3\r\n", 3);
  EXPECT_EQ(seeking.Position(), 3);
  EXPECT_EQ(seeking.Seek(3, soBeginning), 3);
  EXPECT_EQ(seeking.Size(), 3);
  try {
    seeking.Seek(0, soBeginning);
    ADD_FAILURE();
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Invalid Stream operation");
  }
  char buf[4];
  EXPECT_EQ(seeking.Read(buf, 4), 0);
  EXPECT_THROW(TclChunkedStream(nullptr), EclAssertionError);
}

TEST(HttpProxySettings, ClearsAssignsAndNotifiesChanges) {
  TclHttpProxySettings proxy;
  int changes = 0;
  proxy.OnChanged = [&](TclHttpProxySettings*) { ++changes; };
  EXPECT_EQ(proxy.Port(), 8080);
  EXPECT_EQ(proxy.AuthorizationType(), atAutoDetect);
  proxy.SetServer("proxy");
  proxy.SetServer("proxy");
  proxy.SetPort(70000);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(proxy.Port(), 8080);

  TclHttpProxySettings other;
  other.SetServer("p2");
  other.SetPort(3128);
  other.SetUserName("u");
  other.SetPassword("pw");
  other.SetAuthorizationType(atBasic);
  proxy.Assign(other);
  EXPECT_EQ(proxy.Server(), "p2");
  EXPECT_EQ(proxy.Port(), 3128);
  EXPECT_EQ(proxy.UserName(), "u");
  EXPECT_EQ(proxy.Password(), "pw");
  EXPECT_EQ(proxy.AuthorizationType(), atBasic);
  proxy.Clear();
  EXPECT_EQ(proxy.Server(), "");
  EXPECT_EQ(proxy.Port(), 8080);
  EXPECT_EQ(proxy.AuthorizationType(), atAutoDetect);
}

TEST(HttpError, CarriesStatusLineCodeAndText) {
  try {
    throw EclHttpError("HTTP/1.1 404 Not Found", 404, "no such page");
  } catch (const EclSocketError& e) {
    EXPECT_STREQ(e.what(), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(e.ErrorCode(), 404);
    EXPECT_EQ(dynamic_cast<const EclHttpError&>(e).ResponseText(), "no such page");
  }
}
