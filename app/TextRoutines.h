#pragma once
// Small text routines the application's handlers share: file names, escapes cut out of page text,
// and the size, speed and number texts of the lists.
#include <cstdint>
#include <string>

// aText without the characters that no file name may hold: \ / : * ? " < > | and control characters.
std::string CleanFileName(const std::string& aText);
// Turns the \uXXXX escapes of page text into characters (a surrogate pair into one character)
// and \/ into /; every other escape stays as it is.
std::string UnescapeJson(const std::string& aText);
// 500 -> "500", 1536 -> "1.50KB", 10485760 -> "10.0MB", 100 GiB -> "100GB".
std::string FormatSize(int64_t aBytes);
// 512 -> "512.00 B/S", 1536 -> "1.50 KB/S", 1048576 -> "1.00 MB/S"; thousands grouped.
std::string FormatSpeed(double aBytesPerSecond);
// Share of aTotal done, two decimals: (4567, 10000) -> "45.67%". aTotal must be above 0.
std::string ProgressText(int64_t aDone, int64_t aTotal);
// The number aIndex + 1 filled with zeros to the width of aTotal: (120, 6) -> "007".
std::string PadNumber(int aTotal, int aIndex);
