#pragma once
// The calling thread's error state of the internet client: the last error number and the extended
// text that goes with the last failure (InternetGetLastResponseInfoA).
#include <string>

#include "platform/clWinInet.h"

// Records a failure on the calling thread: the number and the transport's own words for it.
void SetInternetFailure(DWORD aError, const std::string& aDetail = "");
// The detail of the calling thread's last failure and its number.
const std::string& LastResponseText();
DWORD LastResponseError();
