#include "common/clTranslator.h"

#include <cerrno>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <strings.h>

namespace {

bool IsUtf8Name(const std::string& aName) {
  return strcasecmp(aName.c_str(), "utf-8") == 0 || strcasecmp(aName.c_str(), "utf8") == 0;
}

std::string Resolve(const std::string& aCharSet) {
  if (aCharSet.empty() || !TclTranslator::IsKnownCharSet(aCharSet)) return TclTranslator::DefaultCharSet();
  return aCharSet;
}

// Length of the well-formed UTF-8 character at aText (overlong forms, surrogates and values past
// U+10FFFF excluded), or 0 when the bytes there are not one.
size_t WellFormedUtf8Length(const unsigned char* aText, size_t aLeft) {
  const unsigned char lead = aText[0];
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the range of the byte after the lead
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (aLeft < length || aText[1] < low || aText[1] > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if ((aText[i] & 0xC0) != 0x80) return 0;
  return length;
}

// UTF-8 bytes as text: iconv lets some ill-formed sequences through, so they are checked here.
std::string ValidUtf8(const std::string& aBytes) {
  std::string out;
  out.reserve(aBytes.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(aBytes.data());
  for (size_t i = 0; i < aBytes.size();) {
    size_t length = WellFormedUtf8Length(bytes + i, aBytes.size() - i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(aBytes, i, length);
      i += length;
    }
  }
  return out;
}

// Converts with iconv; on a sequence the target cannot hold or the source cannot decode, emits
// aReplacement and skips one source character.
std::string Convert(const std::string& aInput, const std::string& aFrom, const std::string& aTo,
                    const std::string& aReplacement, bool aSourceIsUtf8) {
  iconv_t cd = iconv_open(aTo.c_str(), aFrom.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return aInput;
  std::string out;
  out.reserve(aInput.size() + aInput.size() / 2 + 16);
  char buf[4096];
  char* in = const_cast<char*>(aInput.data());
  size_t inLeft = aInput.size();
  while (true) {
    char* o = buf;
    size_t oLeft = sizeof buf;
    size_t r = inLeft ? iconv(cd, &in, &inLeft, &o, &oLeft) : iconv(cd, nullptr, nullptr, &o, &oLeft);
    out.append(buf, size_t(o - buf));
    if (r != size_t(-1)) {
      if (inLeft == 0) {
        char* o2 = buf;
        size_t o2Left = sizeof buf;
        iconv(cd, nullptr, nullptr, &o2, &o2Left);
        out.append(buf, size_t(o2 - buf));
        break;
      }
      continue;
    }
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (truncated tail): one replacement for a character the target cannot hold,
    // and one for each byte that starts no character, so that the bytes after it are still read.
    size_t skip = aSourceIsUtf8 ? WellFormedUtf8Length(reinterpret_cast<unsigned char*>(in), inLeft) : 0;
    if (skip == 0) skip = 1;
    in += skip;
    inLeft -= skip;
    out += aReplacement;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string TclTranslator::DefaultCharSet() {
  static const std::string name = [] {
    locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (!loc) return std::string("UTF-8");
    std::string codeset = nl_langinfo_l(CODESET, loc);
    freelocale(loc);
    // The bare C locale reports ASCII; treat it as UTF-8 so text round-trips.
    return codeset.empty() || codeset == "ANSI_X3.4-1968" ? std::string("UTF-8") : codeset;
  }();
  return name;
}

bool TclTranslator::IsKnownCharSet(const std::string& aCharSet) {
  if (aCharSet.empty()) return false;
  iconv_t cd = iconv_open("UTF-8", aCharSet.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

std::string TclTranslator::GetBytes(const std::string& aText, const std::string& aCharSet) {
  std::string target = Resolve(aCharSet);
  if (IsUtf8Name(target)) return aText;
  return Convert(aText, "UTF-8", target, "?", true);
}

std::string TclTranslator::GetString(const std::string& aBytes, const std::string& aCharSet) {
  std::string source = Resolve(aCharSet);
  if (IsUtf8Name(source)) return ValidUtf8(aBytes);
  return Convert(aBytes, source, "UTF-8", "\xEF\xBF\xBD", false);
}
