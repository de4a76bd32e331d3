// A name watched in a folder: seen when it comes, even for a moment between two looks, and seen
// going whether it is deleted or renamed away.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>

#include "platform/clFileWatch.h"
#include "tests/support/TestSupport.h"

using namespace zvtest;

TEST(FileWatch, SeesAFileComeAndGoBetweenTwoLooks) {
  TempDir dir;
  const std::string work = dir.File("a b.flv.$$$");
  struct {
    const char* Name;
    void (*Go)(const std::string& aWork, const std::string& aFolder);
  } cases[] = {
      {"deleted", [](const std::string& aWork, const std::string&) { unlink(aWork.c_str()); }},
      {"renamed over another file", [](const std::string& aWork, const std::string& aFolder) {
         WriteFile(aFolder + "/a b.flv", "old");
         std::rename(aWork.c_str(), (aFolder + "/a b.flv").c_str());
       }},
  };
  for (const auto& c : cases) {
    TclFileWatch watch(dir.Path(), "a b.flv.$$$");
    ASSERT_GE(watch.Handle(), 0);
    watch.Update();
    EXPECT_FALSE(watch.Appeared()) << c.Name;
    WriteFile(dir.File("other"), "news about another name");
    WriteFile(work, "rewritten");
    c.Go(work, dir.Path());
    pollfd handle{watch.Handle(), POLLIN, 0};
    EXPECT_EQ(poll(&handle, 1, 10000), 1) << c.Name;
    watch.Update();
    EXPECT_TRUE(watch.Appeared()) << c.Name;
    EXPECT_TRUE(watch.Vanished()) << c.Name;
  }
}

TEST(FileWatch, FileThatCameAndStaysHasNotVanished) {
  TempDir dir;
  TclFileWatch watch(dir.Path(), "work");
  WriteFile(dir.File("work"), "");
  watch.Update();
  EXPECT_TRUE(watch.Appeared());
  EXPECT_FALSE(watch.Vanished());
  // Gone and back again: it is there.
  unlink(dir.File("work").c_str());
  WriteFile(dir.File("work"), "");
  watch.Update();
  EXPECT_FALSE(watch.Vanished());
}

TEST(FileWatch, FolderThatCannotBeWatchedIsLookedAt) {
  TempDir dir;
  TclFileWatch watch(dir.File("missing"), "work");
  EXPECT_EQ(watch.Handle(), -1);
  watch.Update();
  EXPECT_FALSE(watch.Appeared());
  EXPECT_FALSE(watch.Vanished());
}
