#pragma once
// Real FLV files made by ffmpeg and read back with ffprobe, for the binder's and the merge queue's
// tests.
#include <cstdint>
#include <string>
#include <utility>

namespace zvtest {

// Runs a shell command with its standard error dropped: its exit status and standard output.
std::pair<int, std::string> Shell(const std::string& aCommand);
// aPath in single quotes for Shell (it holds no single quote).
std::string ShellQuote(const std::string& aPath);
bool HaveFfmpeg();

struct TPacketTimes {
  int64_t Length = 0;        // from the first packet's start to the last packet's end, ms
  bool MonotonicDts = true;  // per stream
  size_t Streams = 0;
};
TPacketTimes ProbePackets(const std::string& aPath);
// The container's duration as ffprobe reports it, ms; -1 when it cannot read the file.
int64_t ProbeDuration(const std::string& aPath);

// ffmpeg's test picture (160x120, 25 frames a second, a key frame every second) and tone, aSeconds
// long, encoded with aCodecs ("-c:v ... -c:a ...") into the FLV file aPath.
bool MakeFlv(const std::string& aPath, int aSeconds, const std::string& aCodecs = "-c:v libx264 -preset ultrafast -c:a aac");
// aWhole cut at its key frames into segments of about a second, each starting at time 0, named
// by aPattern with one %d counted from aFirst. Returns how many were made.
int CutFlv(const std::string& aWhole, const std::string& aPattern, int aFirst = 0);

}  // namespace zvtest
