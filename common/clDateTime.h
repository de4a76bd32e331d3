#pragma once
// Points in time as the component set exchanges them: days since 1899-12-30 in local time, the
// fraction being the time of day (a resource's date, a cookie's expiry).
#include <cstdint>

using TDateTime = double;

// The current local time split into calendar fields (month 1..12).
struct TclLocalTime {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};

class TclDateTime {
public:
  static constexpr double SecondsPerDay = 86400.0;
  static TDateTime Now();
  // Seconds since 1970-01-01 UTC, as local date-time.
  static TDateTime FromUnixTime(double aSeconds);
  // The other way: seconds since 1970-01-01 UTC of a local date-time.
  static double ToUnixTime(TDateTime aDateTime);
  static TclLocalTime NowLocal();
};
