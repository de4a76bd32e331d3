// The whole application without a window against the local site, its segments (real ffmpeg
// recordings) passing through the fault proxy: a page of parts listed, every part's segments and
// comments downloaded, rows paused, resumed and deleted at random, merges running, and the window
// closed at a random moment. Afterwards every merged part must play for the recording's length,
// every part waiting for its merge must still have all of its segments, every segment on disk must
// hold the recorded bytes, and no working file may be left.
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "app/HeadlessPlatform.h"
#include "app/MainForm.h"
#include "tests/soak/FaultProxy.h"
#include "tests/soak/Soak.h"
#include "tests/support/AppWaits.h"
#include "tests/support/FfmpegTools.h"
#include "tests/support/ZentavoSite.h"

namespace zvsoak {
namespace {

namespace fs = std::filesystem;

const std::string kPage = "/www.zentavo.com/video/BV1";
constexpr int cFirstCid = 1001;

// One listed part as the download tab names it: "<base> <count>-<i>.flv" per segment, merged
// into "<base>.flv".
struct TPart {
  int Cid = 0;
  std::string Base;
  int Count = 0;
  bool RowDeleted = false;
};

class TAppSoak {
public:
  TAppSoak(const TSoakOptions& aOptions, TFindings& aFindings)
      : FOptions(aOptions), FFindings(aFindings), FRandom(aOptions.Seed + 1) {
    FParts = aOptions.Long ? 20 : 3;
    FActions = aOptions.Long ? 80 : 12;
  }

  void Run() {
    if (!zvtest::HaveFfmpeg()) {
      FFindings.Add("app: no ffmpeg to record segments with");
      return;
    }
    if (!Record()) return;
    const std::string site = FSite.Url();
    TFaultProxy proxy(std::stoi(site.substr(site.rfind(':') + 1)), {FOptions.Seed + 1, 0.1, 2.0, "/seg/"});
    ConfigureSite();
    TSiteSettings settings = FSite.Settings();
    settings.InterfaceHost = settings.ApiHost = proxy.Url();
    FPlatform.FolderOfExecutable = FAppDir.Path();
    FPlatform.Resources = zvtest::BuiltBinderResources();
    const TClock::time_point start = TClock::now();
    {
      TForm1 form(FPlatform, settings);
      FForm = &form;
      form.FormCreate();
      form.SetSaveFolder(FSave.Path() + "/");
      if (List(proxy.Url(kPage))) {
        form.N2.Click();
        form.XML1.Click();
        NoteParts();
        for (int i = 0; i < FActions; ++i) {
          RandomAction();
          Serve(int(Pick(FRandom, 20, 400)));
        }
        RunOn();
        Close();
      }
      FForm = nullptr;
    }
    Check();
    std::printf("app: %d parts of %d segments, %d actions (%s), %d parts merged and checked, %d queued for their "
                "merge and not merged, %d unfinished, %.1f s\n",
                FParts, FSegments, FActions, ActionSummary().c_str(), FMerged, FPending, FUnfinished,
                SecondsSince(start));
    std::printf("app: comments written %d; faults injected: %s, %lld exchanges\n", FComments,
                proxy.Summary().c_str(), static_cast<long long>(proxy.Counts()["exchanges"]));
  }

private:
  // One recording cut into segments of about a second, served as every part's segments.
  bool Record() {
    if (!zvtest::MakeFlv(FMade.File("whole.flv"), FOptions.Long ? 5 : 3) ||
        (FSegments = zvtest::CutFlv(FMade.File("whole.flv"), FMade.File("seg %d.flv"), 1)) < 2) {
      FFindings.Add("app: ffmpeg could not make the segments");
      return false;
    }
    for (int i = 1; i <= FSegments; ++i) {
      FLength += zvtest::ProbePackets(Made(i)).Length;
      FSha.push_back(zvtest::FileSha256(Made(i)));
      for (int p = 0; p < FParts; ++p)
        fs::copy_file(Made(i), FSite.SegmentFolder() + "/" + std::to_string(cFirstCid + p) + "-" + std::to_string(i) +
                                   ".flv");
    }
    return true;
  }
  std::string Made(int aIndex) const { return FMade.File("seg " + std::to_string(aIndex) + ".flv"); }

