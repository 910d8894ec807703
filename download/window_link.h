// The worker's window link: the one narrow way in which the download engine changes the main
// window, by control ID, and tells a front-end which stage a download has reached.
//
// Contract:
// - Every call is synchronous: it returns once its change has been made (MessageBox: once the
//   operator has pressed OK). The engine calls from two threads, never at the same time:
//   StartDownload on the UI thread, then the worker and its transfer on the worker thread, which
//   starts only once StartDownload has returned (the start gate).
// - Where each call runs is the link's:
//   - a window's text, enable and progress changes run on the UI thread, which the caller waits
//     for: the Qt link queues them there (or runs them at once when called on the UI thread),
//     the Win32 link sends the control its message, which the UI thread handles;
//   - a box owned by the main window is shown only by StartDownload, on the UI thread, modal to
//     the main window;
//   - an ownerless box leaves the main window usable while the caller waits for OK: the Qt link
//     shows it on the UI thread, the Win32 link on the calling thread itself (MessageBoxW with
//     no owner runs its own message loop there);
//   - the command line's link (cli/console_link.h) does everything on the calling thread.
// - Texts are UTF-8 in and out on every platform, never the ANSI code page: the Qt link takes
//   them as QString, the Win32 link gives the W calls their UTF-16 (text/wide_text_win32.h).
// - Progress calls behave like the platform's progress bar (download/progress_model.h): positions
//   outside the range are clamped into it, and a 0-to-0 range shows an empty bar.
// - OnStage comes on the thread that runs the stage, as the download enters it, before that
//   stage's first change to the window. The windows take no notice of it (their status texts
//   show the stages); a front-end without those texts (the command line) prints from it.
// - The engine never keeps a control or a window of its own; it finds the main window's link
//   through GetMainWindowLink(), which the application sets when it makes its main window.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/download_stage.h"

// Who owns a message box. An ownerless box leaves the main window usable while it is shown.
enum class BoxOwner { None, MainWindow };

class CWindowLink {
 public:
  virtual ~CWindowLink() = default;

  // The control's whole text, in UTF-8.
  virtual std::string GetItemText(int id) = 0;
  virtual void SetItemText(int id, const char* text) = 0;
  virtual void EnableItem(int id, bool enable) = 0;
  virtual void SetProgressRange(int id, std::int32_t lower, std::int32_t upper) = 0;
  virtual void SetProgressStep(int id, std::int32_t step) = 0;
  virtual void SetProgressPos(int id, std::int32_t position) = 0;
  // One OK button, no icon; returns when OK has been pressed. `caption` is never null.
  virtual void MessageBox(BoxOwner owner, const char* text, const char* caption) = 0;
  // The download enters `stage` (never DownloadStage::None). Nothing to do for a window.
  virtual void OnStage(DownloadStage /*stage*/) {}
};

// The application's main window, as the engine reaches it (null before it exists).
CWindowLink* GetMainWindowLink();
void SetMainWindowLink(CWindowLink* link);

// Shows a box with the platform's captions for one without a caption of its own (null):
// the application's name for the main window's boxes, "Error" for ownerless ones.
void ShowMessageBox(CWindowLink& link, BoxOwner owner, const char* text,
                    const char* caption = nullptr);
