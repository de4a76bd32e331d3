#include "common/clDateTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

TEST(TclDateTime, UnixTimeBecomesLocalDaysAndBack) {
  const char* old = std::getenv("TZ");
  std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  setenv("TZ", "CST-8", 1);  // eight hours east of UTC, no daylight saving
  tzset();
  EXPECT_DOUBLE_EQ(TclDateTime::FromUnixTime(0), 25569.0 + 8.0 / 24);
  EXPECT_DOUBLE_EQ(TclDateTime::FromUnixTime(86400 * 2 + 43200), 25571.5 + 8.0 / 24);
  EXPECT_NEAR(TclDateTime::ToUnixTime(25571.5 + 8.0 / 24), 86400 * 2 + 43200, 1e-3);
  EXPECT_NEAR(TclDateTime::ToUnixTime(TclDateTime::FromUnixTime(1234567890.25)), 1234567890.25, 1e-3);
  if (saved)
    setenv("TZ", saved->c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
  EXPECT_NEAR(TclDateTime::Now(), TclDateTime::FromUnixTime(double(time(nullptr))), 2.0 / 86400);
}
