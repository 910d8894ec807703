#include "app/download_app.h"

#include "download/window_link.h"
#include "record/download_record.h"
#include "ui/dialog.h"
#include "ui/download_dlg.h"

CDownloadApp theApp;

bool CDownloadApp::InitInstance() {
  // Control containers and the 3-D control look need nothing on this platform.
  //
  // Every download leaves its record and trace for support; the window says nothing of a record
  // that could not be written.
  SetDownloadRecording("corvanel", nullptr);

  // The main window object is never destroyed: a download worker still running when the modal
  // run ends keeps its link to this window, and the process ends right after this returns. A
  // destroyed window would leave that worker calling into freed memory for the last moments.
  auto* dlg = new CDownloadDlg(nullptr);
  // The main window, as other code (and the worker, through its link) finds it.
  SetMainWindow(dlg);
  SetMainWindowLink(&dlg->Link());
  dlg->DoModal();
  return false;
}
