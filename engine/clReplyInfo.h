#pragma once
// Reading a sent request's reply into a worker's resource info: the header block and status
// first (a refused status raises), then, when the worker wants them, the facts its header
// fields give (size, date, type, compression, random access).
#include "common/clStringsUtils.h"
#include "engine/clResourceInfo.h"
#include "platform/clWinInet.h"

// Stores the reply's header lines in aResponseHeader (empty when they cannot be read), then the
// status code and reason phrase in the resource info. A status of 400 or more raises
// EclInternetError with that status as ErrorCode. Answers false, leaving the platform error
// number for GetLastError, when the status itself cannot be read: the caller records that as a
// non-fatal error and skips the rest.
bool ReadReplyStatus(HINTERNET hRequest, TStrings& aResponseHeader, TclResourceInfoHolder& aInfo);

// Size, date, content type, disposition and compression from the header lines, then the random
// access probe on the request when the size is known. A fact the reply lacks resets the size
// where the resource would otherwise be split on a guess.
void EvaluateReplyHeaders(HINTERNET hRequest, const TStrings& aResponseHeader, TclResourceInfoHolder& aInfo);
