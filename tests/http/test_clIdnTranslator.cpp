#include <gtest/gtest.h>

#include <chrono>

#include "http/clIdnTranslator.h"

namespace {

struct TPunycodeCase {
  const char* Name;
  const char* Label;
  const char* Encoded;
};

// The sample strings of RFC 3492, section 7.1 (the case annotations of the RFC's output aside).
const TPunycodeCase cRfcSamples[] = {
      {"A", "\u0644\u064A\u0647\u0645\u0627\u0628\u062A\u0643\u0644\u0645\u0648\u0634\u0639\u0631\u0628\u064A\u061F", "egbpdaj6bu4bxfgehfvwxn"},
      {"B", "\u4ED6\u4EEC\u4E3A\u4EC0\u4E48\u4E0D\u8BF4\u4E2D\u6587", "ihqwcrb4cv8a8dqg056pqjye"},
      {"C", "\u4ED6\u5011\u7232\u4EC0\u9EBD\u4E0D\u8AAA\u4E2D\u6587", "ihqwctvzc91f659drss3x8bo0yb"},
      {"D", "Pro\u010Dprost\u011Bnemluv\u00ED\u010Desky", "Proprostnemluvesky-uyb24dma41a"},
      {"E", "\u05DC\u05DE\u05D4\u05D4\u05DD\u05E4\u05E9\u05D5\u05D8\u05DC\u05D0\u05DE\u05D3\u05D1\u05E8\u05D9\u05DD\u05E2\u05D1\u05E8\u05D9\u05EA", "4dbcagdahymbxekheh6e0a7fei0b"},
      {"F", "\u092F\u0939\u0932\u094B\u0917\u0939\u093F\u0928\u094D\u0926\u0940\u0915\u094D\u092F\u094B\u0902\u0928\u0939\u0940\u0902\u092C\u094B\u0932\u0938\u0915\u0924\u0947\u0939\u0948\u0902", "i1baa7eci9glrd9b2ae1bj0hfcgg6iyaf8o0a1dig0cd"},
      {"G", "\u306A\u305C\u307F\u3093\u306A\u65E5\u672C\u8A9E\u3092\u8A71\u3057\u3066\u304F\u308C\u306A\u3044\u306E\u304B", "n8jok5ay5dzabd5bym9f0cm5685rrjetr6pdxa"},
      {"H", "\uC138\uACC4\uC758\uBAA8\uB4E0\uC0AC\uB78C\uB4E4\uC774\uD55C\uAD6D\uC5B4\uB97C\uC774\uD574\uD55C\uB2E4\uBA74\uC5BC\uB9C8\uB098\uC88B\uC744\uAE4C", "989aomsvi5e83db1d2a355cv1e0vak1dwrv93d5xbh15a0dt30a5jpsd879ccm6fea98c"},
      {"I", "\u043F\u043E\u0447\u0435\u043C\u0443\u0436\u0435\u043E\u043D\u0438\u043D\u0435\u0433\u043E\u0432\u043E\u0440\u044F\u0442\u043F\u043E\u0440\u0443\u0441\u0441\u043A\u0438", "b1abfaaepdrnnbgefbadotcwatmq2g4l"},
      {"J", "Porqu\u00E9nopuedensimplementehablarenEspa\u00F1ol", "PorqunopuedensimplementehablarenEspaol-fmd56a"},
      {"K", "T\u1EA1isaoh\u1ECDkh\u00F4ngth\u1EC3ch\u1EC9n\u00F3iti\u1EBFngVi\u1EC7t", "TisaohkhngthchnitingVit-kjcr8268qyxafd2f1b9g"},
      {"L", "3\u5E74B\u7D44\u91D1\u516B\u5148\u751F", "3B-ww4c5e180e575a65lsy2b"},
      {"M", "\u5B89\u5BA4\u5948\u7F8E\u6075-with-SUPER-MONKEYS", "-with-SUPER-MONKEYS-pc58ag80a8qai00g7n9n"},
      {"N", "Hello-Another-Way-\u305D\u308C\u305E\u308C\u306E\u5834\u6240", "Hello-Another-Way--fc4qua05auwb3674vfr0b"},
      {"O", "\u3072\u3068\u3064\u5C4B\u6839\u306E\u4E0B2", "2-u9tlzr9756bt3uc0v"},
      {"P", "Maji\u3067Koi\u3059\u308B5\u79D2\u524D", "MajiKoi5-783gue6qz075azm5e"},
      {"Q", "\u30D1\u30D5\u30A3\u30FCde\u30EB\u30F3\u30D0", "de-jg4avhby1noc0d"},
      {"R", "\u305D\u306E\u30B9\u30D4\u30FC\u30C9\u3067", "d9juau41awczczp"},
};

}  // namespace

