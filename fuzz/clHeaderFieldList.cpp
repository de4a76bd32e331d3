// Indexing arbitrary header text and reading every field and its items: no crash, no hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/clStringsUtils.h"
#include "http/clHeaderFieldList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  TStrings lines;
  TclStringsUtils::SetText(lines, std::string(reinterpret_cast<const char*>(aData), aSize));
  TclHeaderFieldList list;
  list.Parse(0, &lines);
  static const char* const items[] = {"", "charset", "boundary", "name", "filename", "realm", "nonce"};
  for (int32_t i = 0; i < int32_t(list.FieldList().size()); ++i) {
    const std::string value = list.GetFieldValue(i);
    list.GetFieldValue(list.GetFieldName(i));
    for (const char* item : items) list.GetFieldValueItem(value, item);
  }
  if (!list.FieldList().empty()) {
    list.AddFieldItem(0, "charset", "utf-8");
    list.RemoveFieldItem(0, "charset");
    list.ClearFieldItem(0, "");
    list.RemoveField(0);
  }
  return 0;
}
