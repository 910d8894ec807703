// The main window: the path box and Browse, the Download button, the progress bar and status
// line, the message pane, the warning, Help and Close. It runs terminal detection while it
// initialises, before it is first shown, and hands the Download button to StartDownload.
//
// Closing it with Close, Enter or Escape ends its modal run; closing it from the title bar
// ends the process at once with exit code 0, also during a download. The system menu's About
// item is offered by the window's context menu here and goes through OnSysCommand.
#pragma once

#include <QIcon>
#include <QString>
#include <memory>

#include "ui/dialog.h"
#include "ui/qt_window_link.h"

class QMenu;

// Where the minimised window draws its icon: centred, the division truncating toward zero.
struct IconOrigin {
  int x;
  int y;
};
IconOrigin MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

class CDownloadDlg : public CDialog {
  Q_OBJECT

 public:
  explicit CDownloadDlg(QWidget* parent = nullptr);
  ~CDownloadDlg() override;

  // The window link through which the download engine changes this window.
  CQtWindowLink& Link() { return *m_link; }

  // A system command: the About item when (command AND 0xFFF0) is IDM_ABOUTBOX.
  virtual void OnSysCommand(unsigned command, long parameter);
  bool OnCommand(int id) override;

  CControl m_warningText;     // IDC_WARNING
  CControl m_browseButton;    // IDC_BROWSE
  CControl m_downloadButton;  // IDC_DOWNLOAD
  CControl m_statusText;      // IDC_STATUS
  CControl m_pathEdit;        // IDC_PATH
  CControl m_messagePane;     // IDC_MESSAGE
  QIcon m_hIcon;

  // The About item offered by the context menu where the window system's own menu cannot
  // carry it; null when IDS_ABOUTBOX is empty or the real system menu took the item.
  QMenu* SystemMenu() const { return m_systemMenu; }

 protected:
  void DoDataExchange() override;
  bool OnInitDialog() override;
  void OnClose() override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

  void OnBrowse();
  void OnHelpButton();
  // Runs the open-file dialog; true and the chosen file's full path when one was chosen.
  virtual bool RunFileDialog(QString& path);
  // Runs the About box modally.
  virtual void RunAboutBox();

 private:
  std::unique_ptr<CQtWindowLink> m_link;
  QMenu* m_systemMenu = nullptr;
};
