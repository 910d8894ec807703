#include "res/strings.h"

#include "res/resource.h"

namespace res {
namespace {

struct StringEntry {
  int id;
  std::string_view text;
};

constexpr StringEntry kStringTable[] = {
    {IDS_ABOUTBOX, "&About Corvanel..."},  // '&' marks the menu mnemonic
};

}  // namespace

std::string_view LoadString(int id) {
  for (const StringEntry& entry : kStringTable) {
    if (entry.id == id) return entry.text;
  }
  return {};
}

}  // namespace res
