#include "engine/clDownLoadItem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "common/clDateTime.h"
#include "engine/clDownLoadThreader.h"
#include "engine/clMultiDownLoader.h"
#include "http/clHeaderFieldList.h"

namespace {

// An existing file the item may continue: readable, and of the resource's size when known.
bool CanContinue(const std::string& aFileName, int64_t aSize) {
  struct stat info {};
  if (::stat(aFileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || ::access(aFileName.c_str(), R_OK) != 0)
    return false;
  return aSize <= 0 || info.st_size == aSize;
}

std::string CompressedName(const std::string& aLocalFile) { return aLocalFile + "~"; }

}  // namespace

TclDownLoadItem::TclDownLoadItem(TclDownLoadList* aList) : TclInternetItem(aList, aList->DownLoader()) {
  SetThreadCount(5);
}

TclDownLoadItem::~TclDownLoadItem() { Shutdown(); }

TclMultiDownLoader& TclDownLoadItem::DownLoader() const { return static_cast<TclMultiDownLoader&>(Control()); }

void TclDownLoadItem::Assign(const TclInternetItem& aSource) {
  if (auto* source = dynamic_cast<const TclDownLoadItem*>(&aSource)) FAllowCompression = source->FAllowCompression;
  TclInternetItem::Assign(aSource);
}

void TclDownLoadItem::SetURL(const std::string& aValue) {
  if (aValue == URL()) return;
  const std::string& folder = DownLoader().LocalFolder();
  if (!folder.empty()) {
    TclUrlParser parser;
    parser.Parse(aValue);
    AssignLocalFile(parser.QueryString().empty() && parser.Fragment().empty()
                        ? parser.GetLocalFileByURL(aValue, folder)
                        : std::string());
  }
  TclInternetItem::SetURL(aValue);
}

TclCustomThreader* TclDownLoadItem::CreateThreader(const std::string& aURL, TStream* aDataStream,
                                                   bool aIsGetResourceInfo) {
  return new TclDownLoadThreader(aURL, aDataStream, aIsGetResourceInfo);
}

void TclDownLoadItem::ConfigureThreader(TclCustomThreader& aThreader) {
  TclInternetItem::ConfigureThreader(aThreader);
  aThreader.SetDataAccessor(&FDataAccessor);
  aThreader.SetAllowCompression(FAllowCompression);
}

void TclDownLoadItem::BeginRun(bool aInformationOnly) {
  FDownloadMode = !aInformationOnly;
  FDataPhase = false;
  TclInternetItem::BeginRun(aInformationOnly);
}

void TclDownLoadItem::SetLastStatus(TclProcessStatus aStatus) {
  if (FDownloadMode && (aStatus == psSuccess || aStatus == psFailed || aStatus == psErrors)) aStatus = psProcess;
  TclInternetItem::SetLastStatus(aStatus);
}

bool TclDownLoadItem::ClientDecodes() const {
  return FAllowCompression && !DownLoader().DoNotGetResourceInfo() && ResourceInfo() && ResourceInfo()->Compressed();
}

int64_t TclDownLoadItem::TransferSize() const {
  return ResourceInfo() && !ClientDecodes() ? std::max<int64_t>(ResourceInfo()->Size(), 0) : 0;
}

bool TclDownLoadItem::RandomAccess() const {
  return ResourceInfo() && ResourceInfo()->AllowsRandomAccess() && !ClientDecodes();
}

int32_t TclDownLoadItem::RangeCount() const {
  const int64_t size = TransferSize();
  if (size <= 0 || !RandomAccess() || DownLoader().Connection() || KeepConnection()) return 1;
  return int32_t(std::clamp<int64_t>(size / DownLoader().BatchSize(), 1, ThreadCount()));
}

void TclDownLoadItem::ResourceInfoReceived(const TclResourceInfo* aInfo) {
  TclInternetItem::ResourceInfoReceived(aInfo);
  if (DownLoader().DoNotGetResourceInfo()) return;
  if (TransferSize() <= 0 || !RandomAccess()) ClearResourceState();
  if (LocalFile().empty() && !DownLoader().LocalFolder().empty()) {
    const std::string name = DispositionFileName();
    if (!name.empty()) SetLocalFile(DownLoader().LocalFolder() + "/" + name);
  }
}

std::string TclDownLoadItem::DispositionFileName() const {
  if (!ResourceInfo()) return {};
  std::string name = TclHeaderFieldList().GetFieldValueItem(ResourceInfo()->ContentDisposition(), "filename");
  // The server names a file, never a folder: a path in it would lead out of LocalFolder.
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  return name == "." || name == ".." ? std::string() : name;
}

bool TclDownLoadItem::MayGoOn() {
  const TclProcessStatus status = ResourceState().LastStatus();
  if (status == psFailed || status == psTerminated) return false;
  if (!DownLoader().CanProcess(this)) return false;
  const int64_t size = ResourceInfo() ? ResourceInfo()->Size() : 0;
  if (size <= 0) return true;
  return (DownLoader().MinResourceSize() == 0 || size >= DownLoader().MinResourceSize()) &&
         (DownLoader().MaxResourceSize() == 0 || size <= DownLoader().MaxResourceSize());
}

void TclDownLoadItem::RunCompleted() {
  if (FDownloadMode && StopRequested()) {
    // Stopped as the information phase ended: the run ends stopped, before its data phase.
    FDownloadMode = false;
    ResourceState().UpdateStatus(nullptr, psTerminated);
    SetLastStatus(ResourceState().LastStatus());
  }
  TclFirstError error;
  bool goOn = false;
  error.Run([&] { goOn = FDownloadMode && MayGoOn(); });
  if (goOn) {
    FDownloadMode = false;
    FDataPhase = true;
    StartDataPhase();
    error.Raise();
    return;
  }
  if (FDataPhase) {
    error.Run([this] { MakePreview(); });
    FDataPhase = false;
  }
  Finish();
  error.Raise();
}

void TclDownLoadItem::StartDataPhase() {
  try {
    const int64_t size = TransferSize();
    // Ranges laid out for a resource of another size cannot be continued.
    if (ResourceState().Count() > 0 && ResourceState().ResourceSize() != size) ClearResourceState();
    FTransferStream = OpenDataStream(size);
    const TclProcessStatus status = ResourceState().LastStatus();
    ResourceState().Init(RangeCount(), size);
    ResourceState().UpdateStatus(nullptr, status);
    for (int32_t i = 0; i < ResourceState().Count(); ++i)
      AddThreader(&ResourceState().Items(i), FTransferStream, false)->Perform();
  } catch (const std::exception& e) {
    AddError(e.what(), 0);
    if (ResourceState().Count() > 0) ResourceState().UpdateStatus(&ResourceState().Items(0), psFailed);
    ResourceState().UpdateStatus(nullptr, psFailed);
    SetLastStatus(ResourceState().LastStatus());
    if (IsBusy())
      Stop();
    else
      Finish();
  }
}

TStream* TclDownLoadItem::OpenDataStream(int64_t aSize) {
  if (DataStream()) {
    DataStream()->SetSize(aSize);
    return DataStream();
  }
  if (LocalFile().empty()) {
    FOwnStream = std::make_unique<TMemoryStream>();
    FOwnStream->SetSize(aSize);
    return FOwnStream.get();
  }
  const bool resume = ResourceState().Count() > 0 && CanContinue(LocalFile(), aSize);
  if (!resume) ClearResourceState();
  const std::filesystem::path folder = std::filesystem::path(LocalFile()).parent_path();
  std::error_code ignored;
  if (!folder.empty()) std::filesystem::create_directories(folder, ignored);
  const std::string target = ClientDecodes() ? CompressedName(LocalFile()) : LocalFile();
  auto file = std::make_unique<TFileStream>(target, resume ? fmOpenReadWrite : fmCreate);
  file->Reserve(aSize);
  FOwnStream = std::move(file);
  return FOwnStream.get();
}

void TclDownLoadItem::MakePreview() {
  TStream* stream = FTransferStream;
  if (!stream) return;
  const int64_t size = stream->Size();
  int64_t count = DownLoader().PreviewCharCount();
  if (count == 0 || count > size) count = size;
  std::string text(size_t(count), '\0');
  const int64_t position = stream->Position();
  stream->SetPosition(0);
  text.resize(size_t(std::max<int64_t>(stream->Read(text.data(), count), 0)));
  stream->SetPosition(position);
  if (!text.empty() && text.back() == '\0') text.pop_back();
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 32 && c != '\t' && c != '\n' && c != '\r') c = DownLoader().DefaultChar();
  TclStringsUtils::SetText(FPreview, text);
  DownLoader().DoDataTextProceed(this, FPreview);
}

