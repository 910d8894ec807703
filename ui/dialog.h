// The framework-like layer the windows are written on, the one contract of both window backends:
// CDialog (modal and modeless dialogs from the numbered templates, OnInitDialog,
// DoDataExchange, OnCommand, OnSysCommand, OnPaint, OnClose, Default), CControl and
// DDX_Control, FindDlgItem, the main window, CMenu (the system menu), CPaintDC, CFileDialog,
// LoadAppIcon, LoadResourceString and the main window's link. No toolkit type appears here: each
// dialog's window is its backend's private part (CDialog::CWindowPart), and the backend is a
// link choice, corvanel_ui_qt (Qt 6 Widgets, ui/qt) or corvanel_ui_win32 (User32, ui/win32).
// What needs no toolkit is in dialog.cpp.
//
// Contract:
// - UI thread only; the download engine reaches the main window through its window link
//   (download/window_link.h) instead. A dialog's controls exist from OnInitDialog until its
//   window goes; before that, and for unknown IDs, FindDlgItem gives an unbound control and the
//   item helpers do nothing.
// - Controls are found by their template IDs; controls with IDC_STATIC are never found.
// - Every command arrives at OnCommand(id): a button's click (its ID), Enter (the focused push
//   button's ID, else the default push button's, else IDOK), Escape (IDCANCEL), and the close box
//   (through OnClose). By default IDOK runs OnOK and IDCANCEL OnCancel, which end the dialog.
// - Texts are UTF-8, in and out. A control's text reads back exactly as it was last set (line
//   breaks included) until the operator edits it; an edited multi-line edit reads back with
//   "\r\n" line breaks.
// - A modal run keeps input from its owner only; the main window's own run (no owner) blocks
//   nothing, so the worker's ownerless boxes and the help windows stay usable meanwhile.
// - Where a dialog opens: a modal one centred over its owner (the main window in the work area),
//   a modeless one at its template position relative to its owner unless its OnInitDialog moves
//   it (the help windows open beside the main window: ui/help_place.h).
// - Geometry is in screen pixels; a window's rectangle is its outer one (frame and title bar
//   included).
// - Ownership: a dialog owns its window. A modeless dialog with auto-delete is freed once its
//   window has gone (ended, or destroyed with its owner); any other dialog outlives its window.
#pragma once

#include <memory>
#include <string>

#include "res/resource.h"

class CDialog;
class CWindowLink;

// A window that can own others: a dialog of ours.
using CWnd = CDialog;

// A rectangle in screen pixels: left and top inside it, right and bottom just outside.
struct CRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  // Whether the two share a pixel.
  bool Intersects(const CRect& other) const {
    return !IsEmpty() && !other.IsEmpty() && left < other.right && other.left < right &&
           top < other.bottom && other.top < bottom;
  }
  bool Contains(const CRect& inner) const {
    return inner.left >= left && inner.top >= top && inner.right <= right && inner.bottom <= bottom;
  }
  bool operator==(const CRect&) const = default;
};

// A size in pixels.
struct CSize {
  int cx = 0;
  int cy = 0;
};

// An icon as the windows show it: the platform's shared icon of a resource, never freed; null
// for none.
struct CIcon;
using CIconHandle = CIcon*;

// A member bound to one control of a dialog by DDX_Control; acts on that control, which it finds
// in its dialog by ID on each use. An unbound control acts on nothing.
class CControl {
 public:
  int ID() const { return m_id; }
  CWnd* Dialog() const { return m_dialog; }
  explicit operator bool() const { return m_dialog != nullptr; }

  void SetWindowText(const char* text);
  void SetWindowText(const std::string& text) { SetWindowText(text.c_str()); }
  std::string GetWindowText() const;
  void EnableWindow(bool enable);
  bool IsWindowEnabled() const;

 private:
  friend CControl FindDlgItem(CWnd* window, int id);
  CWnd* m_dialog = nullptr;
  int m_id = IDC_STATIC;
};

// The application's main window: the owner of dialogs that name no parent.
void SetMainWindow(CWnd* window);
CWnd* GetMainWindow();
// The control with this ID of a window (unbound when there is none).
CControl FindDlgItem(CWnd* window, int id);

// A window's own system menu; its items come back to the dialog as system commands. On Linux,
// where an application cannot extend the window manager's menu, the dialog offers its items in
// its context menu (right click).
class CMenu {
 public:
  explicit CMenu(CDialog& dialog) : m_dialog(dialog) {}
  void AppendSeparator();
  void AppendItem(unsigned command, const char* text);

 private:
  CDialog& m_dialog;
};

// Painting of a dialog, for the span of one OnPaint.
class CPaintDC {
 public:
  explicit CPaintDC(CDialog& dialog);
  ~CPaintDC();
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;
  // Erases the background under a minimised window's icon (the platform's message 0x0027).
  void EraseIconBackground();
  void DrawIcon(int x, int y, CIconHandle icon);

