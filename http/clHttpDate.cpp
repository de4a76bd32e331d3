#include "http/clHttpDate.h"

#include <cctype>
#include <algorithm>
#include <optional>
#include <vector>

#include "common/clStringsUtils.h"

namespace {

const char* const Months[] = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
const char* const Weekdays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// A month or weekday named by its first three letters or in full ("jun", "june", "wednesday").
int IndexOfName(const std::string& aWord, const char* const* aNames, int aCount) {
  if (aWord.size() < 3) return -1;
  for (int i = 0; i < aCount; ++i)
    if (aWord.compare(0, 3, aNames[i]) == 0) return i;
  return -1;
}

// "hh:mm" or "hh:mm:ss" as seconds of the day.
std::optional<int> ReadTime(const std::string& aWord) {
  int parts[3] = {0, 0, 0}, count = 0;
  size_t start = 0;
  for (;;) {
    size_t colon = aWord.find(':', start);
    std::string part = aWord.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (count == 3 || part.size() > 2 || !AllDigits(part)) return std::nullopt;
    parts[count++] = std::stoi(part);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (count < 2 || parts[0] > 23 || parts[1] > 59 || parts[2] > 60) return std::nullopt;
  return parts[0] * 3600 + parts[1] * 60 + std::min(parts[2], 59);
}

// "+0800", "-0530", "+08:00" as seconds east of UTC.
std::optional<int> ReadZone(const std::string& aWord) {
  std::string digits = aWord.substr(1);
  if (digits.size() == 5 && digits[2] == ':') digits.erase(2, 1);
  if (digits.size() != 4 || !AllDigits(digits)) return std::nullopt;
  int hours = std::stoi(digits.substr(0, 2)), minutes = std::stoi(digits.substr(2));
  if (hours > 23 || minutes > 59) return std::nullopt;
  int seconds = hours * 3600 + minutes * 60;
  return aWord[0] == '-' ? -seconds : seconds;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

unsigned DaysInMonth(int64_t aYear, unsigned aMonth) {
  static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (aYear % 4 == 0 && aYear % 100 != 0) || aYear % 400 == 0;
  return aMonth == 2 && leap ? 29 : days[aMonth - 1];
}

// Words of the text: separated by blanks and commas; hyphens separate the parts of a date
// ("09-Jun-21") but a leading sign stays with a zone offset.
std::vector<std::string> SplitWords(const std::string& aText) {
  std::vector<std::string> words;
  std::string word;
  auto flush = [&] {
    if (!word.empty()) words.push_back(word);
    word.clear();
  };
  for (char c : TclStringsUtils::LowerCase(aText)) {
    if (c == ' ' || c == '\t' || c == ',') {
      flush();
    } else if (c == '-' && !word.empty() && word.find(':') == std::string::npos) {
      flush();
    } else {
      word += c;
    }
  }
  flush();
  return words;
}

}  // namespace

bool TclHttpDate::TryRead(const std::string& aText, TDateTime& aDate) {
  int day = -1, month = -1, seconds = -1, zone = 0;
  int64_t year = -1;
  bool zoneSeen = false;
  for (const std::string& w : SplitWords(aText)) {
    if (AllDigits(w)) {
      // The day comes first unless the word can only be a year.
      if (day < 0 && w.size() <= 2) {
        day = std::stoi(w);
      } else if (year < 0 && (w.size() == 2 || w.size() == 4)) {
        year = std::stoi(w);
        if (w.size() == 2) year += year > 10 ? 1900 : 2000;
      } else {
        return false;
      }
    } else if (w.find(':') != std::string::npos && seconds < 0) {
      auto t = ReadTime(w);
      if (!t) return false;
      seconds = *t;
    } else if ((w[0] == '+' || w[0] == '-') && !zoneSeen) {
      auto z = ReadZone(w);
      if (!z) return false;
      zone = *z;
      zoneSeen = true;
    } else if ((w == "gmt" || w == "utc" || w == "ut" || w == "z") && !zoneSeen) {
      zoneSeen = true;
    } else if (month < 0 && IndexOfName(w, Months, 12) >= 0) {
      month = IndexOfName(w, Months, 12) + 1;
    } else if (IndexOfName(w, Weekdays, 7) < 0) {
      return false;
    }
  }
  if (day < 1 || month < 1 || year < 0 || unsigned(day) > DaysInMonth(year, unsigned(month))) return false;
  double utc = double(DaysFromCivil(year, unsigned(month), unsigned(day))) * TclDateTime::SecondsPerDay +
               std::max(seconds, 0) - zone;
  aDate = TclDateTime::FromUnixTime(utc);
  return true;
}
