#pragma once
// Names of the video download files: a part's segment names made from its base name and segment
// addresses, the extension an address gives, and the free name a repeated download is stored
// under. Paths use "/" between folders.
#include <string>
#include <vector>

// Longest file name (in bytes) that a folder entry can hold.
inline constexpr size_t kMaxFileNameBytes = 255;
// The extension of the files being downloaded.
inline constexpr const char* kWorkingExtension = ".vtq";

// aBase cut at a character boundary so that it and a tail of aTailBytes fit in one folder entry.
std::string FitFileName(const std::string& aBase, size_t aTailBytes);

// The extension of a segment address: from the last "." of the address without its query, when no
// "/", "\" or ":" follows that dot; otherwise empty. (A dot in an earlier path segment or in the
// host name gives no extension: it would make folders of the file name.)
std::string AddressExtension(const std::string& aAddress);

struct TSegmentName {
  std::string Name;       // the row's name: the base, or base + " N-i" for one of N segments
  std::string Extension;  // the address's extension
};

struct TPartNames {
  std::string Base;  // the base as the segment names carry it (shortened where it had to be)
  std::vector<TSegmentName> Segments;
};

// The names of a part's segments, one per address. The base is cut (at a character boundary) so
// that the longest working file of the part, with room for a "（n）" of a repeated download, fits
// in one folder entry; every segment of the part keeps the same base, so they can be found again
// for merging.
TPartNames NameSegments(const std::string& aBase, const std::vector<std::string>& aAddresses);

// The file of segment aIndex (1..aCount) of a part with base aBase once it is on disk: the name the
// merge queue looks for and hands to the binder.
std::string SegmentFileName(const std::string& aBase, int aCount, int aIndex);

// The last extension of a path's file name ("" when its name has no dot), and the path without it.
std::string FileExtension(const std::string& aPath);
std::string WithoutExtension(const std::string& aPath);
// The file name of a path, and its folder with the separator at the end.
std::string FileNameOf(const std::string& aPath);
std::string FolderOf(const std::string& aPath);

struct TFreeName {
  std::string WorkingFile;  // the working file under the free name
  std::string Stem;         // the free name without extensions, folder included
};

// For a working file (final name + working extension) whose final or working file exists: the
// first n = 1, 2, ... for which neither stem（n）ext nor stem（n）ext.vtq exists.
TFreeName FindFreeName(const std::string& aWorkingFile);
