// What CDialog does the same on every backend: the default command handling (OK and Cancel end
// the dialog with their own IDs, base initialisation binds the controls), the binding of a
// member to its control, and the default painting and drag icon.
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
void CDialog::OnPaint() { Default(); }
CIconHandle CDialog::OnQueryDragIcon() { return {}; }

void CDialog::DDX_Control(CControl& control, int id) { control = FindDlgItem(this, id); }
