#include "app/embedded/EmbeddedResources.h"

#ifdef ZV_FLVEXE_PATH
// The bytes of the binder files built alongside, placed in the program's read-only data.
#define ZV_EMBED(name, path)                                        \
  __asm__(".pushsection .rodata\n"                                  \
          ".balign 16\n"                                            \
          ".global zv_" #name "_begin\n"                            \
          "zv_" #name "_begin:\n"                                   \
          ".incbin \"" path "\"\n"                                  \
          ".global zv_" #name "_end\n"                              \
          "zv_" #name "_end:\n"                                     \
          ".popsection\n");                                         \
  extern "C" const char zv_##name##_begin[], zv_##name##_end[];
ZV_EMBED(flvexe, ZV_FLVEXE_PATH)
ZV_EMBED(flvdll, ZV_FLVDLL_PATH)

std::map<std::string, std::string_view> EmbeddedResources() {
  return {{"flvexe", std::string_view(zv_flvexe_begin, zv_flvexe_end - zv_flvexe_begin)},
          {"flvdll", std::string_view(zv_flvdll_begin, zv_flvdll_end - zv_flvdll_begin)}};
}
#else
// Built without the binder: start-up reports that it cannot write the binder files.
std::map<std::string, std::string_view> EmbeddedResources() { return {}; }
#endif
