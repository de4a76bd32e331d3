#pragma once
// Failures of the FLV file objects. The FLV operations catch them and turn them into 0 results;
// the code tells an end of data apart from an I/O error where that matters (the rewrite).
#include "common/clErrors.h"

enum TFlvFileErrorCode : int32_t { fecEndOfData = -1, fecIoError = -2, fecSeek = -3, fecWrite = -4 };

class EclFlvFileError : public EclError {
public:
  EclFlvFileError(const std::string& aMessage, TFlvFileErrorCode aCode) : EclError(aMessage, aCode) {}
};
