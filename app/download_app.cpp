#include "app/download_app.h"

#include "download/window_link.h"
#include "ui/dialog.h"
#include "ui/download_dlg.h"

CDownloadApp theApp;

bool CDownloadApp::InitInstance() {
  // Control containers and the 3-D control look need nothing on this platform.
  CDownloadDlg dlg(nullptr);
  // The main window, as other code (and the worker, through its link) finds it.
  SetMainWindow(&dlg);
  SetMainWindowLink(&dlg.Link());
  dlg.DoModal();
  SetMainWindowLink(nullptr);
  SetMainWindow(nullptr);
  return false;
}
