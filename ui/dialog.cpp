// What the framework-like layer does the same on every backend: the default command handling
// (OK and Cancel end the dialog with their own IDs, base initialisation binds the controls), the
// binding of a member to its control and what a bound control does, the main window, the
// open-file dialog's arguments, and the default painting and drag icon.
#include "ui/dialog.h"

#include <atomic>

namespace {
std::atomic<CDialog*> g_mainWindow{nullptr};  // the application's main window
}  // namespace

void SetMainWindow(CWnd* window) { g_mainWindow.store(window); }
CWnd* GetMainWindow() { return g_mainWindow.load(); }

CControl FindDlgItem(CWnd* window, int id) {
  CControl control;
  control.m_dialog = window != nullptr && window->HasDlgItem(id) ? window : nullptr;
  control.m_id = id;
  return control;
}

void CControl::SetWindowText(const char* text) {
  if (m_dialog != nullptr) m_dialog->SetDlgItemText(m_id, text != nullptr ? text : "");
}

std::string CControl::GetWindowText() const {
  return m_dialog != nullptr ? m_dialog->GetDlgItemText(m_id) : std::string();
}

void CControl::EnableWindow(bool enable) {
  if (m_dialog != nullptr) m_dialog->EnableDlgItem(m_id, enable);
}

bool CControl::IsWindowEnabled() const {
  return m_dialog != nullptr && m_dialog->IsDlgItemEnabled(m_id);
}

CFileDialog::CFileDialog(bool /*openFileDialog*/, const char* /*defaultExtension*/,
                         const char* /*fileName*/, unsigned flags, const char* filter, CWnd* parent)
    : m_filter(filter != nullptr ? filter : ""), m_flags(flags), m_parent(parent) {}

bool CDialog::OnInitDialog() {
  DoDataExchange();
  return true;
}

void CDialog::DoDataExchange() {}

bool CDialog::OnCommand(int id) {
  if (id == IDOK) {
    OnOK();
    return true;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return true;
  }
  return false;
}

void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }
void CDialog::OnPaint() { Default(); }
CIconHandle CDialog::OnQueryDragIcon() { return nullptr; }

void CDialog::DDX_Control(CControl& control, int id) { control = FindDlgItem(this, id); }
