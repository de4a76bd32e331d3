#pragma once
// File operations of the application's handlers. None of them replaces an existing file.
#include <string>

bool FileExists(const std::string& aPath);
// Moves aFrom to aTo unless aTo exists already.
bool RenameFileNoReplace(const std::string& aFrom, const std::string& aTo);
// Creates aPath holding aData (aExecutable: with the execute bits) unless it exists already. The
// file appears complete or not at all, so an interrupted write never leaves a damaged file behind
// that later runs would keep.
bool WriteNewFile(const std::string& aPath, const std::string& aData, bool aExecutable);
