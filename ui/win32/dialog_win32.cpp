// CDialog on User32: dialogs from the executable's dialog resources, one dialog procedure for
// all of them, and the modal run's message loop.
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
  char name[16] = {};
  return ::GetClassNameA(window, name, sizeof name) > 0 && std::string(name) == "#32770";
}

}  // namespace

// The dialog procedure, with access to the dialog's state.
struct CDialogProcAccess {
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      auto* self = reinterpret_cast<CDialog*>(lParam);
      ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
      self->m_hWnd = hwnd;
      return self->OnInitDialog() ? TRUE : FALSE;
    }
    auto* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
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
        ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
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

void CControl::SetWindowText(const char* text) { ::SetWindowTextA(m_hWnd, text); }

std::string CControl::GetWindowText() const {
  if (m_hWnd == nullptr) return {};
  std::string text(static_cast<std::size_t>(::GetWindowTextLengthA(m_hWnd)) + 1, '\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextA(m_hWnd, text.data(), static_cast<int>(text.size()))));
  return text;
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
    ::SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
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
  const HWND window =
      ::CreateDialogParamA(Instance(), MAKEINTRESOURCEA(m_templateId), owner,
                           &CDialogProcAccess::Proc, reinterpret_cast<LPARAM>(this));
  if (window == nullptr) {
    m_runningModal = false;
    return -1;
  }
  // Modal over its owner only: the other windows (the worker's ownerless boxes, the help
  // windows) keep taking input.
  const bool disableOwner = owner != nullptr && ::IsWindowEnabled(owner);
  if (disableOwner) ::EnableWindow(owner, FALSE);
  if (m_runningModal) ::ShowWindow(window, SW_SHOW);
  MSG msg;
  while (m_runningModal) {
    const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop outside this one
      break;
    }
    if (got == -1) break;
    const HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
    if (root != nullptr && IsDialogWindow(root) && ::IsDialogMessageA(root, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
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
  return ::CreateDialogParamA(Instance(), MAKEINTRESOURCEA(m_templateId), owner,
                              &CDialogProcAccess::Proc, reinterpret_cast<LPARAM>(this)) != nullptr;
}

void CDialog::ShowWindow(bool show) {
  if (m_hWnd != nullptr) ::ShowWindow(m_hWnd, show ? SW_SHOW : SW_HIDE);
}

void CDialog::EndDialog(int result) {
  m_result = result;
  if (m_runningModal) {
    m_runningModal = false;
    ::PostMessageA(m_hWnd, WM_NULL, 0, 0);  // wakes the run's loop
    return;
  }
  ShowWindow(false);
  if (m_autoDelete && m_hWnd != nullptr) ::PostMessageA(m_hWnd, kDestroySelf, 0, 0);
}

HWND CDialog::GetDlgItem(int id) const {
  return m_hWnd != nullptr && id != IDC_STATIC ? ::GetDlgItem(m_hWnd, id) : nullptr;
}

void CDialog::SetDlgItemText(int id, const char* text) {
  if (HWND item = GetDlgItem(id)) ::SetWindowTextA(item, text);
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
  ::SendMessageA(m_hWnd, WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                 reinterpret_cast<LPARAM>(icon));
}

bool CDialog::IsIconic() const { return ::IsIconic(m_hWnd) != FALSE; }

void CDialog::GetClientSize(int& width, int& height) const {
  RECT rect{};
  ::GetClientRect(m_hWnd, &rect);
  width = rect.right - rect.left;
  height = rect.bottom - rect.top;
}
