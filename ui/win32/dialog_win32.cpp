// CDialog on User32: dialogs from the executable's dialog resources (Unicode dialogs, so that a
// path keeps every letter), one dialog procedure for all of them, the modal run's message loop,
// and where a dialog opens.
#include <atomic>
#include <functional>

#include "ui/dialog.h"
#include "ui/win32/win32_api.h"

namespace {

// Posted by a modeless dialog with auto-delete that has ended: its window is destroyed once the
// message that ended it is done, and the object is freed with the window.
constexpr UINT kDestroySelf = WM_APP + 0x10;

std::atomic<CDialog*> g_mainWindow{nullptr};

// Our dialogs and the message boxes are of the dialog class; the dialog manager gives them
// their keys (Tab, Enter, Escape, mnemonics).
bool IsDialogWindow(HWND window) {
  wchar_t name[16] = {};
  return ::GetClassNameW(window, name, 16) > 0 && std::wstring_view(name) == L"#32770";
}

// Where a dialog opens, as the framework places it after WM_INITDIALOG: a dialog that was hidden
// until then, was not moved by its initialisation and has no owner or a disabled owner (a modal
// dialog) is centred: over its owner when that is shown, else in the work area of the main
// window's monitor, and kept inside that work area. Any other dialog (a modeless one) stays at
// its template position relative to its owner. Plain User32 centres nothing by itself.
void CentreAfterInit(HWND window, const RECT& before) {
  RECT now{};
  ::GetWindowRect(window, &now);
  if (::IsWindowVisible(window) || !::EqualRect(&before, &now)) return;
  HWND owner = ::GetWindow(window, GW_OWNER);
  if (owner != nullptr && ::IsWindowEnabled(owner)) return;
  if (owner != nullptr && (!::IsWindowVisible(owner) || ::IsIconic(owner))) owner = nullptr;

  CDialog* mainWindow = GetMainWindow();
  const HWND reference = owner != nullptr ? owner
                         : mainWindow != nullptr && mainWindow->GetSafeHwnd()
                             ? mainWindow->GetSafeHwnd()
                             : window;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(reference, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT area = monitor.rcWork;
  RECT centre = area;
  if (owner != nullptr) ::GetWindowRect(owner, &centre);

  const LONG width = now.right - now.left;
  const LONG height = now.bottom - now.top;
  LONG x = (centre.left + centre.right) / 2 - width / 2;
  LONG y = (centre.top + centre.bottom) / 2 - height / 2;
  if (x + width > area.right) x = area.right - width;
  if (x < area.left) x = area.left;
  if (y + height > area.bottom) y = area.bottom - height;
  if (y < area.top) y = area.top;
  ::SetWindowPos(window, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// A modeless dialog that would open exactly over a shown window of the same template and owner
// (a second help window) steps down and right by a caption's height until it covers none, as the
// system cascades new windows: each stays visible as a window of its own.
void CascadeOverTwins(HWND window) {
  const HWND owner = ::GetWindow(window, GW_OWNER);
  const int step = ::GetSystemMetrics(SM_CYCAPTION) + ::GetSystemMetrics(SM_CYFIXEDFRAME);
  RECT mine{};
  ::GetWindowRect(window, &mine);
  wchar_t caption[256] = {};
  ::GetWindowTextW(window, caption, 256);
  for (bool moved = true; moved;) {
    moved = false;
    for (HWND other = ::GetWindow(::GetDesktopWindow(), GW_CHILD); other != nullptr;
         other = ::GetWindow(other, GW_HWNDNEXT)) {
      RECT theirs{};
      wchar_t otherCaption[256] = {};
      if (other == window || !::IsWindowVisible(other) || ::GetWindow(other, GW_OWNER) != owner ||
          !IsDialogWindow(other) || !::GetWindowRect(other, &theirs) || theirs.left != mine.left ||
          theirs.top != mine.top) {
        continue;
      }
      ::GetWindowTextW(other, otherCaption, 256);
      if (std::wstring_view(otherCaption) != std::wstring_view(caption)) continue;
      ::OffsetRect(&mine, step, step);
      moved = true;
    }
  }
  ::SetWindowPos(window, nullptr, mine.left, mine.top, -1, -1,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

// The dialog procedure, with access to the dialog's state.
struct CDialogProcAccess {
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      auto* self = reinterpret_cast<CDialog*>(lParam);
      ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
      self->m_hWnd = hwnd;
      RECT before{};
      ::GetWindowRect(hwnd, &before);
      const INT_PTR focus = self->OnInitDialog() ? TRUE : FALSE;
      if (self->m_hWnd == hwnd) CentreAfterInit(hwnd, before);
      return focus;
    }
    auto* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (self == nullptr) {
      return FALSE;
    }
    switch (message) {
      case WM_COMMAND:
        // Clicks, Enter and Escape; the edit's and the static's notifications are no commands.
        if (HIWORD(wParam) != BN_CLICKED) {
          return FALSE;
        }
        return self->OnCommand(LOWORD(wParam)) ? TRUE : FALSE;
      case WM_SYSCOMMAND:
        return Handled(*self, [&] {
          self->OnSysCommand(static_cast<unsigned>(wParam), static_cast<long>(lParam));
        });
      case WM_CLOSE:
        return Handled(*self, [&] { self->OnClose(); });
      case WM_PAINT:
        return Handled(*self, [&] { self->OnPaint(); });
      case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(self->OnQueryDragIcon());
      case kDestroySelf:
        ::DestroyWindow(hwnd);
        return TRUE;
      case WM_NCDESTROY:
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        if (self->m_autoDelete && !self->m_runningModal) {
          delete self;
        }
        return FALSE;
      default:
        return FALSE;
    }
  }

  // Runs a handler; FALSE (the dialog manager's own handling follows) when it asked for Default.
  static INT_PTR Handled(CDialog& self, const std::function<void()>& handler) {
    const bool outer = self.m_defaultHandling;
    self.m_defaultHandling = false;
    handler();
    const bool wantsDefault = self.m_defaultHandling;
    self.m_defaultHandling = outer;
    return wantsDefault ? FALSE : TRUE;
  }
};

// ---- controls and the main window -----------------------------------------------------------

void CControl::SetWindowText(const char* text) {
  ::SetWindowTextW(m_hWnd, Utf16(text != nullptr ? text : "").c_str());
}

std::string CControl::GetWindowText() const {
  if (m_hWnd == nullptr) return {};
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(m_hWnd)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(m_hWnd, text.data(), static_cast<int>(text.size()))));
  return Utf8(text);
}

void CControl::EnableWindow(bool enable) {
  if (m_hWnd != nullptr) ::EnableWindow(m_hWnd, enable ? TRUE : FALSE);
}

bool CControl::IsWindowEnabled() const {
  return m_hWnd != nullptr && ::IsWindowEnabled(m_hWnd) != FALSE;
}

void SetMainWindow(CWnd* window) { g_mainWindow.store(window); }
CWnd* GetMainWindow() { return g_mainWindow.load(); }

CControl FindDlgItem(const CWnd* window, int id) {
  CControl control;
  control.m_hWnd = window != nullptr ? window->GetDlgItem(id) : nullptr;
  control.m_id = id;
  return control;
}

// ---- CDialog --------------------------------------------------------------------------------

CDialog::CDialog(int templateId, CWnd* parent) : m_templateId(templateId), m_parent(parent) {}

CDialog::~CDialog() {
  if (m_hWnd != nullptr) {
    // The window outlives no object of ours: no message reaches this one any more.
    ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
    ::DestroyWindow(m_hWnd);
  }
}

HWND CDialog::OwnerFor(CWnd* parent) const {
  if (parent != nullptr) return parent->m_hWnd;
  CDialog* mainWindow = GetMainWindow();
  return mainWindow != nullptr && mainWindow != this ? mainWindow->m_hWnd : nullptr;
}

int CDialog::DoModal() {
  if (m_hWnd != nullptr) return -1;
  const HWND owner = OwnerFor(m_parent);
  m_result = -1;
  m_runningModal = true;  // an EndDialog during OnInitDialog ends the run before it starts
  // Modal over its owner only: the other windows (the worker's ownerless boxes, the help
  // windows) keep taking input. The owner is disabled before the dialog is made, so that the
  // dialog opens centred over it.
  const bool disableOwner = owner != nullptr && ::IsWindowEnabled(owner);
  if (disableOwner) ::EnableWindow(owner, FALSE);
  const HWND window =
      ::CreateDialogParamW(Instance(), MAKEINTRESOURCEW(m_templateId), owner,
                           &CDialogProcAccess::Proc, reinterpret_cast<LPARAM>(this));
  if (window == nullptr) {
    m_runningModal = false;
    if (disableOwner) ::EnableWindow(owner, TRUE);
    return -1;
  }
  if (m_runningModal) ::ShowWindow(window, SW_SHOW);
  MSG msg;
  while (m_runningModal) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop outside this one
      break;
    }
    if (got == -1) break;
    const HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
    if (root != nullptr && IsDialogWindow(root) && ::IsDialogMessageW(root, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  m_runningModal = false;
  // The owner first, so that activation goes back to it when this window goes.
  if (disableOwner) ::EnableWindow(owner, TRUE);
  if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
  return m_result;
}

bool CDialog::Create(int templateId, CWnd* parent) {
  if (m_hWnd != nullptr) return false;
  if (templateId != 0) m_templateId = templateId;
  const HWND owner = OwnerFor(parent != nullptr ? parent : m_parent);
  const HWND window =
      ::CreateDialogParamW(Instance(), MAKEINTRESOURCEW(m_templateId), owner,
                           &CDialogProcAccess::Proc, reinterpret_cast<LPARAM>(this));
  if (window != nullptr && m_hWnd == window) CascadeOverTwins(window);
  return window != nullptr;
}

void CDialog::ShowWindow(bool show) {
  if (m_hWnd != nullptr) ::ShowWindow(m_hWnd, show ? SW_SHOW : SW_HIDE);
}

void CDialog::EndDialog(int result) {
  m_result = result;
  if (m_runningModal) {
    m_runningModal = false;
    ::PostMessageW(m_hWnd, WM_NULL, 0, 0);  // wakes the run's loop
    return;
  }
  ShowWindow(false);
  if (m_autoDelete && m_hWnd != nullptr) ::PostMessageW(m_hWnd, kDestroySelf, 0, 0);
}

HWND CDialog::GetDlgItem(int id) const {
  return m_hWnd != nullptr && id != IDC_STATIC ? ::GetDlgItem(m_hWnd, id) : nullptr;
}

void CDialog::SetDlgItemText(int id, const char* text) {
  if (HWND item = GetDlgItem(id))
    ::SetWindowTextW(item, Utf16(text != nullptr ? text : "").c_str());
}

std::string CDialog::GetDlgItemText(int id) const {
  CControl control = FindDlgItem(this, id);
  return control.GetWindowText();
}

void CDialog::OnSysCommand(unsigned /*command*/, long /*parameter*/) { Default(); }
void CDialog::OnClose() { Default(); }  // the dialog manager turns it into IDCANCEL

void CDialog::Default() { m_defaultHandling = true; }

CMenu* CDialog::GetSystemMenu(bool revert) {
  const HMENU menu = ::GetSystemMenu(m_hWnd, revert ? TRUE : FALSE);
  if (menu == nullptr) return nullptr;
  m_systemMenu = std::make_unique<CMenu>(menu);
  return m_systemMenu.get();
}

void CDialog::SetIcon(const CIconHandle& icon, bool bigIcon) {
  ::SendMessageW(m_hWnd, WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                 reinterpret_cast<LPARAM>(icon));
}

bool CDialog::IsIconic() const { return ::IsIconic(m_hWnd) != FALSE; }

void CDialog::GetClientSize(int& width, int& height) const {
  RECT rect{};
  ::GetClientRect(m_hWnd, &rect);
  width = rect.right - rect.left;
  height = rect.bottom - rect.top;
}
