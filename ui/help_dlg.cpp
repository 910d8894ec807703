#include "ui/help_dlg.h"

#include <algorithm>
#include <string>
#include <vector>

#include "res/help_text.h"
#include "ui/help_place.h"

namespace {
// The help windows that exist, for finding the places taken (UI thread only).
std::vector<CHelpDlg*>& HelpWindows() {
  static std::vector<CHelpDlg*> windows;
  return windows;
}
}  // namespace

CHelpDlg::CHelpDlg(CWnd* parent) : CDialog(IDD_HELP, parent), m_owner(parent) {
  SetAutoDelete(true);
  HelpWindows().push_back(this);
}

CHelpDlg::~CHelpDlg() { std::erase(HelpWindows(), this); }

void CHelpDlg::DoDataExchange() {
  CDialog::DoDataExchange();
  DDX_Control(m_helpText, IDC_HELP_TEXT);
}

bool CHelpDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  m_helpText.SetWindowText(std::string(res::HelpText()));
  PlaceBesideOwner();
  return true;  // the focus goes to the first tab stop, the OK button
}

CWnd* CHelpDlg::Owner() const { return m_owner != nullptr ? m_owner : GetMainWindow(); }

void CHelpDlg::PlaceBesideOwner() {
  CWnd* owner = Owner();
  if (owner == nullptr || owner == this || !owner->IsWindowVisible()) return;
  const CRect ownerRect = owner->GetWindowRect();
  const CRect mine = GetWindowRect();
  const CRect work = owner->GetWorkArea();
  const CRect helpButton = owner->GetDlgItemRect(IDC_HELP_BUTTON);
  const CSize size{mine.Width(), mine.Height()};
  std::vector<CRect> taken;
  for (const CHelpDlg* other : HelpWindows()) {
    if (other != this && other->Owner() == owner && other->IsWindowVisible()) {
      taken.push_back(other->GetWindowRect());
    }
  }
  // The first place no shown help window takes; when the cascade has come round to taken places
  // only, the last one tried.
  CRect at;
  for (std::size_t index = 0; index <= taken.size(); ++index) {
    at = HelpWindowPlace(ownerRect, size, work, static_cast<int>(index), helpButton,
                         SystemCascadeStep());
    const bool free = std::none_of(taken.begin(), taken.end(), [&at](const CRect& rect) {
      return rect.left == at.left && rect.top == at.top;
    });
    if (free) break;
  }
  SetWindowPos(at.left, at.top);
}
