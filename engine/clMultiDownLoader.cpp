#include "engine/clMultiDownLoader.h"

#include <filesystem>

TclDownLoadItem* TclDownLoadList::Add() {
  auto* item = new TclDownLoadItem(this);
  Append(item);
  if (!FDownLoader->LocalFolder().empty()) item->AssignLocalFile(FDownLoader->LocalFolder() + "/");
  FDownLoader->ItemCreated(item);
  return item;
}

TclMultiDownLoader::TclMultiDownLoader() : FDownLoadList(this) {}

TclMultiDownLoader::~TclMultiDownLoader() {
  ClearQueue();
  FDownLoadList.Clear();
}

void TclMultiDownLoader::SetLocalFolder(const std::string& aValue) {
  if (FLocalFolder == aValue) return;
  FLocalFolder = aValue;
  const std::string prefix = FLocalFolder.empty() ? std::string() : FLocalFolder + "/";
  for (int32_t i = 0; i < FDownLoadList.Count(); ++i) {
    TclDownLoadItem* item = FDownLoadList.Items(i);
    item->SetLocalFile(prefix + std::filesystem::path(item->LocalFile()).filename().string());
  }
}

bool TclMultiDownLoader::CanProcess(TclInternetItem* aItem) {
  std::error_code unknown;
  if (aItem->Committing() || aItem->LocalFile().empty() || !std::filesystem::exists(aItem->LocalFile(), unknown))
    return true;
  std::string newName;
  TclFileExistsAction action = faReplace;
  if (OnFileExists) OnFileExists(this, aItem->LocalFile(), newName, action);
  switch (action) {
    case faReplace:
      return true;
    case faRename:
      aItem->AssignLocalFile(newName);
      return true;
    case faSkip:
      return false;
    case faStop:
      Stop();
      return false;
  }
  return true;
}

void TclMultiDownLoader::DoDataTextProceed(TclDownLoadItem* aItem, const TStrings& aText) {
  if (OnDataTextProceed) OnDataTextProceed(this, aItem, aText);
}
