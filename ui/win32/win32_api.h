// User32 and its friends for the Win32 backend's own files. The headers' A/W macros that share a
// name with the framework layer's functions are taken back, so that those names mean the same in
// every file; the backend calls the W functions by their full names, so that every text keeps
// its letters whatever the system's ANSI code page is. The framework layer's texts are UTF-8;
// Utf16 and Utf8 convert at the User32 boundary.
#pragma once

// <windows.h> first: the other headers build on its types, and include sorting must not move it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
// clang-format on

#include <string>
#include <string_view>

#include "text/wide_text_win32.h"

#undef GetWindowText
#undef SetWindowText
#undef SetDlgItemText
#undef GetDlgItemText
#undef LoadString
#undef MessageBox
#undef AppendMenu

// The module the dialog and string resources are in: the executable.
inline HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }
