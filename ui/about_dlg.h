// The About box: modal over the main window, its two lines and OK button straight from its
// template.
#pragma once

#include "ui/dialog.h"

class CAboutDlg : public CDialog {
 public:
  CAboutDlg();
  ~CAboutDlg() override;
};
