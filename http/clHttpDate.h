#pragma once
// Reading the dates of HTTP headers (Last-Modified, Date, a cookie's Expires):
// "Wed, 09 Jun 2021 10:18:14 GMT", "Wednesday, 09-Jun-21 10:18:14 GMT",
// "Sun Nov  6 08:49:37 1994", with a zone name (GMT, UTC) or a numeric offset such as +0800.
#include <string>

#include "common/clDateTime.h"

class TclHttpDate {
public:
  // The date in local time; false (aDate untouched) when the text is not such a date. Month
  // and weekday names are read without regard to case. A two-digit year above 10 is 19xx,
  // any other 20xx.
  static bool TryRead(const std::string& aText, TDateTime& aDate);
};
