// The Win32 side of the worker's window link. Every change is a message sent synchronously to
// the control (SendMessage, or the calls that send one: Get/SetWindowText, EnableWindow): sent
// from the worker, the UI thread carries it out (while it pumps messages) and the worker waits
// until it is done; sent on the UI thread, the control's procedure runs at once.
// The worker's boxes have no owner and run on the calling (worker) thread, in MessageBoxW's own
// message loop, so the main window stays usable; the main window's own boxes, which only
// StartDownload shows on the UI thread, are owned by it. Texts reach the W calls as UTF-16.
#include "download/window_link.h"
#include "ui/win32/win32_window.h"

namespace {

class CWin32WindowLink : public CWindowLink {
 public:
  explicit CWin32WindowLink(CDialog& window) : m_window(window) {}

  std::string GetItemText(int id) override { return m_window.GetDlgItemText(id); }
  void SetItemText(int id, const char* text) override { m_window.SetDlgItemText(id, text); }
  void EnableItem(int id, bool enable) override { m_window.EnableDlgItem(id, enable); }
  void SetProgressRange(int id, std::int32_t lower, std::int32_t upper) override {
    ::SendMessageW(Item(id), PBM_SETRANGE32, static_cast<WPARAM>(lower),
                   static_cast<LPARAM>(upper));
  }
  void SetProgressStep(int id, std::int32_t step) override {
    ::SendMessageW(Item(id), PBM_SETSTEP, static_cast<WPARAM>(step), 0);
  }
  void SetProgressPos(int id, std::int32_t position) override {
    ::SendMessageW(Item(id), PBM_SETPOS, static_cast<WPARAM>(position), 0);
  }
  void MessageBox(BoxOwner owner, const char* text, const char* caption) override {
    // One OK button and no icon. An ownerless box is brought to the front: it comes from a
    // thread with no window of its own and would otherwise open behind the main window.
    const std::wstring wideText = Utf16(text);
    const std::wstring wideCaption = Utf16(caption);
    if (owner == BoxOwner::MainWindow) {
      ::MessageBoxW(DialogWindow(m_window), wideText.c_str(), wideCaption.c_str(), MB_OK);
    } else {
      ::MessageBoxW(nullptr, wideText.c_str(), wideCaption.c_str(), MB_OK | MB_SETFOREGROUND);
    }
  }

 private:
  HWND Item(int id) const { return DlgItem(m_window, id); }

  CDialog& m_window;
};

}  // namespace

std::unique_ptr<CWindowLink> MakeWindowLink(CDialog& window) {
  return std::make_unique<CWin32WindowLink>(window);
}
