#include "ui/help_dlg.h"

#include <string>

#include "res/help_text.h"

CHelpDlg::CHelpDlg(CWnd* parent) : CDialog(IDD_HELP, parent) { SetAutoDelete(true); }

CHelpDlg::~CHelpDlg() = default;

void CHelpDlg::DoDataExchange() {
  CDialog::DoDataExchange();
  DDX_Control(m_helpText, IDC_HELP_TEXT);
}

bool CHelpDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  m_helpText.SetWindowText(std::string(res::HelpText()));
  return true;  // the focus goes to the first tab stop, the OK button
}
