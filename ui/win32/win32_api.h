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

#undef GetWindowText
#undef SetWindowText
#undef SetDlgItemText
#undef GetDlgItemText
#undef LoadString
#undef MessageBox
#undef AppendMenu

// The module the dialog and string resources are in: the executable.
inline HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }

// UTF-8 to the system's UTF-16 and back. A byte sequence that is not UTF-8 becomes U+FFFD.
inline std::wstring Utf16(std::string_view text) {
  if (text.empty()) return {};
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
  return wide;
}

inline std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                        nullptr, nullptr);
  return text;
}
