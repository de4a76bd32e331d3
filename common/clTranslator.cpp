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

// Length of the UTF-8 sequence starting with aLead (1 for a stray byte, so progress is guaranteed).
size_t Utf8Length(unsigned char aLead) {
  if (aLead >= 0xF0 && aLead < 0xF8) return 4;
  if (aLead >= 0xE0) return aLead < 0xF0 ? 3 : 1;
  if (aLead >= 0xC0) return 2;
  return 1;
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
    // EILSEQ or EINVAL (truncated tail): replace one source character and go on.
    size_t skip = aSourceIsUtf8 ? std::min(inLeft, Utf8Length(static_cast<unsigned char>(*in))) : 1;
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
  return Convert(aBytes, source, "UTF-8", "\xEF\xBF\xBD", IsUtf8Name(source));
}
