#include "engine/clMultiDownLoader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/clInternetError.h"
#include "tests/engine/DownLoadEvents.h"
#include "tests/support/HttpFixture.h"
#include "tests/support/WebServers.h"

using namespace zvtest;

namespace {

using TLines = std::vector<std::string>;

// Settings that keep failing tries short where a test is not about them.
void QuickTries(TclMultiDownLoader& aControl) {
  aControl.SetReconnectAfter(50);
  aControl.SetTimeOut(3000);
}

TclDownLoadItem* AddItem(TclMultiDownLoader& aControl, const std::string& aURL, const std::string& aLocalFile,
                         int32_t aThreadCount = 5) {
  TclDownLoadItem* item = aControl.DownLoadList().Add();
  item->SetURL(aURL);
  item->SetLocalFile(aLocalFile);
  item->SetThreadCount(aThreadCount);
  return item;
}

}  // namespace

TEST(TclMultiDownLoader, DownloadsInRangesIntoTheFileWithEventsInOrder) {
  TempDir root, out;
  const std::string data = PatternBytes(300000);
  WriteFile(root.File("video.flv"), data);
  NginxServer nginx(root.Path());
  TclMultiDownLoader control;
  TDownLoadEvents events(control);
  TclDownLoadItem* item = AddItem(control, nginx.Url("/video.flv"), out.File("video.flv.vtq"));
  item->Start();
  ASSERT_TRUE(ServeUntil([&] { return events.Completed() == 1; }));
  EXPECT_TRUE(SameBytes(ReadFile(out.File("video.flv.vtq")), data));
  EXPECT_EQ(item->ResourceState().Count(), 5);
  EXPECT_EQ(item->ResourceState().LastStatus(), psSuccess);
  EXPECT_EQ(events.DataBytes(0), int64_t(data.size()));
  EXPECT_EQ(events.Lines(), (TLines{"busy 1", "status 0 psProcess", "url 0", "info 0", "status 0 psSuccess", "text 0",
                                    "busy 0", "completed 0 psSuccess"}));
}
