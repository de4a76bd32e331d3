#include "tests/soak/Soak.h"
namespace zvsoak {
void SoakFullDisk(const TSoakOptions&, TFindings&) {}
int FullDiskChild(const std::string&, const std::string&, int64_t) { return 0; }
}
