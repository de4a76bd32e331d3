#pragma once
// The exit statuses of zentavo-dl.
inline constexpr int kExitSaved = 0;   // every chosen part and comment list was saved
inline constexpr int kExitFailed = 1;  // some were not (or the run was interrupted)
inline constexpr int kExitUsage = 2;   // the command line could not be used
