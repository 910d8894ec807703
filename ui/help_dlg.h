// The help window: modeless, one more per press of Help, owned by the main window. It shows the
// help text read-only (selectable and scrollable); OK, Enter, Escape and the close box hide it,
// and a hidden help window frees itself, since it is never shown again and nothing refers to it.
// It opens beside its owner (ui/help_place.h), at the first place of the cascade that no other
// shown help window of the same owner takes. UI thread only.
#pragma once

#include "ui/dialog.h"

class CHelpDlg : public CDialog {
 public:
  explicit CHelpDlg(CWnd* parent = nullptr);
  ~CHelpDlg() override;

  CControl m_helpText;  // IDC_HELP_TEXT

 protected:
  void DoDataExchange() override;
  bool OnInitDialog() override;

 private:
  void PlaceBesideOwner();
  CWnd* Owner() const;  // the window it opens beside

  CWnd* m_owner;  // the constructor's parent; null: the application's main window
};
