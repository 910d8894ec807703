// Whether this Windows program runs under Wine (whose ntdll exports its version), for the checks
// that Wine cannot pass and that real Windows must.
#pragma once

#include <windows.h>

inline bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
