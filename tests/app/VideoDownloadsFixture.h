#pragma once
// The download tab against the local site with the real engine and the real binder: a headless
// window whose save folder is a fresh folder, with helpers to add resolved parts, pace the site's
// segments, and look at rows, items and files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/HeadlessPlatform.h"
#include "app/MainForm.h"
#include "tests/support/AppWaits.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZentavoSite.h"

namespace zvtest {

class VideoDownloads : public ::testing::Test {
protected:
  VideoDownloads() {
    // The real binder, so merging stays on and works; parts are merged only where a test says so.
    Platform.FolderOfExecutable = AppFolder.Path();
    Platform.Resources = zvtest::BuiltBinderResources();
    Form.lv3.OnInsert = nullptr;
    Form.FormCreate();
    Form.SetSaveFolder(Folder.Path() + "/");
    // Failures are retried briefly so failing cases end quickly.
    Form.clMdloader1.SetTryCount(2);
    Form.clMdloader1.SetReconnectAfter(10);
  }

  // Addresses of a part's segments as the site serves them: cid-1.flv, cid-2.flv, ...
  std::vector<std::string> Segments(const std::string& aCid, int aCount, const std::string& aPath = "/seg/",
                                    const std::string& aExtension = ".flv") const {
    std::vector<std::string> addresses;
    for (int i = 1; i <= aCount; ++i)
      addresses.push_back(Site.Url(aPath + aCid + "-" + std::to_string(i) + aExtension + "?expires=1"));
    return addresses;
  }
  // A resolved row of lv2.
  void AddPart(const std::string& aCaption, const std::string& aName, const std::vector<std::string>& aAddresses) {
    std::string joined;
    for (const auto& address : aAddresses) joined += (joined.empty() ? "" : "|") + address;
    Form.lv2.Add(aCaption, {aName, "1", joined, "1080P", std::to_string(aAddresses.size())});
  }
  // Paces every segment so transfers can be caught while they run; 0 lifts it.
  void PaceSegments(int aBytesPerSecond, int aTags = 2000) {
    nlohmann::json config = {{"segment_tags", aTags}};
    if (aBytesPerSecond > 0) config["faults"] = {{"*", {{"rate", aBytesPerSecond}}}};
    Site.Configure(config);
  }

  std::string Captions() const {
    std::string captions;
    for (int i = 0; i < Form.lv1.Count(); ++i) captions += Form.lv1.ItemCaption(i);
    return captions;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (int i = 0; i < Form.lv1.Count(); ++i) names.push_back(Form.lv1.SubItem(i, 0));
    return names;
  }
  // Everything in the save folder, folders included.
  std::vector<std::string> Files() const {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Folder.Path()))
      files.push_back(std::filesystem::relative(entry.path(), Folder.Path()).string());
    std::sort(files.begin(), files.end());
    return files;
  }
  TclDownLoadItem* Item(int aIndex) { return Form.clMdloader1.DownLoadList().Items(aIndex); }
  bool ServeUntil(const std::function<bool()>& aDone, int aTimeoutMs = 30000) {
    return zvtest::ServeUntil(Platform, aDone, aTimeoutMs);
  }
  bool WaitIdle() {
    return ServeUntil([&] { return !Form.clMdloader1.IsBusy(); });
  }
  bool WaitRunning(int aCount) {
    return ServeUntil([&] { return Form.RunningCount == aCount; });
  }
  // Until the row shows a share of its data.
  bool WaitProgress(int aRow) {
    return ServeUntil([&] { return !Form.lv1.SubItem(aRow, 2).empty(); });
  }
  void Select(TListView& aList, std::initializer_list<int> aRows) {
    for (int i = 0; i < aList.Count(); ++i) aList.SetSelected(i, std::find(aRows.begin(), aRows.end(), i) != aRows.end());
  }
  std::string SegmentSha256(const std::string& aCid, int aIndex, int aTags = 200) {
    return ZentavoSite::SegmentSha256(aCid, aIndex, aTags);
  }
  std::string FileSha256(const std::string& aName) { return zvtest::FileSha256(Folder.File(aName)); }
  // Byte offsets the site was asked for, of the segment requests so far.
  std::vector<std::string> Ranges() const {
    std::vector<std::string> ranges;
    for (const auto& request : Site.Requests())
      if (request["headers"].contains("Range")) ranges.push_back(request["headers"]["Range"]);
    return ranges;
  }

  ZentavoSite Site;
  TempDir Folder;
  TempDir AppFolder;
  THeadlessPlatform Platform;
  TForm1 Form{Platform, Site.Settings()};
};

}  // namespace zvtest
