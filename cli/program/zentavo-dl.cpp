// zentavo-dl: the downloader's workflow from the command line, without a window.
#include <iostream>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/ExitStatus.h"

int main(int argc, char** argv) {
  TParsedCommandLine parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.Error.empty()) {
    std::cerr << "zentavo-dl: " << parsed.Error << "\n用 --help 查看用法。\n";
    return kExitUsage;
  }
  if (parsed.Options.ShowHelp) {
    std::cout << UsageText();
    return kExitSaved;
  }
  if (parsed.Options.ShowVersion) {
    std::cout << VersionText();
    return kExitSaved;
  }
  std::cerr << "zentavo-dl: 下载尚未接通\n";
  return kExitFailed;
}
