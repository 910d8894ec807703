// The platform services the windows use beside their dialogs: the system menu, painting, the
// open-file dialog, icons and strings from the executable's resources.
#include <vector>

#include "ui/win32/win32_window.h"

namespace {
// Room for a long path chosen in the file dialog; StartDownload refuses what it cannot hold.
constexpr DWORD kFileNameCapacity = 4096;
}  // namespace

namespace {

// The dialog's own system menu, or null.
HMENU SystemMenuOf(const CDialog& dialog) {
  const HWND window = DialogWindow(dialog);
  return window != nullptr ? ::GetSystemMenu(window, FALSE) : nullptr;
}

}  // namespace

void CMenu::AppendSeparator() {
  if (const HMENU menu = SystemMenuOf(m_dialog)) ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
}

void CMenu::AppendItem(unsigned command, const char* text) {
  if (const HMENU menu = SystemMenuOf(m_dialog)) {
    ::AppendMenuW(menu, MF_STRING, command, Utf16(text).c_str());
  }
}

struct CPaintDC::CPaintPart {
  HWND m_hWnd = nullptr;
  PAINTSTRUCT m_paint{};
  HDC m_hDC = nullptr;
};

CPaintDC::CPaintDC(CDialog& dialog) : m_part(std::make_unique<CPaintPart>()) {
  m_part->m_hWnd = DialogWindow(dialog);
  m_part->m_hDC = ::BeginPaint(m_part->m_hWnd, &m_part->m_paint);
}

CPaintDC::~CPaintDC() { ::EndPaint(m_part->m_hWnd, &m_part->m_paint); }

void CPaintDC::EraseIconBackground() {
  ::SendMessageW(m_part->m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(m_part->m_hDC), 0);
}

void CPaintDC::DrawIcon(int x, int y, CIconHandle icon) {
  ::DrawIcon(m_part->m_hDC, x, y, ToHicon(icon));
}

int CFileDialog::DoModal() {
  // The platform wants the pairs separated and ended by NUL characters.
  std::wstring filter = Utf16(m_filter);
  for (wchar_t& c : filter) {
    if (c == L'|') c = L'\0';
  }
  std::vector<wchar_t> file(kFileNameCapacity, L'\0');
  CWnd* owner = m_parent != nullptr ? m_parent : GetMainWindow();
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner != nullptr ? DialogWindow(*owner) : nullptr;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = kFileNameCapacity;
  ofn.Flags = m_flags | OFN_EXPLORER | OFN_ENABLESIZING;
  if (!::GetOpenFileNameW(&ofn)) {
    return IDCANCEL;
  }
  m_path = Utf8(file.data());
  return IDOK;
}

CIconHandle LoadAppIcon(int id) { return FromHicon(::LoadIconW(Instance(), MAKEINTRESOURCEW(id))); }

std::string LoadResourceString(int id) {
  wchar_t text[256] = {};
  const int length = ::LoadStringW(Instance(), static_cast<UINT>(id), text, 256);
  return Utf8(std::wstring_view(text, length > 0 ? static_cast<std::size_t>(length) : 0));
}

int SystemIconWidth() { return ::GetSystemMetrics(SM_CXICON); }
int SystemIconHeight() { return ::GetSystemMetrics(SM_CYICON); }
int SystemCascadeStep() {
  return ::GetSystemMetrics(SM_CYCAPTION) + ::GetSystemMetrics(SM_CYFIXEDFRAME);
}