void TclDownLoadItem::Commit() {
  FOwnStream.reset();
  FTransferStream = nullptr;
  if (!MayGoOn()) return;
  try {
    if (!LocalFile().empty() && ClientDecodes() && std::filesystem::exists(CompressedName(LocalFile())))
      // The client decoded the body on its way: the data only moves to its name.
      std::filesystem::rename(CompressedName(LocalFile()), LocalFile());
    if (DownLoader().CorrectResourceTime() && ResourceInfo() && !LocalFile().empty() &&
        std::filesystem::exists(LocalFile()))
      SetFileTimes(LocalFile());
  } catch (const std::exception& e) {
    AddError(e.what(), 0);
  }
}

void TclDownLoadItem::SetFileTimes(const std::string& aFileName) const {
  // Days as a double carry about a microsecond of noise: whole milliseconds are what was meant.
  const long long milliseconds = std::llround(TclDateTime::ToUnixTime(ResourceInfo()->Date()) * 1000);
  timespec time{};
  const long long whole = milliseconds >= 0 ? milliseconds / 1000 : -((-milliseconds + 999) / 1000);
  time.tv_sec = time_t(whole);
  time.tv_nsec = long(milliseconds - whole * 1000) * 1000000;
  const timespec times[2] = {time, time};
  if (::utimensat(AT_FDCWD, aFileName.c_str(), times, 0) != 0)
    throw EStreamError("Cannot set the times of file \"" + aFileName + "\". " + std::strerror(errno));
}
