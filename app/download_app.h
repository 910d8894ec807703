// The application object: the one entry into the tool's own logic. Its initialisation runs the
// main window modally; the program lives as long as that window.
#pragma once

class CDownloadApp {
 public:
  CDownloadApp() = default;
  virtual ~CDownloadApp() = default;
  CDownloadApp(const CDownloadApp&) = delete;
  CDownloadApp& operator=(const CDownloadApp&) = delete;

  // Runs the main window modally and returns false, so that the application ends at once.
  virtual bool InitInstance();
};

// The one application object.
extern CDownloadApp theApp;
