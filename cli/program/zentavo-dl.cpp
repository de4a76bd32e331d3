// zentavo-dl: the downloader's workflow from the command line, the window model driven without a
// window.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "app/embedded/EmbeddedResources.h"
#include "cli/CliOptions.h"
#include "cli/ConsolePlatform.h"
#include "cli/DownloadRun.h"
#include "cli/ExitStatus.h"
#include "cli/StopSignals.h"

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
  // A reader that went away (| head) must not end the program before it has cleaned up.
  std::signal(SIGPIPE, SIG_IGN);
  TStopSignals stop;
  TConsolePlatform platform(std::cerr);
  platform.FolderOfExecutable = TConsolePlatform::RunningProgramFolder();
  for (const auto& [name, data] : EmbeddedResources()) platform.Resources[name] = std::string(data);
  TForm1 form(platform, TSiteSettings::FromEnvironment());
  TProgressView view(std::cout, StdoutIsTerminal(), TerminalColumns);
  TDownloadRun run(form, parsed.Options, view, std::cout, std::cerr, [&stop] { return stop.Requested(); });
  return run.Execute();
}
