#include "ui/download_dlg.h"

#include <QContextMenuEvent>
#include <QFileDialog>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>

#include "download/download_worker.h"
#include "download/messages.h"
#include "download/process_exit.h"
#include "res/icons.h"
#include "res/strings.h"
#include "serial/terminal_detection.h"
#include "ui/about_dlg.h"
#include "ui/help_dlg.h"
#include "ui/system_menu.h"

namespace {

constexpr unsigned kSysCommandMask = 0xFFF0;  // the window system keeps the low four bits
constexpr unsigned kScClose = 0xF060;         // the system menu's Close

}  // namespace

IconOrigin MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
  return {(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

CDownloadDlg::CDownloadDlg(QWidget* parent)
    : CDialog(IDD_MAIN, parent),
      m_hIcon(res::LoadIcon(IDI_APP)),
      m_link(std::make_unique<CQtWindowLink>(this, [this](int id) { return GetDlgItem(id); })) {}

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
  QWidget* mainWindow = GetMainWindow() != nullptr ? GetMainWindow() : this;
  QWidget* status = ::GetDlgItem(mainWindow, IDC_STATUS);

  // The About item, after a separator, when its string is there.
  const std::string_view about = res::LoadString(IDS_ABOUTBOX);
  const QString aboutText = QString::fromUtf8(about.data(), static_cast<qsizetype>(about.size()));
  if (!about.empty() && !AppendSystemMenuItem(this, aboutText, IDM_ABOUTBOX)) {
    m_systemMenu = new QMenu(this);
    m_systemMenu->addSeparator();
    QAction* item = m_systemMenu->addAction(aboutText);
    connect(item, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX, 0); });
  }

  ::SetWindowText(status, QString::fromUtf8(kStatusIdle));
  setWindowIcon(m_hIcon);
  m_downloadButton.EnableWindow(false);

  if (DetectTerminal() != DETECT_FOUND) {
    m_messagePane.SetWindowText(QString::fromUtf8(kNoTerminalMessage));
    m_browseButton.EnableWindow(false);
  } else {
    m_messagePane.SetWindowText(QString::fromUtf8(kConnectedMessage));
  }
  m_warningText.SetWindowText(QString::fromUtf8(kWarningText));
  return true;
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

void CDownloadDlg::OnSysCommand(unsigned command, long /*parameter*/) {
  if ((command & kSysCommandMask) == IDM_ABOUTBOX) {
    RunAboutBox();
  } else if ((command & kSysCommandMask) == kScClose) {
    OnClose();
  }
}

void CDownloadDlg::RunAboutBox() {
  CAboutDlg about;
  about.DoModal();
}

void CDownloadDlg::OnClose() {
  // The title bar's close, the system menu's Close and Alt+F4: the process ends here, also in
  // the middle of a download, with the port closed on the way out.
  EndProcess(0);
}

bool CDownloadDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
  unsigned command = 0;
  long parameter = 0;
  if (TranslateSysCommand(eventType, message, command, parameter) &&
      (command & kSysCommandMask) == IDM_ABOUTBOX) {
    OnSysCommand(command, parameter);
    *result = 0;
    return true;
  }
  // Every other system command (Move, Close, ...) keeps the window system's handling.
  return CDialog::nativeEvent(eventType, message, result);
}

void CDownloadDlg::contextMenuEvent(QContextMenuEvent* event) {
  if (m_systemMenu != nullptr) {
    m_systemMenu->exec(event->globalPos());
  }
}

void CDownloadDlg::paintEvent(QPaintEvent* event) {
  if (!isMinimized()) {
    CDialog::paintEvent(event);
    return;
  }
  QPainter painter(this);
  const int size = style()->pixelMetric(QStyle::PM_LargeIconSize);
  const IconOrigin at = MinimisedIconOrigin(width(), height(), size, size);
  m_hIcon.paint(&painter, at.x, at.y, size, size);
}

bool CDownloadDlg::RunFileDialog(QString& path) {
  QFileDialog dialog(GetMainWindow() != nullptr ? GetMainWindow() : this);
  dialog.setFileMode(QFileDialog::AnyFile);  // a typed name need not exist: Download says so
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilters(QString::fromUtf8(kBrowseFilter).split(QStringLiteral(";;")));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    return false;
  }
  path = dialog.selectedFiles().first();
  return true;
}

void CDownloadDlg::OnBrowse() {
  QString path;
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
