// Play-address replies of any shape: no crash, no hang, and a row is either marked failed or holds
// exactly as many addresses as its segment count says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/HeadlessPlatform.h"
#include "app/MainForm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize == 0) return 0;
  static THeadlessPlatform platform;
  static TForm1 form(platform);
  form.lv2.Clear();
  form.lv2.Add("1", {"part", "101", "", "", ""});
  std::string reply(reinterpret_cast<const char*>(aData) + 1, aSize - 1);
  // The first byte chooses the page kind.
  if (aData[0] & 1)
    form.ParseEpisodePlayReply(reply, 0);
  else
    form.ParsePlayReply(reply, 0);
  if (form.lv2.Count() != 1) abort();
  if (form.lv2.ItemCaption(0) == "×") return 0;
  std::string addresses = form.lv2.SubItem(0, 2);
  size_t count = 1;
  for (char c : addresses) count += c == '|';
  if (addresses.empty() || form.lv2.SubItem(0, 4) != std::to_string(count)) {
    // An address holding "|" itself is the one way the two may differ.
    if (reply.find('|') == std::string::npos) abort();
  }
  return 0;
}