  void ConfigureSite() {
    nlohmann::json pages = nlohmann::json::array(), play;
    for (int p = 0; p < FParts; ++p) {
      char name[16];
      std::snprintf(name, sizeof name, "part%02d", p + 1);
      pages.push_back({{"cid", cFirstCid + p}, {"part", name}});
      play[std::to_string(cFirstCid + p)] = {{"segments", FSegments}};
    }
    FSite.AddPage(kPage, nlohmann::json{{"data", {{"title", "Soak"}, {"pages", pages}}}}.dump());
    // Paced, so that pauses and deletes meet running transfers.
    FSite.Configure({{"play", play}, {"faults", {{"*", {{"rate", FOptions.Long ? 60000 : 150000}}}}}});
  }

  bool Serve(int aMs) {
    const TClock::time_point due = TClock::now() + std::chrono::milliseconds(aMs);
    return zvtest::ServeUntil(FPlatform, [&] {
      for (int i = 0; i < FForm->lv3.Count(); ++i) FEverQueued.insert(FForm->lv3.ItemCaption(i));
      return TClock::now() >= due;
    }, aMs + 1000);
  }

  bool List(const std::string& aAddress) {
    FForm->edt1.SetText(aAddress);
    FForm->btn1.Click();
    if (!zvtest::ServeUntil(FPlatform, [&] { return FForm->btn1.Enabled(); }, 60000)) {
      FFindings.Add("app: the listing did not end");
      return false;
    }
    if (FForm->lv2.Count() != FParts) {
      FFindings.Add("app: listed " + std::to_string(FForm->lv2.Count()) + " parts of " + std::to_string(FParts));
      return false;
    }
    return true;
  }

  // The parts as the download rows name them: "<base> <count>-<i>".
  void NoteParts() {
    for (int i = 0; i < FForm->lv1.Count(); ++i) {
      const std::string name = FForm->lv1.SubItem(i, 0);
      const std::string base = name.substr(0, name.rfind(' '));
      const size_t at = base.find("part");
      if (at == std::string::npos) continue;
      TPart& part = FPartsByBase[base];
      part.Base = base;
      part.Cid = cFirstCid + std::stoi(base.substr(at + 4, 2)) - 1;
      part.Count = FSegments;
    }
  }

  void SelectRandomRows() {
    for (int i = 0; i < FForm->lv1.Count(); ++i) FForm->lv1.SetSelected(i, Pick(FRandom, 0, 2) == 0);
  }

  void RandomAction() {
    const int action = int(Pick(FRandom, 0, 9));
    if (FForm->lv1.Count() == 0) return;
    if (action <= 2) {
      SelectRandomRows();
      FForm->N4.Click();
      ++FDone["pause"];
    } else if (action <= 5) {
      SelectRandomRows();
      FForm->N3.Click();
      ++FDone["resume"];
    } else if (action == 6) {
      FForm->N6.Click();
      ++FDone["pause all"];
    } else if (action == 7 || action == 8) {
      FForm->N5.Click();
      ++FDone["start all"];
    } else {
      const int row = int(Pick(FRandom, 0, FForm->lv1.Count() - 1));
      const std::string name = FForm->lv1.SubItem(row, 0);
      for (int i = 0; i < FForm->lv1.Count(); ++i) FForm->lv1.SetSelected(i, i == row);
      FForm->N7.Click();
      auto part = FPartsByBase.find(name.substr(0, name.rfind(' ')));
      if (part != FPartsByBase.end()) part->second.RowDeleted = true;
      ++FDone["delete"];
    }
  }

  std::string ActionSummary() const {
    std::string text;
    for (const auto& [name, count] : FDone) text += (text.empty() ? "" : ", ") + name + " " + std::to_string(count);
    return text;
  }

  // Everything started again and left running, failed rows restarted now and then, until a
  // random moment (or until nothing is left to do).
  void RunOn() {
    FForm->N5.Click();
    const TClock::time_point close = TClock::now() + std::chrono::milliseconds(Pick(FRandom, 500, FOptions.Long ? 30000 : 6000));
    while (TClock::now() < close) {
      Serve(300);
      if (FForm->lv1.Count() == 0 && FForm->lv3.Count() == 0 && !FForm->MergeThread) break;
      if (!FForm->clMdloader1.IsBusy()) FForm->N5.Click();
    }
  }

