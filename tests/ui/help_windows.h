// The help windows a window owns, found by their class (CHelpDlg has no meta-object of its own).
#pragma once

#include <QList>
#include <QWidget>

#include "ui/help_dlg.h"

inline QList<CHelpDlg*> HelpWindows(const QWidget& owner) {
  QList<CHelpDlg*> helps;
  for (CDialog* dialog : owner.findChildren<CDialog*>()) {
    if (auto* help = dynamic_cast<CHelpDlg*>(dialog)) helps << help;
  }
  return helps;
}
