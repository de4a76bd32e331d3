#include <gtest/gtest.h>

#include <filesystem>

#include "tests/gui/ProgramCopy.h"

// The program carries the binder built alongside it and writes both files next to itself.
TEST(EmbeddedBinder, ProgramWritesTheBinderItCarriesIntoItsOwnFolder) {
  zvtest::TempDir dir;
  // Start-up writes the files before the window opens; the program then runs until stopped.
  zvtest::StartProgramCopy(dir);
  ASSERT_TRUE(std::filesystem::exists(dir.File("FlvBind.exe")));
  EXPECT_EQ(zvtest::ReadFile(dir.File("FlvBind.exe")), zvtest::ReadFile(zvtest::BinDir() + "/FlvBind.exe"));
  EXPECT_EQ(zvtest::ReadFile(dir.File("FLVLib.dll")), zvtest::ReadFile(zvtest::BinDir() + "/FLVLib.dll"));

  // The written binder runs from there with the library beside it (the loader would fail with 127):
  // without arguments it shows its usage and fails.
  zvtest::ChildProcess binder({dir.File("FlvBind.exe")});
  EXPECT_EQ(binder.Wait(), 255);
}
