// The About box: modal, its two lines and OK button straight from its template.
#pragma once

#include "ui/dialog.h"

class CAboutDlg : public CDialog {
  Q_OBJECT

 public:
  CAboutDlg();
  ~CAboutDlg() override;
};
