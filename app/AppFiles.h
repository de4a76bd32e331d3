#pragma once
// File operations of the application's handlers. Files are written under a temporary name beside
// them and renamed into place, so a file appears complete or not at all.
#include <string>

// What the temporary name of a file being written adds to its name.
inline constexpr const char kTemporarySuffix[] = ".XXXXXX";

bool FileExists(const std::string& aPath);
// Whether this user may create files in the folder aPath.
bool FolderWritable(const std::string& aPath);
// Deletes the file aPath when there is one.
void DeleteFileIfExists(const std::string& aPath);
// Moves aFrom to aTo unless aTo exists already.
bool RenameFileNoReplace(const std::string& aFrom, const std::string& aTo);
// Creates aPath holding aData (aExecutable: with the execute bits) unless it exists already, so an
// interrupted write never leaves a damaged file behind that later runs would keep.
bool WriteNewFile(const std::string& aPath, const std::string& aData, bool aExecutable);
// Writes aPath holding aData; a file of that name is replaced in one step (it stays as it was when
// the write fails).
bool ReplaceFile(const std::string& aPath, const std::string& aData);
