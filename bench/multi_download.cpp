// The download engine against aria2c and curl on loopback nginx, measured the same way in the
// same run (each a child process: wall time, CPU time, peak memory), every result SHA-256 checked:
//  1. one item of a 1 GiB random file over 5 ranges with the default BatchSize, its events served
//     by the thread that created the control, pumping messages as the UI thread does;
//     aria2c -x5 -s5 and curl fetch the same file;
//  2. 200 items of 64 KiB under MaxStartedItems 10, against aria2c -j10 and curl --parallel-max 10
//     with the same list;
//  3. the engine's peak memory for sparse files of 100 MiB and 4 GiB.
// Targets: wall and CPU time of 1. at most aria2c's; memory flat in the file size.
// Usage: bench_multi_download [size in MiB, default 1024] [rounds, default 3] [large MiB, default 4096]
// The engine's own runs: bench_multi_download --fetch URL FILE THREADS
//                        bench_multi_download --fetch-list LIST DIR MAXSTARTED (lines "URL NAME")
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "bench/CurlPeer.h"
#include "common/clMessagePump.h"
#include "engine/clMultiDownLoader.h"
#include "net/clSocketWait.h"
#include "tests/support/WebServers.h"

namespace fs = std::filesystem;
using namespace zvbench;

namespace {

constexpr int cSmallItems = 200;
constexpr int64_t cSmallSize = 64 << 10;

// Runs the control's items to their end on this thread, serving its messages meanwhile the way
// the window's event loop does. 0 when every item succeeded.
int RunItems(TclMultiDownLoader& aControl) {
  TclWaitEvent done;
  int remaining = aControl.DownLoadList().Count(), failed = 0;
  aControl.OnProcessCompleted = [&](TclMultiInternetControl*, TclInternetItem* aItem) {
    if (aItem->ResourceState().LastStatus() != psSuccess) {
      ++failed;
      for (const TclInternetError& error : aItem->Errors()) std::fprintf(stderr, "%s\n", error.Text.c_str());
    }
    if (--remaining == 0) done.Signal();
  };
  aControl.Start();
  while (remaining > 0) ServedPause(std::numeric_limits<int64_t>::max(), &done);
  return failed == 0 ? 0 : 1;
}

int Fetch(const std::string& aUrl, const std::string& aFile, int aThreads) {
  TclMultiDownLoader control;
  TclDownLoadItem* item = control.DownLoadList().Add();
  item->SetURL(aUrl);
  item->SetLocalFile(aFile);
  item->SetThreadCount(aThreads);
  return RunItems(control);
}

int FetchList(const std::string& aList, const std::string& aDir, int aMaxStarted) {
  TclMultiDownLoader control;
  control.SetMaxStartedItems(aMaxStarted);
  std::ifstream list(aList);
  std::string url, name;
  while (list >> url >> name) {
    TclDownLoadItem* item = control.DownLoadList().Add();
    item->SetURL(url);
    item->SetLocalFile(aDir + "/" + name);
  }
  return RunItems(control);
}

// The file's SHA-256 digest, as raw bytes.
std::string Sha256(const std::string& aFile) {
  std::ifstream in(aFile, std::ios::binary);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
  std::vector<char> buffer(1 << 20);
  while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0)
    EVP_DigestUpdate(context, buffer.data(), size_t(in.gcount()));
  std::string digest(EVP_MAX_MD_SIZE, '\0');
  unsigned length = 0;
  EVP_DigestFinal_ex(context, reinterpret_cast<unsigned char*>(digest.data()), &length);
  EVP_MD_CTX_free(context);
  digest.resize(length);
  return digest;
}

// The result must be the source, byte for byte.
void Check(const std::string& aTool, const std::string& aFile, const std::string& aSha) {
  if (Sha256(aFile) != aSha) {
    std::fprintf(stderr, "%s wrote a file that differs from the source\n", aTool.c_str());
    std::exit(1);
  }
  fs::remove(aFile);
}

