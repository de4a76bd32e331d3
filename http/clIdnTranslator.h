#pragma once
// Host names with non-ASCII labels in their ASCII form: "xn--" + Punycode (RFC 3492) per label.
#include <string>

#include "common/clErrors.h"

class EclIdnError : public EclError {
public:
  explicit EclIdnError(const std::string& aMessage) : EclError(aMessage, -1) {}
};

class TclIdnTranslator {
public:
  // True when every character of aInput (UTF-8) is below 128; true for the empty string.
  static bool IsBasic(const std::string& aInput);
  // One label: unchanged when basic, otherwise "xn--" + its Punycode. Raises EclIdnError, also for
  // a label of more than 63 characters that needs translating.
  static std::string GetAsciiText(const std::string& aInput);
  // Every "."-separated label of aInput through GetAsciiText, joined again with ".". Raises
  // EclIdnError for a name longer than DNS allows: 253 octets, labels of 63, in the ASCII form.
  static std::string GetAscii(const std::string& aInput);
};
