// A full disk, played by a file size limit (RLIMIT_FSIZE) on a child process of the soak: its
// files cannot grow past the limit, as on a disk that has run out of room. In the child:
//  - engine: an item whose file is laid out in ranges (the whole length reserved at once) and one
//    fetched whole from a server without ranges (the file grows as it arrives), both larger than
//    the limit, must fail with an error that says why; a small item afterwards must still succeed
//    (the thread still serves its events);
//  - app: the application downloads a part whose segments fit but whose merged file does not, and
//    a segment that does not fit at all: every fitting segment must stay on disk, the merge must
//    end, the segment that does not fit must be marked failed with its reason, and the window must
//    go on serving its events (comment downloads that come after still finish).
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/HeadlessPlatform.h"
#include "app/MainForm.h"
#include "engine/clMultiDownLoader.h"
#include "tests/soak/Soak.h"
#include "tests/support/AppWaits.h"
#include "tests/support/FfmpegTools.h"
#include "tests/support/WebServers.h"
#include "tests/support/ZentavoSite.h"

namespace zvsoak {
namespace {

namespace fs = std::filesystem;

constexpr int64_t cEngineLimit = int64_t(4) << 20;

std::string Bytes(int64_t aSize, char aSeed) {
  std::string data(size_t(aSize), '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char(aSeed + i * 131 + (i >> 12));
  return data;
}

// The messages of the item's errors, one line.
std::string ErrorText(const TclInternetItem& aItem) {
  std::string text;
  for (const TclInternetError& error : aItem.Errors()) {
    if (!text.empty()) text += " | ";
    text += error.Text;
  }
  return text;
}

// The files served to the engine, written by the parent: the child could not write them.
void WriteServedFiles(const std::string& aFolder) {
  fs::create_directories(aFolder + "/served");
  zvtest::WriteFile(aFolder + "/served/big.bin", Bytes(2 * cEngineLimit, 1));
  zvtest::WriteFile(aFolder + "/served/small.bin", Bytes(cEngineLimit / 4, 2));
}

void EngineOnFullDisk(const std::string& aFolder, TFindings& aFindings) {
  zvtest::NginxServer nginx(aFolder + "/served");
  // The site sends a segment whole and of unknown length when asked to: the file grows as it comes.
  zvtest::ZentavoSite site;
  fs::create_symlink(aFolder + "/served/big.bin", site.SegmentFolder() + "/9-1.flv");
  site.Configure({{"faults", {{"/seg/9-1.flv", {{"no_range", true}, {"chunked", true}}}}}});

  TclMultiDownLoader control;
  control.SetTryCount(2);
  control.SetReconnectAfter(10);
  const std::pair<std::string, std::string> cases[] = {{"ranges", nginx.Url("/big.bin")},
                                                       {"whole", site.Url("/seg/9-1.flv")}};
  for (const auto& [name, url] : cases) {
    TclDownLoadItem* item = control.DownLoadList().Add();
    item->SetURL(url);
    item->SetThreadCount(5);
    item->SetLocalFile(aFolder + "/" + name + ".bin");
    item->Start();
    if (!ServeUntil([&] { return !item->IsBusy(); }, 30000)) {
      aFindings.Add("disk: the " + name + " download did not end on a full disk");
      return;
    }
    const std::string text = ErrorText(*item);
    std::error_code error;
    std::printf("disk: %s download on a full disk: status %d, file %lld bytes, errors: %s\n", name.c_str(),
                int(item->ResourceState().LastStatus()),
                static_cast<long long>(fs::file_size(item->LocalFile(), error)), text.c_str());
    if (item->ResourceState().LastStatus() != psFailed)
      aFindings.Add("disk: the " + name + " download did not fail on a full disk");
    if (text.find("too large") == std::string::npos && text.find("space") == std::string::npos)
      aFindings.Add("disk: the " + name + " download's error does not say the disk is full: " + text);
  }
  TclDownLoadItem* small = control.DownLoadList().Add();
  small->SetURL(nginx.Url("/small.bin"));
  small->SetLocalFile(aFolder + "/small.bin");
  small->Start();
  if (!ServeUntil([&] { return !small->IsBusy(); }, 30000) || small->ResourceState().LastStatus() != psSuccess ||
      zvtest::ReadFile(aFolder + "/small.bin") != Bytes(cEngineLimit / 4, 2))
    aFindings.Add("disk: a small download after the full disk did not succeed: " + ErrorText(*small));
}

void AppOnFullDisk(const std::string& aFolder, int64_t aLimit, TFindings& aFindings) {
  zvtest::ZentavoSite site;
  // The recordings were cut by the parent (they need room); here they are only served.
  int count = 0;
  while (fs::exists(aFolder + "/made/seg " + std::to_string(count + 1) + ".flv")) {
    ++count;
    fs::create_symlink(aFolder + "/made/seg " + std::to_string(count) + ".flv",
                       site.SegmentFolder() + "/7-" + std::to_string(count) + ".flv");
  }
  // A second part of one segment that does not fit at all.
  fs::create_symlink(aFolder + "/made/big.flv", site.SegmentFolder() + "/8-1.flv");
  site.AddPage("/www.zentavo.com/video/BV1",
               nlohmann::json{{"data",
                               {{"title", "Full"}, {"pages", {{{"cid", 7}, {"part", "fits"}}, {{"cid", 8}, {"part", "big"}}}}}}}
                   .dump());
  site.Configure({{"play", {{"7", {{"segments", count}}}, {"8", {{"segments", 1}}}}}});
  THeadlessPlatform platform;
  // The binder was laid out by the parent: the start-up could not write it here.
  platform.FolderOfExecutable = aFolder + "/app";
  platform.Resources = zvtest::BuiltBinderResources();
  TForm1 form(platform, site.Settings());
  form.FormCreate();
  const std::string save = aFolder + "/save/";
  fs::create_directories(save);
  form.SetSaveFolder(save);
  form.edt1.SetText(site.Url("/www.zentavo.com/video/BV1"));
  form.btn1.Click();
  if (!zvtest::ServeUntil(platform, [&] { return form.btn1.Enabled(); }, 30000) || form.lv2.Count() != 2) {
    aFindings.Add("disk: the listing failed");
    return;
  }
  bool queued = false;
  const auto queue = form.lv3.OnInsert;
  form.lv3.OnInsert = [&](TListView* aSender, int aIndex) {
    queued = true;
    queue(aSender, aIndex);
  };
  form.N2.Click();
  const bool ended = zvtest::ServeUntil(platform, [&] {
    return !form.clMdloader1.IsBusy() && form.lv1.Count() == 1 && queued && form.lv3.Count() == 0 && !form.MergeThread;
  }, 60000);
  if (!ended)
    aFindings.Add("disk: the downloads and the merge did not end with a full disk (downloads busy " +
                  std::to_string(form.clMdloader1.IsBusy()) + ", rows " + std::to_string(form.lv1.Count()) +
                  ", merge queued " + std::to_string(queued) + ", queue " + std::to_string(form.lv3.Count()) + ")");
  std::string mark = " ";
  mark += std::to_string(count);
  mark += '-';
  int kept = 0;
  std::string files;
  for (const auto& entry : fs::directory_iterator(save)) {
    const std::string name = entry.path().filename().string();
    kept += name.find(mark) != std::string::npos;
    files += " \"" + name + "\"";
  }
  std::printf("disk: merge of %d segments on a full disk (limit %lld bytes): %d segments kept; files:%s\n", count,
              static_cast<long long>(aLimit), kept, files.c_str());
  if (form.lv1.Count() == 1) {
    const std::string text = ErrorText(*form.clMdloader1.DownLoadList().Items(0));
    std::printf("disk: the segment that does not fit: row \"%s\" marked \"%s\", errors: %s\n", form.lv1.SubItem(0, 0).c_str(),
                form.lv1.ItemCaption(0).c_str(), text.c_str());
    if (form.lv1.ItemCaption(0) != "×" || text.find("too large") == std::string::npos)
      aFindings.Add("disk: the segment that does not fit is not marked failed with its reason");
  }
  if (kept != count) aFindings.Add("disk: the failed merge kept " + std::to_string(kept) + " of " + std::to_string(count) + " segments");
  // Still serving events: a comment download finishes.
  form.XML1.Click();
  if (!zvtest::ServeUntil(platform, [&] { return form.lv5.Count() == 2; }, 30000))
    aFindings.Add("disk: a comment download after the failed merge did not finish");
}

// Runs the child scenario, passing its lines on; its exit status.
int RunChild(const std::vector<std::string>& aArgs) {
  zvtest::ChildProcess child(aArgs);
  try {
    for (;;) std::printf("%s\n", child.ReadLine(120000).c_str());
  } catch (const std::runtime_error&) {
    // The child closed its output (or printed nothing for two minutes).
  }
  std::fflush(stdout);
  return child.Wait();
}

}  // namespace

int FullDiskChild(const std::string& aScenario, const std::string& aFolder, int64_t aLimit) {
  // The process is told, as a full disk would tell it, by failing writes rather than a signal.
  signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{rlim_t(aLimit), rlim_t(aLimit)};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
  TFindings findings;
  if (aScenario == "engine")
    EngineOnFullDisk(aFolder, findings);
  else
    AppOnFullDisk(aFolder, aLimit, findings);
  std::fflush(stdout);
  return findings.Empty() ? 0 : 1;
}

void SoakFullDisk(const TSoakOptions&, TFindings& aFindings) {
  const std::string self = fs::canonical("/proc/self/exe").string();
  {
    zvtest::TempDir folder;
    WriteServedFiles(folder.Path());
    if (RunChild({self, "--full-disk-child", "engine", folder.Path(), std::to_string(cEngineLimit)}) != 0) aFindings.Add("disk: the engine on a full disk (see above)");
  }
  if (!zvtest::HaveFfmpeg()) {
    aFindings.Add("disk: no ffmpeg to record segments with");
    return;
  }
  zvtest::TempDir folder;
  fs::create_directories(folder.File("made"));
  if (!zvtest::MakeFlv(folder.File("made/whole.flv"), 3) ||
      zvtest::CutFlv(folder.File("made/whole.flv"), folder.File("made/seg %d.flv"), 1) < 2) {
    aFindings.Add("disk: ffmpeg could not make the segments");
    return;
  }
  int64_t largest = 0, sum = 0;
  for (int i = 1; fs::exists(folder.File("made/seg " + std::to_string(i) + ".flv")); ++i) {
    const int64_t size = int64_t(fs::file_size(folder.File("made/seg " + std::to_string(i) + ".flv")));
    largest = std::max(largest, size);
    sum += size;
  }
  fs::remove(folder.File("made/whole.flv"));
  zvtest::WriteFile(folder.File("made/big.flv"), Bytes(1 << 20, 4));
  fs::create_directories(folder.File("app"));
  for (const char* binder : {"FlvBind.exe", "FLVLib.dll"})
    fs::copy_file(zvtest::BinDir() + "/" + binder, folder.File(std::string("app/") + binder));
  // Every segment fits, the merged file does not.
  const int64_t limit = std::max(largest + 1024, sum / 2 + 1024);
  if (RunChild({self, "--full-disk-child", "app", folder.Path(), std::to_string(limit)}) != 0) aFindings.Add("disk: the application on a full disk (see above)");
}

}  // namespace zvsoak