  struct CPaintPart;  // the backend's painter

 private:
  std::unique_ptr<CPaintPart> m_part;
};

// The open-file dialog; the path it gives is the chosen file's name as the file system has it,
// in UTF-8. `filter` is pairs of a display text and a pattern, each ended by '|', the list ended
// by an empty pair; the first pair is selected. `flags` are the platform's (OFN_), to which the
// dialog adds its own; `parent` null means the main window.
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

// Icon resource `id` at the system's icon sizes (null when there is none); a string resource
// (empty when there is none).
CIconHandle LoadAppIcon(int id);
std::string LoadResourceString(int id);
// The system's icon size (the minimised window's icon).
int SystemIconWidth();
int SystemIconHeight();
// How far the system steps each further cascaded window down and right: a title bar's height.
int SystemCascadeStep();

class CDialog {
 public:
  // `parent` becomes the owner of the dialog's window, else the application's main window; the
  // window itself is made by Create() or DoModal() from template `templateId`.
  explicit CDialog(int templateId, CWnd* parent = nullptr);
  virtual ~CDialog();
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Makes the dialog, runs OnInitDialog before it is first shown and runs it modally over its
  // owner. Returns the EndDialog result (IDOK, IDCANCEL, ...), or -1 when it could not be made.
  int DoModal();
  // Makes a modeless dialog and runs OnInitDialog; it stays hidden until ShowWindow unless the
  // template is visible. `templateId` 0 means the constructor's; `parent` null means the
  // constructor's, else the main window. False when it could not be made or already exists.
  bool Create(int templateId = 0, CWnd* parent = nullptr);
  void ShowWindow(bool show = true);
  // Ends the dialog with `result`: ends DoModal, or hides a modeless dialog (and, with
  // auto-delete, lets its window go and frees the dialog once the current message is done).
  void EndDialog(int result);

  // The dialog's controls by ID; nothing happens for an ID without a control.
  bool HasDlgItem(int id) const;
  void SetDlgItemText(int id, const char* text);
  void SetDlgItemText(int id, const std::string& text) { SetDlgItemText(id, text.c_str()); }
  std::string GetDlgItemText(int id) const;
  void EnableDlgItem(int id, bool enable);
  bool IsDlgItemEnabled(int id) const;

  // The window's outer rectangle; a window not shown yet is measured with the frame its owner
  // has. Empty while there is no window.
  CRect GetWindowRect() const;
  // Control `id`'s rectangle on the screen; empty for an ID without a control.
  CRect GetDlgItemRect(int id) const;
  // The work area (the screen less the task bars) of the monitor the window is on.
  CRect GetWorkArea() const;
  // Moves the window's outer top-left corner to x, y; its size and stacking stay.
  void SetWindowPos(int x, int y);
  bool IsWindowVisible() const;

  bool IsRunningModal() const { return m_runningModal; }
  // A modeless dialog with auto-delete frees itself once its window has gone.
  void SetAutoDelete(bool autoDelete) { m_autoDelete = autoDelete; }

  // Commands as the dialog manager sends them; true when the command was handled.
  virtual bool OnCommand(int id);
  // A system command (the system menu's items, the title bar's close); default handling here.
  virtual void OnSysCommand(unsigned command, long parameter);

  // The toolkit's window of this dialog, as the backend's own files see it (ui/qt/qt_window.h,
  // ui/win32/win32_window.h).
  struct CWindowPart;
  CWindowPart& WindowPart() const { return *m_part; }

 protected:
  // Base initialisation: runs DoDataExchange. True gives the focus to the first enabled
  // tab-stop control.
  virtual bool OnInitDialog();
  // Binds members to controls with DDX_Control.
  virtual void DoDataExchange();
  virtual void OnOK();
  virtual void OnCancel();
  // The close box (or the window system's close): the dialog manager's IDCANCEL by default.
  virtual void OnClose();
  // Painting; the default handling paints the dialog.
  virtual void OnPaint();
  // The cursor shown while the minimised window is dragged (null: the platform's own).
  virtual CIconHandle OnQueryDragIcon();

  // The default handling of the message being handled, once the handler has returned.
  void Default();
  void DDX_Control(CControl& control, int id);
  // The window's system menu, or null when it has none; `revert` is the platform's argument.
  CMenu* GetSystemMenu(bool revert);
  void SetIcon(CIconHandle icon, bool bigIcon);
  bool IsIconic() const;
  void GetClientSize(int& width, int& height) const;

 private:
  int m_templateId;
  CWnd* m_parent;
  bool m_runningModal = false;
  bool m_autoDelete = false;
  CMenu m_systemMenu{*this};
  std::unique_ptr<CWindowPart> m_part;
};

// The window link of a main window: the download engine's changes, carried out on the UI thread
// (download/window_link.h says how each backend does it).
std::unique_ptr<CWindowLink> MakeWindowLink(CDialog& window);
