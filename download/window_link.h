// The worker's window link: the one narrow way in which the download engine changes the main
// window, by control ID.
//
// Contract:
// - Every call is synchronous: it returns when the window has been changed (MessageBox: when
//   the operator has pressed OK). Calls may come from the UI thread or from the worker; an
//   implementation carries them out on the UI thread either way.
// - Progress calls behave like the platform's progress bar: positions outside the range are
//   clamped into it, and a 0-to-0 range shows an empty bar.
// - The engine never keeps a control or a window of its own; it finds the main window's link
//   through GetMainWindowLink(), which the application sets when it makes its main window.
#pragma once

#include <cstdint>
#include <string>

// Who owns a message box. An ownerless box leaves the main window usable while it is shown.
enum class BoxOwner { None, MainWindow };

class CWindowLink {
 public:
  virtual ~CWindowLink() = default;

  // The control's whole text as bytes of the platform's encoding (UTF-8 here).
  virtual std::string GetItemText(int id) = 0;
  virtual void SetItemText(int id, const char* text) = 0;
  virtual void EnableItem(int id, bool enable) = 0;
  virtual void SetProgressRange(int id, std::int32_t lower, std::int32_t upper) = 0;
  virtual void SetProgressStep(int id, std::int32_t step) = 0;
  virtual void SetProgressPos(int id, std::int32_t position) = 0;
  // One OK button, no icon; returns when OK has been pressed. `caption` is never null.
  virtual void MessageBox(BoxOwner owner, const char* text, const char* caption) = 0;
};

// The application's main window, as the engine reaches it (null before it exists).
CWindowLink* GetMainWindowLink();
void SetMainWindowLink(CWindowLink* link);

// Shows a box with the platform's captions for one without a caption of its own (null):
// the application's name for the main window's boxes, "Error" for ownerless ones.
void ShowMessageBox(CWindowLink& link, BoxOwner owner, const char* text,
                    const char* caption = nullptr);
