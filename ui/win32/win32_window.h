// The Win32 backend's own side of ui/dialog.h: the dialog window behind each CDialog (its window
// part), made from the executable's dialog resource by Create() or DoModal() and run by one
// dialog procedure for all of them.
#pragma once

#include <functional>

#include "ui/dialog.h"
#include "ui/win32/win32_api.h"

struct CDialog::CWindowPart {
  explicit CWindowPart(CDialog& dialog) : m_dialog(dialog) {}

  // The dialog procedure of every dialog of ours; the dialog comes with WM_INITDIALOG.
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  // Runs a handler; FALSE (the dialog manager's own handling follows) when it asked for Default.
  INT_PTR Handled(const std::function<void()>& handler);
  // The window that owns this dialog's: `parent`'s, else the main window's (none for the main
  // window itself).
  HWND OwnerFor(CWnd* parent) const;

  CDialog& m_dialog;
  HWND m_hWnd = nullptr;  // from WM_INITDIALOG until WM_NCDESTROY
  bool m_defaultHandling = false;
  int m_result = 0;
};

// The dialog's window (null while it has none), and one of its controls by ID (null for none).
inline HWND DialogWindow(const CDialog& dialog) { return dialog.WindowPart().m_hWnd; }
HWND DlgItem(const CDialog& dialog, int id);

// An icon handle is the platform's own shared icon.
inline HICON ToHicon(CIconHandle icon) { return reinterpret_cast<HICON>(icon); }
inline CIconHandle FromHicon(HICON icon) { return reinterpret_cast<CIconHandle>(icon); }
