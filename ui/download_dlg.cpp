#include "ui/download_dlg.h"

#include "download/download_worker.h"
#include "download/messages.h"
#include "download/process_exit.h"
#include "serial/terminal_detection.h"
#include "ui/about_dlg.h"
#include "ui/help_dlg.h"

namespace {

// Browse's platform flag (overwrite prompt), to which the dialog adds its own.
constexpr unsigned kBrowseFlags = 0x0002;

}  // namespace

IconOrigin MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
  return {(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

CDownloadDlg::CDownloadDlg(CWnd* parent)
    : CDialog(IDD_MAIN, parent), m_hIcon(LoadAppIcon(IDI_APP)), m_link(MakeWindowLink(*this)) {}

CDownloadDlg::~CDownloadDlg() {
  if (GetMainWindowLink() == m_link.get()) {
    SetMainWindowLink(nullptr);
  }
}

void CDownloadDlg::DoDataExchange() {
  CDialog::DoDataExchange();
  DDX_Control(m_warningText, IDC_WARNING);
  DDX_Control(m_browseButton, IDC_BROWSE);
  DDX_Control(m_downloadButton, IDC_DOWNLOAD);
  DDX_Control(m_statusText, IDC_STATUS);
  DDX_Control(m_pathEdit, IDC_PATH);
  DDX_Control(m_messagePane, IDC_MESSAGE);
}

bool CDownloadDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  // The status line, found by its ID through the application's main window.
  CWnd* mainWindow = GetMainWindow() != nullptr ? GetMainWindow() : this;
  CControl status = FindDlgItem(mainWindow, IDC_STATUS);

  // The About item, after a separator, when there is a system menu and the item's string.
  if (CMenu* systemMenu = GetSystemMenu(false)) {
    const std::string about = LoadResourceString(IDS_ABOUTBOX);
    if (!about.empty()) {
      systemMenu->AppendSeparator();
      systemMenu->AppendItem(IDM_ABOUTBOX, about.c_str());
    }
  }

  status.SetWindowText(kStatusIdle);
  SetIcon(m_hIcon, true);
  SetIcon(m_hIcon, false);
  m_downloadButton.EnableWindow(false);

  if (DetectTerminal() != DETECT_FOUND) {
    m_messagePane.SetWindowText(kNoTerminalMessage);
    m_browseButton.EnableWindow(false);
  } else {
    m_messagePane.SetWindowText(kConnectedMessage);
  }
  m_warningText.SetWindowText(kWarningText);
  return true;  // the focus goes to the first tab stop, the path box
}

bool CDownloadDlg::OnCommand(int id) {
  switch (id) {
    case IDC_BROWSE:
      OnBrowse();
      return true;
    case IDC_DOWNLOAD:
      StartDownload();
      return true;
    case IDC_HELP_BUTTON:
      OnHelpButton();
      return true;
    default:
      return CDialog::OnCommand(id);
  }
}

void CDownloadDlg::OnSysCommand(unsigned command, long parameter) {
  if ((command & kSysCommandMask) == IDM_ABOUTBOX) {
    RunAboutBox();
  } else {
    CDialog::OnSysCommand(command, parameter);
  }
}

void CDownloadDlg::RunAboutBox() {
  CAboutDlg about;
  about.DoModal();
}

void CDownloadDlg::OnClose() {
  // The title bar's close, the system menu's Close and Alt+F4: the process ends here, also in
  // the middle of a download, with the port closed on the way out. A download whose last box
  // has just been answered is given a moment to hand back and write its record.
  Default();
  (void)WaitForDownloadEnding(kDownloadEndingWait);
  EndProcess(0);
}

void CDownloadDlg::OnPaint() {
  if (!IsIconic()) {
    Default();
    return;
  }
  CPaintDC dc(*this);
  dc.EraseIconBackground();
  int width = 0;
  int height = 0;
  GetClientSize(width, height);
  const IconOrigin at = MinimisedIconOrigin(width, height, SystemIconWidth(), SystemIconHeight());
  dc.DrawIcon(at.x, at.y, m_hIcon);
}

CIconHandle CDownloadDlg::OnQueryDragIcon() { return m_hIcon; }

bool CDownloadDlg::RunFileDialog(std::string& path) {
  CFileDialog dialog(true, nullptr, nullptr, kBrowseFlags, kBrowseFilter);
  if (dialog.DoModal() != IDOK) {
    return false;
  }
  path = dialog.GetPathName();
  return true;
}

void CDownloadDlg::OnBrowse() {
  std::string path;
  if (RunFileDialog(path)) {
    m_pathEdit.SetWindowText(path);
  }
  m_downloadButton.EnableWindow(true);
}

void CDownloadDlg::OnHelpButton() {
  // One more help window per press, owned by this window; it frees itself once closed.
  auto* help = new CHelpDlg(this);
  help->Create(IDD_HELP);
  help->ShowWindow(true);
}
