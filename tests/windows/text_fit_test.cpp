// Every fixed text fits its control in the dialogs of the executable's resources, measured with
// the control's own font as the control draws it: statics with word breaks within their width,
// buttons on one line inside their edges.
// The resource IDs first: <windows.h> defines IDOK and IDCANCEL as macros.
#include "tests/support/fixed_texts.h"
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "tests/windows/under_wine.h"

namespace {

INT_PTR CALLBACK NoHandling(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// Wine draws the dialog font with a stand-in from the host's fonts, whatever the template asks.
HWND ChildAt(HWND dialog, int index) {
  HWND child = ::GetWindow(dialog, GW_CHILD);
  for (int i = 0; i < index && child != nullptr; ++i) child = ::GetWindow(child, GW_HWNDNEXT);
  return child;
}

class TextFit : public ::testing::TestWithParam<FixedText> {
 protected:
  // Each dialog once for the whole suite: making a window is slow under Wine.
  static HWND Dialog(int id) {
    for (const auto& [made, window] : s_dialogs) {
      if (made == id) return window;
    }
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);  // the main window's progress bar
    const HWND window = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id),
                                             nullptr, NoHandling, 0);
    s_dialogs.emplace_back(id, window);
    return window;
  }
  static void TearDownTestSuite() {
    for (const auto& [id, window] : s_dialogs) ::DestroyWindow(window);
    s_dialogs.clear();
  }

 private:
  static inline std::vector<std::pair<int, HWND>> s_dialogs;
};

TEST_P(TextFit, FitsItsControl) {
  const FixedText& row = GetParam();
  const HWND dialog = Dialog(row.dialog);
  if (dialog == nullptr && UnderWine()) {
    // A prefix whose desktop was started without a display (no DISPLAY when wineboot ran) makes
    // no windows for any later program, whatever display that program is given. CI must have
    // one: there this is a failure.
    const char* ci = std::getenv("CI");
    ASSERT_FALSE(ci != nullptr && std::string(ci) == "true") << "Wine has no display under CI";
    GTEST_SKIP() << "Wine has no display to make windows on";
  }
  ASSERT_NE(dialog, nullptr);
  const HWND control = ChildAt(dialog, row.index);
  ASSERT_NE(control, nullptr);
  char className[16] = {};
  ::GetClassNameA(control, className, sizeof className);
  const bool button = std::string(className) == "Button";
  RECT client{};
  ::GetClientRect(control, &client);
  const HDC dc = ::GetDC(control);
  const auto font = reinterpret_cast<HGDIOBJ>(::SendMessageA(control, WM_GETFONT, 0, 0));
  const HGDIOBJ old = ::SelectObject(dc, font);
  RECT needed{0, 0, client.right, 0};
  const UINT format = button ? DT_SINGLELINE : DT_WORDBREAK | DT_EXPANDTABS;
  ::DrawTextA(dc, row.text.c_str(), -1, &needed, format | DT_CALCRECT);
  ::SelectObject(dc, old);
  ::ReleaseDC(control, dc);
  if (button) {
    if (UnderWine()) GTEST_SKIP() << "Wine's stand-in font is wider than the dialog font";
    // A push button draws its caption inside its 3-D edges, with a pixel of room on each side.
    const int room = 2 * (::GetSystemMetrics(SM_CXEDGE) + 1);
    EXPECT_LE(needed.right + room, client.right) << row.text;
  } else {
    EXPECT_LE(needed.bottom, client.bottom) << row.text;
  }
}

INSTANTIATE_TEST_SUITE_P(Windows, TextFit, ::testing::ValuesIn(FixedTexts()),
                         [](const ::testing::TestParamInfo<FixedText>& param) {
                           std::string name;
                           for (char c : param.param.name) {
                             name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           }
                           return name + "_" + std::to_string(param.index);
                         });

}  // namespace