void Row(const char* aName, const TMeasure& aRun) {
  std::printf("  %-9s wall %7.3f s  cpu %7.3f s  peak %7ld KiB\n", aName, aRun.Wall, aRun.Cpu, aRun.PeakKb);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--fetch") return Fetch(argv[2], argv[3], std::atoi(argv[4]));
  if (argc == 5 && std::string(argv[1]) == "--fetch-list") return FetchList(argv[2], argv[3], std::atoi(argv[4]));
  const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const int64_t largeMib = argc > 3 ? std::atoll(argv[3]) : 4096;
  const std::string self = fs::canonical("/proc/self/exe").string();

  zvtest::TempDir root, out;
  std::printf("making a %lld MiB random file...\n", static_cast<long long>(mib));
  std::fflush(stdout);
  zvtest::WriteRandomFile(root.File("big.bin"), mib << 20, 1);
  const std::string bigSha = Sha256(root.File("big.bin"));
  fs::create_directories(root.File("small"));
  std::ofstream engineList(out.File("engine.list")), ariaList(out.File("aria.list")), curlList(out.File("curl.list"));
  std::vector<std::string> smallSha;
  for (int i = 0; i < cSmallItems; ++i) {
    const std::string name = std::to_string(i) + ".bin";
    zvtest::WriteRandomFile(root.File("small/" + name), cSmallSize, uint64_t(i) + 2);
    smallSha.push_back(Sha256(root.File("small/" + name)));
  }
  if (!WriteSparseFile(root.File("sparse-small.bin"), int64_t(100) << 20) ||
      !WriteSparseFile(root.File("sparse-large.bin"), largeMib << 20))
    return 1;
  zvtest::NginxServer nginx(root.Path());
  for (int i = 0; i < cSmallItems; ++i) {
    const std::string name = std::to_string(i) + ".bin";
    engineList << nginx.Url("/small/" + name) << " " << name << "\n";
    ariaList << nginx.Url("/small/" + name) << "\n  out=" << name << "\n";
    curlList << "url = \"" << nginx.Url("/small/" + name) << "\"\noutput = \"" << out.File("small/" + name) << "\"\n";
  }
  engineList.close();
  ariaList.close();
  curlList.close();
  const std::string bigUrl = nginx.Url("/big.bin");
  const std::string fetched = out.File("big.bin");
  fs::create_directories(out.File("small"));

  TMeasure engine, aria, curl, engineMany, ariaMany, curlMany;
  for (int round = 0; round < rounds; ++round) {
    aria = aria.Best(RunProgram({"aria2c", "-q", "-x5", "-s5", "--allow-overwrite=true", "--auto-file-renaming=false",
                              "-d", out.Path(), "-o", "big.bin", bigUrl}));
    Check("aria2c", fetched, bigSha);
    curl = curl.Best(RunProgram({"curl", "-s", "-f", "-o", fetched, bigUrl}));
    Check("curl", fetched, bigSha);
    engine = engine.Best(RunProgram({self, "--fetch", bigUrl, fetched, "5"}));
    Check("the engine", fetched, bigSha);

    ariaMany = ariaMany.Best(RunProgram({"aria2c", "-q", "-j10", "--allow-overwrite=true", "--auto-file-renaming=false",
                                  "-d", out.File("small"), "-i", out.File("aria.list")}));
    for (int i = 0; i < cSmallItems; ++i) Check("aria2c", out.File("small/" + std::to_string(i) + ".bin"), smallSha[i]);
    curlMany = curlMany.Best(RunProgram({"curl", "-s", "-f", "-Z", "--parallel-max", "10", "-K", out.File("curl.list")}));
    for (int i = 0; i < cSmallItems; ++i) Check("curl", out.File("small/" + std::to_string(i) + ".bin"), smallSha[i]);
    engineMany = engineMany.Best(RunProgram({self, "--fetch-list", out.File("engine.list"), out.File("small"), "10"}));
    for (int i = 0; i < cSmallItems; ++i)
      Check("the engine", out.File("small/" + std::to_string(i) + ".bin"), smallSha[i]);
  }
  const TMeasure small = RunProgram({self, "--fetch", nginx.Url("/sparse-small.bin"), out.File("sparse"), "5"});
  fs::remove(out.File("sparse"));
  const TMeasure large = RunProgram({self, "--fetch", nginx.Url("/sparse-large.bin"), out.File("sparse"), "5"});
  fs::remove(out.File("sparse"));

  std::printf("one item of %lld MiB, 5 ranges, BatchSize 8192, best of %d rounds\n", static_cast<long long>(mib),
              rounds);
  Row("engine", engine);
  Row("aria2c", aria);
  Row("curl", curl);
  std::printf("%d items of 64 KiB, at most 10 at once\n", cSmallItems);
  Row("engine", engineMany);
  Row("aria2c", ariaMany);
  Row("curl", curlMany);
  std::printf("engine peak memory: %ld KiB for 100 MiB, %ld KiB for %lld MiB (target: within a few MiB)\n",
              small.PeakKb, large.PeakKb, static_cast<long long>(largeMib));
  const std::string big = "one item of " + std::to_string(mib) + " MiB, 5 ranges: engine vs ";
  const std::string many = std::to_string(cSmallItems) + " items of 64 KiB, 10 at once: engine vs ";
  PrintBound("engine-large-aria2c-wall", big + "aria2c -x5 -s5, wall time", engine.Wall, aria.Wall, 1.0);
  PrintBound("engine-large-aria2c-cpu", big + "aria2c -x5 -s5, CPU time", engine.Cpu, aria.Cpu, 1.0);
  PrintBound("engine-large-curl-wall", big + "curl, wall time", engine.Wall, curl.Wall, 0);
  PrintBound("engine-large-curl-cpu", big + "curl, CPU time", engine.Cpu, curl.Cpu, 0);
  PrintBound("engine-small-aria2c-wall", many + "aria2c -j10, wall time", engineMany.Wall, ariaMany.Wall, 0);
  PrintBound("engine-small-aria2c-cpu", many + "aria2c -j10, CPU time", engineMany.Cpu, ariaMany.Cpu, 0);
  PrintBound("engine-small-curl-wall", many + "curl -Z, wall time", engineMany.Wall, curlMany.Wall, 0);
  PrintBound("engine-small-curl-cpu", many + "curl -Z, CPU time", engineMany.Cpu, curlMany.Cpu, 0);
  const bool flat = large.PeakKb <= small.PeakKb + 4096;
  PrintResult("engine-memory", ("engine peak memory, " + std::to_string(largeMib) + " MiB file vs 100 MiB file").c_str(),
              double(large.PeakKb), double(small.PeakKb), "KiB", "<=+4MiB", flat);
  const bool met = engine.Wall <= aria.Wall && engine.Cpu <= aria.Cpu && flat;
  std::printf("%s\n", met ? "targets met" : "targets NOT met");
  return 0;
}
