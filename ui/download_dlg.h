// The main window: the path box and Browse, the Download button, the progress bar and status
// line, the message pane, the warning, Help and Close. It runs terminal detection while it
// initialises, before it is first shown, and hands the Download button to StartDownload.
//
// Closing it with Close, Enter or Escape ends its modal run; closing it from the title bar
// ends the process at once with exit code 0, also during a download. The About item of the
// system menu goes through OnSysCommand (on Linux the menu is the window's context menu).
#pragma once

#include <memory>
#include <string>

#include "download/window_link.h"
#include "ui/dialog.h"

// Where the minimised window draws its icon: centred, the division truncating toward zero.
struct IconOrigin {
  int x;
  int y;
};
IconOrigin MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

class CDownloadDlg : public CDialog {
 public:
  explicit CDownloadDlg(CWnd* parent = nullptr);
  ~CDownloadDlg() override;

  // The window link through which the download engine changes this window.
  CWindowLink& Link() { return *m_link; }

  // A system command: the About item when (command AND 0xFFF0) is IDM_ABOUTBOX.
  void OnSysCommand(unsigned command, long parameter) override;
  bool OnCommand(int id) override;

  CControl m_warningText;     // IDC_WARNING
  CControl m_browseButton;    // IDC_BROWSE
  CControl m_downloadButton;  // IDC_DOWNLOAD
  CControl m_statusText;      // IDC_STATUS
  CControl m_pathEdit;        // IDC_PATH
  CControl m_messagePane;     // IDC_MESSAGE
  CIconHandle m_hIcon;        // the application icon; shared, never freed

 protected:
  void DoDataExchange() override;
  bool OnInitDialog() override;
  void OnClose() override;
  void OnPaint() override;
  CIconHandle OnQueryDragIcon() override;

  void OnBrowse();
  void OnHelpButton();
  // Runs the open-file dialog; true and the chosen file's full path when one was chosen.
  virtual bool RunFileDialog(std::string& path);
  // Runs the About box modally.
  virtual void RunAboutBox();

 private:
  std::unique_ptr<CWindowLink> m_link;
};