  void Close() {
    // The parts queued or merging now must keep their segments through the close.
    for (int i = 0; i < FForm->lv3.Count(); ++i) FQueued.insert(FForm->lv3.ItemCaption(i));
    FPlatform.YesNoAnswer = true;
    TClock::duration took{};
    const bool canClose = zvtest::RunClose(*FForm, &took);
    std::printf("app: the close took %.3f s with %zu parts queued for merging\n",
                std::chrono::duration<double>(took).count(), FQueued.size());
    if (!canClose) FFindings.Add("app: the close was refused");
    if (FForm->clMdloader1.IsBusy()) FFindings.Add("app: video downloads still busy after the close");
    if (FForm->clMdloader3.IsBusy() || FForm->lv4.Count() > 0 || FForm->lv5.Count() > 0)
      FFindings.Add("app: comment downloads not cleared by the close");
  }

  std::string File(const std::string& aName) const { return FSave.File(aName); }
  std::string Segment(const TPart& aPart, int aIndex) const {
    return File(aPart.Base + " " + std::to_string(aPart.Count) + "-" + std::to_string(aIndex) + ".flv");
  }

  void Check() {
    for (const std::string& file : zvtest::WorkingFiles(FSave.Path()))
      FFindings.Add("app: working file left after the close: " + file);
    for (const auto& entry : fs::directory_iterator(FSave.Path())) {
      const std::string name = entry.path().filename().string();
      if (entry.path().extension() == ".xml") {
        ++FComments;
        if (zvtest::ReadFile(entry.path().string()).find("<chatid>") == std::string::npos)
          FFindings.Add("app: comment file without its comments: " + name);
      }
    }
    for (const auto& [base, part] : FPartsByBase) CheckPart(part);
  }

  void CheckPart(const TPart& aPart) {
    int present = 0;
    for (int i = 1; i <= aPart.Count; ++i) {
      if (!fs::exists(Segment(aPart, i))) continue;
      ++present;
      if (zvtest::FileSha256(Segment(aPart, i)) != FSha[size_t(i - 1)])
        FFindings.Add("app: segment with wrong bytes: " + Segment(aPart, i));
    }
    const std::string merged = File(aPart.Base + ".flv");
    if (!FQueued.count(aPart.Base) && present == 0 && fs::exists(merged)) {
      ++FMerged;
      const int64_t duration = zvtest::ProbeDuration(merged);
      // Each join may drop the last frame of a segment (40 ms); ffprobe rounds.
      if (duration < FLength - 40 * (aPart.Count - 1) - 60 || duration > FLength + 60)
        FFindings.Add("app: " + aPart.Base + ".flv plays " + std::to_string(duration) + " ms, recorded " +
                      std::to_string(FLength) + " ms");
    } else if (FQueued.count(aPart.Base) || FEverQueued.count(aPart.Base)) {
      // Queued for its merge at some time and not merged: every segment stays.
      ++FPending;
      if (present != aPart.Count)
        FFindings.Add("app: " + aPart.Base + " was queued for its merge but kept " + std::to_string(present) + " of " +
                      std::to_string(aPart.Count) + " segments");
    } else {
      ++FUnfinished;
    }
  }

  const TSoakOptions& FOptions;
  TFindings& FFindings;
  TRandom FRandom;
  int FParts = 0, FActions = 0, FSegments = 0;
  int64_t FLength = 0;
  std::vector<std::string> FSha;
  zvtest::TempDir FMade, FSave, FAppDir;
  zvtest::ZentavoSite FSite;
  THeadlessPlatform FPlatform;
  TForm1* FForm = nullptr;
  std::map<std::string, TPart> FPartsByBase;
  std::set<std::string> FQueued, FEverQueued;
  std::map<std::string, int> FDone;
  int FMerged = 0, FPending = 0, FUnfinished = 0, FComments = 0;
};

}  // namespace

void SoakApplication(const TSoakOptions& aOptions, TFindings& aFindings) { TAppSoak(aOptions, aFindings).Run(); }

}  // namespace zvsoak
