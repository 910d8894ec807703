// CDialog's default command handling, the same on every backend: OK and Cancel end the dialog
// with their own IDs, and base initialisation binds the controls.
#include "ui/dialog.h"

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
