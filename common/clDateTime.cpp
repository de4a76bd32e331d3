#include "common/clDateTime.h"

#include <cmath>
#include <ctime>

namespace {
constexpr double UnixEpochDays = 25569.0;  // 1970-01-01 counted from 1899-12-30
}

TDateTime TclDateTime::FromUnixTime(double aSeconds) {
  time_t whole = time_t(std::floor(aSeconds));
  tm local{};
  localtime_r(&whole, &local);
  return (aSeconds + double(local.tm_gmtoff)) / SecondsPerDay + UnixEpochDays;
}

double TclDateTime::ToUnixTime(TDateTime aDateTime) {
  const double local = (aDateTime - UnixEpochDays) * SecondsPerDay;
  const double whole = std::floor(local);
  const time_t wallClock = time_t(whole);
  tm fields{};
  gmtime_r(&wallClock, &fields);
  fields.tm_isdst = -1;
  return double(mktime(&fields)) + (local - whole);
}

TDateTime TclDateTime::Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return FromUnixTime(double(now.tv_sec) + double(now.tv_nsec) / 1e9);
}

TclLocalTime TclDateTime::NowLocal() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
          int(now.tv_nsec / 1000000)};
}
