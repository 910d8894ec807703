#include "ui/help_dlg.h"

#include "res/help_text.h"

CHelpDlg::CHelpDlg(QWidget* parent) : CDialog(IDD_HELP, parent) { SetAutoDelete(true); }

CHelpDlg::~CHelpDlg() = default;

void CHelpDlg::DoDataExchange() {
  CDialog::DoDataExchange();
  DDX_Control(m_helpText, IDC_HELP_TEXT);
}

bool CHelpDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  const std::string_view text = res::HelpText();
  m_helpText.SetWindowText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  return true;  // the focus goes to the first tab stop, the OK button
}
