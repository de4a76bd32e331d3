#include "cli/ConsolePlatform.h"

#include <filesystem>

void TConsolePlatform::ShowMessage(const std::string& aText) {
  THeadlessPlatform::ShowMessage(aText);
  FMessages << "zentavo-dl: " << aText << std::endl;
}

bool TConsolePlatform::AskYesNo(const std::string& aCaption, const std::string& aText) {
  THeadlessPlatform::AskYesNo(aCaption, aText);
  return true;
}

std::string TConsolePlatform::RunningProgramFolder() {
  std::error_code error;
  auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::filesystem::current_path().string();
  return program.parent_path().string();
}
