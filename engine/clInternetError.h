#pragma once
// The download engine's one exception type: every failed platform internet call, every refused
// HTTP status and every refusal of the engine itself, with a message and an ErrorCode.
#include <cstdint>
#include <string>

#include "common/clErrors.h"

// Codes the engine raises besides HTTP statuses and platform error numbers.
inline constexpr int32_t clOperationInProgressError = -1;
inline constexpr int32_t clSyncThreadEndedError = -2;
inline constexpr int32_t clRequestTimeoutError = 258;

class EclInternetError : public EclError {
public:
  EclInternetError(const std::string& aErrorText, int32_t aErrorCode) : EclError(aErrorText, aErrorCode) {}

  // The calling thread's last platform error number with its text.
  static EclInternetError CreateByLastError();
  // The text of a platform internet error number: the message table's text without trailing
  // blanks, line breaks and periods; for the extended-error number the server's last response
  // text is added. "Unknown error, code = N" when there is none.
  static std::string GetLastErrorText(int32_t aCode);
  // How GetLastErrorText puts the message table's text (aSystemText) and the server's response
  // text together.
  static std::string ComposeErrorText(const std::string& aSystemText, int32_t aCode, const std::string& aResponseText);
};

// An action that did not finish within its time-out.
class EclTimeoutInternetError : public EclInternetError {
public:
  EclTimeoutInternetError() : EclInternetError("Request timeout", clRequestTimeoutError) {}
};
