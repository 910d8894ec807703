// User32 and its friends for the Win32 backend's own files. The headers' A/W macros that share a
// name with the framework layer's functions are taken back, so that those names mean the same in
// every file; the backend calls the A functions by their full names.
#pragma once

#include <commctrl.h>
#include <commdlg.h>
#include <windows.h>

#undef GetWindowText
#undef SetWindowText
#undef SetDlgItemText
#undef GetDlgItemText
#undef LoadString
#undef MessageBox
#undef AppendMenu
