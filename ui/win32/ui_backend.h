// The framework-like layer on Windows: little more than User32 itself. Dialogs come from the
// executable's dialog resources (IDD_*), run by the dialog manager; the message loop of a modal
// run gives every dialog of ours its keys (IsDialogMessage), so Enter, Escape and Tab work in the
// modeless help windows too.
//
// Contract:
// - UI thread only, except where a function says otherwise. A dialog's controls exist from
//   OnInitDialog until its window is destroyed; before, and for unknown IDs, the item helpers do
//   nothing.
// - Commands (WM_COMMAND from a button, Enter, Escape) arrive at OnCommand(id); system commands
//   at OnSysCommand; WM_CLOSE at OnClose; WM_PAINT at OnPaint; WM_QUERYDRAGICON at
//   OnQueryDragIcon. Default() lets the dialog manager handle the message once the handler has
//   returned.
// - A modal run disables its owner only; the main window's own run (no owner) disables nothing.
// - Texts are UTF-8; the windows are Unicode windows, so a text keeps every letter whatever the
//   system's ANSI code page is. The system's own texts are plain ASCII.
// - Where a dialog opens: a modal one centred over its owner (the main window in the work area),
//   a modeless one at its template position relative to its owner, stepped down and right when
//   a window of the same template already stands there.
#pragma once

#include <memory>
#include <string>

#include "res/resource.h"

// The platform's handles, as <windows.h> declares them.
struct HWND__;
using HWND = HWND__*;
struct HICON__;
using HICON = HICON__*;
struct HMENU__;
using HMENU = HMENU__*;
struct HDC__;
using HDC = HDC__*;

class CDialog;
class CWindowLink;

// A window that can own others: a dialog of ours.
using CWnd = CDialog;
// An icon as the windows show it.
using CIconHandle = HICON;

// A member bound to one control of a dialog by DDX_Control; acts on that control.
class CControl {
 public:
  HWND GetSafeHwnd() const { return m_hWnd; }
  int ID() const { return m_id; }
  explicit operator bool() const { return m_hWnd != nullptr; }

  void SetWindowText(const char* text);
  void SetWindowText(const std::string& text) { SetWindowText(text.c_str()); }
  std::string GetWindowText() const;
  void EnableWindow(bool enable);
  bool IsWindowEnabled() const;

 private:
  friend CControl FindDlgItem(const CWnd* window, int id);
  HWND m_hWnd = nullptr;
  int m_id = IDC_STATIC;
};

// The application's main window: the owner of dialogs that name no parent.
void SetMainWindow(CWnd* window);
CWnd* GetMainWindow();
// The control with this ID of a window (unbound when there is none).
CControl FindDlgItem(const CWnd* window, int id);

// A window's own system menu.
class CMenu {
 public:
  explicit CMenu(HMENU menu) : m_hMenu(menu) {}
  void AppendSeparator();
  void AppendItem(unsigned command, const char* text);

 private:
  HMENU m_hMenu;
};

// Painting of a dialog (BeginPaint to EndPaint), for the span of one OnPaint.
class CPaintDC {
 public:
  explicit CPaintDC(CDialog& dialog);
  ~CPaintDC();
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;
  // Sends the window the message that erases a minimised window's icon background (0x0027).
  void EraseIconBackground();
  void DrawIcon(int x, int y, const CIconHandle& icon);

 private:
  HWND m_hWnd;
  HDC m_hDC;
  struct PaintState;
  std::unique_ptr<PaintState> m_state;
};

// The open-file dialog (GetOpenFileNameW); the path it gives is UTF-8. `filter` is pairs of a
// display text and a pattern, each ended by '|', the list ended by an empty pair; `flags` are the
// OFN_ flags, to which the dialog adds its own (the Explorer look).
class CFileDialog {
 public:
  CFileDialog(bool openFileDialog, const char* defaultExtension, const char* fileName,
              unsigned flags, const char* filter, CWnd* parent = nullptr);
  // IDOK when the operator chose a file, IDCANCEL otherwise (also when the dialog failed).
  int DoModal();
  std::string GetPathName() const { return m_path; }

 private:
  std::string m_filter;
  unsigned m_flags;
  CWnd* m_parent;
  std::string m_path;
};

// Icon resource `id` at the system's icon size; a string resource (empty when there is none).
CIconHandle LoadAppIcon(int id);
std::string LoadResourceString(int id);
// GetSystemMetrics(SM_CXICON) and (SM_CYICON).
int SystemIconWidth();
int SystemIconHeight();

class CDialog {
 public:
  // `parent` becomes the owner of the dialog's window, else the application's main window; the
  // window itself is made by Create() or DoModal() from dialog resource `templateId`.
  explicit CDialog(int templateId, CWnd* parent = nullptr);
  virtual ~CDialog();
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Creates the dialog, runs OnInitDialog before it is first shown and runs it modally over its
  // owner. Returns the EndDialog result (IDOK, IDCANCEL, ...), or -1 when it could not be made.
  int DoModal();
  // Creates a modeless dialog; it stays hidden until ShowWindow unless the template is visible.
  // `templateId` 0 means the constructor's; `parent` null means the constructor's, else the main
  // window. False when the window could not be made or already exists.
  bool Create(int templateId = 0, CWnd* parent = nullptr);
  void ShowWindow(bool show = true);
  // Ends the dialog with `result`: ends DoModal, or hides a modeless dialog (and, with
  // auto-delete, destroys its window and frees it once the current message is done).
  void EndDialog(int result);

  HWND GetSafeHwnd() const { return m_hWnd; }
  HWND GetDlgItem(int id) const;
  void SetDlgItemText(int id, const char* text);
  std::string GetDlgItemText(int id) const;
  bool IsRunningModal() const { return m_runningModal; }
  // A modeless dialog with auto-delete frees itself once it has ended.
  void SetAutoDelete(bool autoDelete) { m_autoDelete = autoDelete; }

  virtual bool OnCommand(int id);
  virtual void OnSysCommand(unsigned command, long parameter);

 protected:
  // Base initialisation: runs DoDataExchange. True gives the focus to the first tab stop.
  virtual bool OnInitDialog();
  virtual void DoDataExchange();
  virtual void OnOK();
  virtual void OnCancel();
  virtual void OnClose();
  virtual void OnPaint();
  virtual CIconHandle OnQueryDragIcon();

  // The dialog manager's default handling of the message being handled, after the handler.
  void Default();
  void DDX_Control(CControl& control, int id);
  // The window's own system menu, or null when it has none.
  CMenu* GetSystemMenu(bool revert);
  void SetIcon(const CIconHandle& icon, bool bigIcon);
  bool IsIconic() const;
  void GetClientSize(int& width, int& height) const;

 private:
  friend struct CDialogProcAccess;
  HWND OwnerFor(CWnd* parent) const;

  int m_templateId;
  CWnd* m_parent;
  HWND m_hWnd = nullptr;
  bool m_runningModal = false;
  bool m_autoDelete = false;
  bool m_defaultHandling = false;
  int m_result = 0;
  std::unique_ptr<CMenu> m_systemMenu;
};

// The window link of a main window: the download engine's changes, carried out by the UI thread
// through synchronous SendMessage calls.
std::unique_ptr<CWindowLink> MakeWindowLink(CDialog& window);
