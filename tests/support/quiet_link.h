// A window link that does nothing and allocates nothing: the window as an allocation count or
// a benchmark of the transfer alone needs it.
#pragma once

#include <cstdint>
#include <string>

#include "download/window_link.h"

class CQuietLink : public CWindowLink {
 public:
  std::string GetItemText(int) override { return {}; }
  void SetItemText(int, const char*) override {}
  void EnableItem(int, bool) override {}
  void SetProgressRange(int, std::int32_t, std::int32_t) override {}
  void SetProgressStep(int, std::int32_t) override {}
  void SetProgressPos(int, std::int32_t) override {}
  void MessageBox(BoxOwner, const char*, const char*) override {}
};
