#pragma once
// The summary line a benchmark prints for each figure it compares, which scripts/bench.sh gathers
// into one table:
//   RESULT name=NAME ours=X peer=Y unit=UNIT ratio=OURS/PEER target=TEXT met=yes|no|- what=TEXT
// Every field but the last is free of spaces; "what" runs to the end of the line.
#include <cmath>
#include <cstdio>
#include <string>

namespace zvbench {

// Four significant digits, without an exponent for the large figures (calls/s, KiB).
inline std::string Figure(double aValue) {
  char text[32];
  std::snprintf(text, sizeof text, std::fabs(aValue) >= 1000 ? "%.0f" : "%.4g", aValue);
  return text;
}

// aTarget: the bound the ratio (or the figure) must keep, as text, e.g. "<=1.25"; nullptr for a
// figure without one. aMet is only read when there is a target. Returns aMet, or true without one.
inline bool PrintResult(const char* aName, const char* aWhat, double aOurs, double aPeer, const char* aUnit,
                        const char* aTarget = nullptr, bool aMet = true) {
  std::printf("RESULT name=%s ours=%s peer=%s unit=%s ratio=%.2f target=%s met=%s what=%s\n", aName,
              Figure(aOurs).c_str(), Figure(aPeer).c_str(), aUnit, aPeer != 0 ? aOurs / aPeer : 0.0, aTarget ? aTarget : "-", aTarget ? (aMet ? "yes" : "no") : "-",
              aWhat);
  std::fflush(stdout);
  return !aTarget || aMet;
}

}  // namespace zvbench
