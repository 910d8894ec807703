// CDialog on User32: dialogs from the executable's dialog resources (Unicode dialogs, so that a
// path keeps every letter), one dialog procedure for all of them, the modal run's message loop,
// and where a dialog opens.
#include "ui/win32/win32_window.h"

namespace {

// Posted by a modeless dialog with auto-delete that has ended: its window is destroyed once the
// message that ended it is done, and the object is freed with the window.
constexpr UINT kDestroySelf = WM_APP + 0x10;

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
                         : mainWindow != nullptr && DialogWindow(*mainWindow) != nullptr
                             ? DialogWindow(*mainWindow)
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

}  // namespace

// ---- the window part -------------------------------------------------------------------------

INT_PTR CALLBACK CDialog::CWindowPart::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CDialog*>(lParam);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->m_part->m_hWnd = hwnd;
    RECT before{};
    ::GetWindowRect(hwnd, &before);
    const INT_PTR focus = self->OnInitDialog() ? TRUE : FALSE;
    if (self->m_part->m_hWnd == hwnd) CentreAfterInit(hwnd, before);
    return focus;
  }
  auto* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  if (self == nullptr) {
    return FALSE;
  }
  CWindowPart& part = *self->m_part;
  switch (message) {
    case WM_COMMAND:
      // Clicks, Enter and Escape; the edit's and the static's notifications are no commands.
      if (HIWORD(wParam) != BN_CLICKED) {
        return FALSE;
      }
      return self->OnCommand(LOWORD(wParam)) ? TRUE : FALSE;
    case WM_SYSCOMMAND:
      return part.Handled(
          [&] { self->OnSysCommand(static_cast<unsigned>(wParam), static_cast<long>(lParam)); });
    case WM_CLOSE:
      return part.Handled([&] { self->OnClose(); });
    case WM_PAINT:
      return part.Handled([&] { self->OnPaint(); });
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(ToHicon(self->OnQueryDragIcon()));
    case kDestroySelf:
      ::DestroyWindow(hwnd);
      return TRUE;
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
      part.m_hWnd = nullptr;
      if (self->m_autoDelete && !self->m_runningModal) {
        delete self;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CDialog::CWindowPart::Handled(const std::function<void()>& handler) {
  const bool outer = m_defaultHandling;
  m_defaultHandling = false;
  handler();
  const bool wantsDefault = m_defaultHandling;
  m_defaultHandling = outer;
  return wantsDefault ? FALSE : TRUE;
}

HWND CDialog::CWindowPart::OwnerFor(CWnd* parent) const {
  if (parent != nullptr) return DialogWindow(*parent);
  CDialog* mainWindow = GetMainWindow();
  return mainWindow != nullptr && mainWindow != &m_dialog ? DialogWindow(*mainWindow) : nullptr;
}

HWND DlgItem(const CDialog& dialog, int id) {
  const HWND window = DialogWindow(dialog);
  return window != nullptr && id != IDC_STATIC ? ::GetDlgItem(window, id) : nullptr;
}

namespace {
CRect ToRect(const RECT& rect) { return {rect.left, rect.top, rect.right, rect.bottom}; }
}  // namespace

CRect CDialog::GetWindowRect() const {
  RECT rect{};
  if (m_part->m_hWnd == nullptr || !::GetWindowRect(m_part->m_hWnd, &rect)) return {};
  return ToRect(rect);
}

CRect CDialog::GetDlgItemRect(int id) const {
  RECT rect{};
  const HWND item = DlgItem(*this, id);
  if (item == nullptr || !::GetWindowRect(item, &rect)) return {};
  return ToRect(rect);
}

CRect CDialog::GetWorkArea() const {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!::GetMonitorInfoW(::MonitorFromWindow(m_part->m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor))
    return {};
  return ToRect(monitor.rcWork);
}

void CDialog::SetWindowPos(int x, int y) {
  if (m_part->m_hWnd != nullptr) {
    ::SetWindowPos(m_part->m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

bool CDialog::IsWindowVisible() const {
  return m_part->m_hWnd != nullptr && ::IsWindowVisible(m_part->m_hWnd) != FALSE;
}

// ---- CDialog --------------------------------------------------------------------------------

CDialog::CDialog(int templateId, CWnd* parent)
    : m_templateId(templateId), m_parent(parent), m_part(std::make_unique<CWindowPart>(*this)) {}

CDialog::~CDialog() {
  if (GetMainWindow() == this) SetMainWindow(nullptr);
  if (m_part->m_hWnd != nullptr) {
    // The window outlives no object of ours: no message reaches this one any more.
    ::SetWindowLongPtrW(m_part->m_hWnd, DWLP_USER, 0);
    ::DestroyWindow(m_part->m_hWnd);
  }
}

int CDialog::DoModal() {
  if (m_part->m_hWnd != nullptr) return -1;
  const HWND owner = m_part->OwnerFor(m_parent);
  m_part->m_result = -1;
  m_runningModal = true;  // an EndDialog during OnInitDialog ends the run before it starts
  // Modal over its owner only: the other windows (the worker's ownerless boxes, the help
  // windows) keep taking input. The owner is disabled before the dialog is made, so that the
  // dialog opens centred over it.
  const bool disableOwner = owner != nullptr && ::IsWindowEnabled(owner);
  if (disableOwner) ::EnableWindow(owner, FALSE);
  const HWND window = ::CreateDialogParamW(Instance(), MAKEINTRESOURCEW(m_templateId), owner,
                                           &CWindowPart::Proc, reinterpret_cast<LPARAM>(this));
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
  if (m_part->m_hWnd != nullptr) ::DestroyWindow(m_part->m_hWnd);
  return m_part->m_result;
}

bool CDialog::Create(int templateId, CWnd* parent) {
  if (m_part->m_hWnd != nullptr) return false;
  if (templateId != 0) m_templateId = templateId;
  const HWND owner = m_part->OwnerFor(parent != nullptr ? parent : m_parent);
  const HWND window = ::CreateDialogParamW(Instance(), MAKEINTRESOURCEW(m_templateId), owner,
                                           &CWindowPart::Proc, reinterpret_cast<LPARAM>(this));
  return window != nullptr;
}

void CDialog::ShowWindow(bool show) {
  if (m_part->m_hWnd != nullptr) ::ShowWindow(m_part->m_hWnd, show ? SW_SHOW : SW_HIDE);
}

void CDialog::EndDialog(int result) {
  m_part->m_result = result;
  if (m_runningModal) {
    m_runningModal = false;
    ::PostMessageW(m_part->m_hWnd, WM_NULL, 0, 0);  // wakes the run's loop
    return;
  }
  ShowWindow(false);
  if (m_autoDelete && m_part->m_hWnd != nullptr) {
    ::PostMessageW(m_part->m_hWnd, kDestroySelf, 0, 0);
  }
}

bool CDialog::HasDlgItem(int id) const { return DlgItem(*this, id) != nullptr; }

void CDialog::SetDlgItemText(int id, const char* text) {
  if (const HWND item = DlgItem(*this, id)) {
    ::SetWindowTextW(item, Utf16(text != nullptr ? text : "").c_str());
  }
}

std::string CDialog::GetDlgItemText(int id) const {
  const HWND item = DlgItem(*this, id);
  if (item == nullptr) return {};
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(item)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(::GetWindowTextW(item, text.data(), static_cast<int>(text.size()))));
  return Utf8(text);
}

void CDialog::EnableDlgItem(int id, bool enable) {
  if (const HWND item = DlgItem(*this, id)) ::EnableWindow(item, enable ? TRUE : FALSE);
}

bool CDialog::IsDlgItemEnabled(int id) const {
  const HWND item = DlgItem(*this, id);
  return item != nullptr && ::IsWindowEnabled(item) != FALSE;
}

void CDialog::OnSysCommand(unsigned /*command*/, long /*parameter*/) { Default(); }
void CDialog::OnClose() { Default(); }  // the dialog manager turns it into IDCANCEL

void CDialog::Default() { m_part->m_defaultHandling = true; }

CMenu* CDialog::GetSystemMenu(bool revert) {
  if (m_part->m_hWnd == nullptr) return nullptr;
  return ::GetSystemMenu(m_part->m_hWnd, revert ? TRUE : FALSE) != nullptr ? &m_systemMenu
                                                                           : nullptr;
}

void CDialog::SetIcon(CIconHandle icon, bool bigIcon) {
  ::SendMessageW(m_part->m_hWnd, WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                 reinterpret_cast<LPARAM>(ToHicon(icon)));
}

bool CDialog::IsIconic() const { return ::IsIconic(m_part->m_hWnd) != FALSE; }

void CDialog::GetClientSize(int& width, int& height) const {
  RECT rect{};
  ::GetClientRect(m_part->m_hWnd, &rect);
  width = rect.right - rect.left;
  height = rect.bottom - rect.top;
}
