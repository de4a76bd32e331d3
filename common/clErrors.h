#pragma once
// Root of the component set's error classes: a message and a 32-bit code. Negative codes are the
// component set's own; positive codes are protocol statuses or platform error numbers.
#include <cstdint>
#include <stdexcept>
#include <string>

class EclError : public std::runtime_error {
public:
  EclError(const std::string& aMessage, int32_t aErrorCode)
      : std::runtime_error(aMessage), FErrorCode(aErrorCode) {}
  int32_t ErrorCode() const { return FErrorCode; }

private:
  int32_t FErrorCode;
};

// A programming error that the component set refuses instead of acting on (a missing owner or
// destination, a header line that would carry a line break onto the wire).
class EclAssertionError : public EclError {
public:
  explicit EclAssertionError(const std::string& aMessage) : EclError(aMessage, -1) {}
};
