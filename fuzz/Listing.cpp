// The listing over page bytes of any shape, decoded as the page fetch decodes them: no crash, no
// hang, rows always have their five cells.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/HeadlessPlatform.h"
#include "app/MainForm.h"
#include "common/clTranslator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize == 0) return 0;
  static THeadlessPlatform platform;
  TForm1 form(platform);
  // The first byte chooses the naming by numbers.
  form.chk4.SetChecked(aData[0] & 1);
  const std::string page(reinterpret_cast<const char*>(aData) + 1, aSize - 1);
  form.ListPage(TclTranslator::GetString(page, "utf-8"));
  for (int i = 0; i < form.lv2.Count(); ++i)
    if (form.lv2.Row(i).SubItems.size() != 5 || form.lv2.ItemCaption(i).empty()) abort();
  platform.Messages.clear();
  return 0;
}
