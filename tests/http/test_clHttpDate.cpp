#include "http/clHttpDate.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

TDateTime Utc(int aYear, int aMonth, int aDay, int aHour, int aMinute, int aSecond) {
  tm t{};
  t.tm_year = aYear - 1900;
  t.tm_mon = aMonth - 1;
  t.tm_mday = aDay;
  t.tm_hour = aHour;
  t.tm_min = aMinute;
  t.tm_sec = aSecond;
  return TclDateTime::FromUnixTime(double(timegm(&t)));
}

}  // namespace

TEST(TclHttpDate, ReadsTheFormsServersSend) {
  const TDateTime june9 = Utc(2021, 6, 9, 10, 18, 14);
  struct {
    const char* Text;
    TDateTime Expected;
  } cases[] = {
      {"Wed, 09 Jun 2021 10:18:14 GMT", june9},
      {"wed, 09 jun 2021 10:18:14 gmt", june9},
      {"Wed, 09-Jun-2021 10:18:14 GMT", june9},
      {"Wed, 09 Jun 2021 18:18:14 +0800", june9},
      {"Wed, 09 Jun 2021 05:18:14 -0500", june9},
      {"09 June 2021 10:18:14 UTC", june9},
      {"Wed Jun  9 10:18:14 2021", june9},
      {"Wednesday, 09-Jun-21 10:18:14 GMT", Utc(1921, 6, 9, 10, 18, 14)},
      {"Thu, 09 Jun 10 10:18:14 GMT", Utc(2010, 6, 9, 10, 18, 14)},
      {"Thu, 09 Jun 05 10:18:14 GMT", Utc(2005, 6, 9, 10, 18, 14)},
      {"Thu, 01 Jan 1970 00:00:00 GMT", Utc(1970, 1, 1, 0, 0, 0)},
      {"Sat, 29 Feb 2020 23:59:59 GMT", Utc(2020, 2, 29, 23, 59, 59)},
      {"Tue, 01 Jan 2030 00:00:00", Utc(2030, 1, 1, 0, 0, 0)},
  };
  for (const auto& c : cases) {
    TDateTime date = 0;
    ASSERT_TRUE(TclHttpDate::TryRead(c.Text, date)) << c.Text;
    EXPECT_NEAR(date, c.Expected, 1e-7) << c.Text;
  }
}

TEST(TclHttpDate, RefusesWhatIsNotADate) {
  const char* texts[] = {"",
                         "not a date",
                         "Wed, 32 Jun 2021 10:18:14 GMT",
                         "Sun, 29 Feb 2021 10:18:14 GMT",
                         "Wed, 09 Foo 2021 10:18:14 GMT",
                         "Wed, 09 Jun 2021 25:18:14 GMT",
                         "Wed, 09 Jun 2021 10:18:14 +08x0",
                         "Wed, 09 Jun 10:18:14 GMT",
                         "Wed, 09 Jun 2021 10:18:14 GMT 7"};
  for (const char* text : texts) {
    TDateTime date = 42;
    EXPECT_FALSE(TclHttpDate::TryRead(text, date)) << text;
    EXPECT_EQ(date, 42) << text;
  }
}
