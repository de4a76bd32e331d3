// The save-folder command, the right click on the address field and the donation panel.
#include <filesystem>

#include "app/MainForm.h"

namespace {

constexpr const char* kFolderTitle = "选择文件夹";

}  // namespace

std::string TForm1::SelectFolder(const std::string& aTitle, const std::string& aStartFolder) {
  std::string folder = FPlatform.ChooseFolder(aTitle, aStartFolder);
  std::error_code error;
  // Only a folder of the file system will do: downloads are written into it.
  if (folder.empty() || !std::filesystem::is_directory(folder, error)) return {};
  if (folder.back() != '/') folder += '/';
  return folder;
}

void TForm1::btn2Click(TButton* Sender) {
  // Items already added keep the folder they were made with: their file names are fixed.
  std::string folder = SelectFolder(kFolderTitle, SaveFolder());
  if (!folder.empty()) SetSaveFolder(folder);
}

void TForm1::edt1MouseDown(TEdit* Sender, TMouseButton Button, int X, int Y) {
  // So that a paste from the field's context menu replaces the whole address.
  if (Button == TMouseButton::mbRight) edt1.SelectAll();
}

void TForm1::lbl7Click(TLabel* Sender) {
  pnl6.SetLeft((Width - pnl6.Width()) / 2);
  pnl6.SetVisible(!pnl6.Visible());
}

void TForm1::img1Click(TImage* Sender) { pnl6.SetVisible(false); }
