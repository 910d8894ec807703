// The help windows a window owns, found by their dialogs' class.
#pragma once

#include <QDialog>
#include <QList>

#include "ui/help_dlg.h"
#include "ui/qt/qt_window.h"

inline QList<CHelpDlg*> HelpWindows(const CDialog& owner) {
  QList<CHelpDlg*> helps;
  for (const QDialog* window : QtWindow(owner)->findChildren<QDialog*>()) {
    if (auto* help = dynamic_cast<CHelpDlg*>(DialogOfWindow(window))) helps << help;
  }
  return helps;
}
