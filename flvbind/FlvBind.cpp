// FlvBind dest_file src_file1 src_file2 ...: joins FLV files into one. All text goes to the
// standard error stream; the exit code tells the outcome.
#include <cstdio>

#include "flvbind/FlvBinder.h"

int main(int argc, char** argv) {
  TFlvBinder binder(stderr);
  binder.PrintBanner();
  if (argc < 3) {
    std::fputs("Usage: flvbind dest_file src_file1 src_file2 ...", stderr);
    return bcUsage;
  }
  return binder.Bind(argv[1], argv + 2, argc - 2);
}
