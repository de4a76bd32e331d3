// zentavo-dl's command line of any shape (arguments split at NUL bytes): no crash, and a line that
// is accepted holds only settings the window offers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CliOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  std::string text(reinterpret_cast<const char*>(aData), aSize);
  std::vector<std::string> args;
  for (size_t begin = 0; begin <= text.size();) {
    size_t end = std::min(text.find('\0', begin), text.size());
    args.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  TParsedCommandLine parsed = ParseCommandLine(args);
  const TCliOptions& o = parsed.Options;
  if (parsed.Error.empty() && !o.ShowHelp && !o.ShowVersion) {
    const auto& jobs = JobChoices();
    if (o.QualityIndex < 0 || o.QualityIndex > 3 || o.Connections < 1 || o.Connections > 10 ||
        std::find(jobs.begin(), jobs.end(), o.Jobs) == jobs.end())
      std::abort();
    for (const TPartRange& range : o.Parts)
      if (range.First < 1 || range.Last < range.First) std::abort();
  }
  std::vector<TPartRange> ranges;
  std::string error;
  // A list is either taken, every range in order, or refused with a reason.
  const bool taken = ParsePartList(text, ranges, error);
  if (taken == !error.empty()) std::abort();
  for (const TPartRange& range : ranges)
    if (range.First < 1 || range.Last < range.First) std::abort();
  return 0;
}
