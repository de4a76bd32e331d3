#include "tests/soak/Soak.h"
namespace zvsoak {
void SoakApplication(const TSoakOptions&, TFindings&) {}
}