TEST(IdnTranslator, EncodesTheRfcSampleStrings) {
  for (const auto& sample : cRfcSamples) {
    SCOPED_TRACE(sample.Name);
    EXPECT_EQ(TclIdnTranslator::GetAsciiText(sample.Label), std::string("xn--") + sample.Encoded);
  }
}

TEST(IdnTranslator, LeavesBasicLabelsAlone) {
  EXPECT_TRUE(TclIdnTranslator::IsBasic(""));
  EXPECT_TRUE(TclIdnTranslator::IsBasic("-> $1.00 <-"));
  EXPECT_FALSE(TclIdnTranslator::IsBasic("b\u00FCcher"));
  EXPECT_EQ(TclIdnTranslator::GetAsciiText("-> $1.00 <-"), "-> $1.00 <-");
  // No case folding before encoding: the basic characters are copied as written.
  EXPECT_EQ(TclIdnTranslator::GetAsciiText("B\u00FCcher"), "xn--Bcher-kva");
}

TEST(IdnTranslator, TranslatesEachLabelOfAHostName) {
  EXPECT_EQ(TclIdnTranslator::GetAscii("www.b\u00FCcher.\u4F8B\u5B50.com"), "www.xn--bcher-kva.xn--fsqu00a.com");
  EXPECT_EQ(TclIdnTranslator::GetAscii(""), "");
  EXPECT_EQ(TclIdnTranslator::GetAscii("a..b."), "a..b.");
}

namespace {

// UTF-8 text of aCount different characters, aStride code points apart from aFirst on.
std::string DistinctCharacters(int aCount, int aStride = 101, uint32_t aFirst = 0x4E00) {
  std::string text;
  for (int i = 0; i < aCount; ++i) {
    const uint32_t cp = aFirst + uint32_t(i * aStride);
    if (cp < 0x10000) {
      text += static_cast<char>(0xE0 | (cp >> 12));
    } else {
      text += static_cast<char>(0xF0 | (cp >> 18));
      text += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    }
    text += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return text;
}

}  // namespace

TEST(IdnTranslator, KeepsToTheLengthsThatDnsAllows) {
  const std::string label63(63, 'a'), e = "\u00E9";
  EXPECT_EQ(TclIdnTranslator::GetAsciiText(label63), label63);
  EXPECT_EQ(TclIdnTranslator::GetAsciiText(DistinctCharacters(20)).size(), 57u);
  const std::string host253 = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
  EXPECT_EQ(TclIdnTranslator::GetAscii(host253), host253);
  EXPECT_EQ(TclIdnTranslator::GetAscii(host253 + "."), host253 + ".");  // the root's dot is not counted

  std::string manyE;
  for (int i = 0; i < 3000; ++i) manyE += e;
  const std::string refusedHosts[] = {
      label63 + "a",  // a label of 64
      DistinctCharacters(30),  // 30 characters, but longer than 63 as Punycode
      manyE + "\U0010FFFD",  // once too wide for the delta arithmetic
      host253 + "b",  // 254
      "x." + DistinctCharacters(20) + "." + host253.substr(30),  // short enough as written, not translated
  };
  for (const auto& host : refusedHosts) {
    SCOPED_TRACE(host.substr(0, 80));
    try {
      TclIdnTranslator::GetAscii(host);
      ADD_FAILURE() << "no error";
    } catch (const EclIdnError& error) {
      EXPECT_STREQ(error.what(), "Bad input value for the IDN translator");
    }
  }
}

TEST(IdnTranslator, RefusesHugeHostNamesAtOnce) {
  // Punycode takes time in the length times the number of different characters.
  const std::string huge = DistinctCharacters(80000, 1, 0x10000);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(TclIdnTranslator::GetAscii(huge), EclIdnError);
  EXPECT_THROW(TclIdnTranslator::GetAsciiText(huge), EclIdnError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(IdnTranslator, InvalidUtf8StillGivesALabel) {
  EXPECT_EQ(TclIdnTranslator::GetAsciiText("a\xFF"), TclIdnTranslator::GetAsciiText("a\uFFFD"));
}
