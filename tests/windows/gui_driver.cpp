// gui_driver: looks at and drives another program's windows from outside, the way an operator's
// input and eyes would, for the GUI scenarios of scripts/test-windows. It runs in the same Wine
// prefix (or Windows session) as the program and reaches its windows through User32 only.
//
// Usage: gui_driver STEP [ARGS]... [STEP [ARGS]...]...
// The steps run in order; the first that fails prints why and ends the run with exit code 1
// (2 for a usage error). Every waiting step waits for its condition up to the deadline (60 s
// unless `deadline` says otherwise) and fails when it has not come by then. Texts to compare
// take \r, \n, \t, \" and \\ as escapes; the text that settext sets is taken as it stands.
// Texts are UTF-8 here and go to and from the windows as Unicode, so a path keeps its letters
// whatever the ANSI code page is.
//
//   find CAPTION        wait for a visible top-level window with that caption; it becomes the
//                       current window (the first one found is also the main window)
//   main                the main window becomes the current window again
//   box CAPTION TEXT    wait for a message box of the main window's process with that caption
//                       and text; checks that it has one button, OK, and no icon; it becomes the
//                       current window
//   owner none|main     the current window has no owner, or the main window is its owner
//   nobox               the main window's process shows no window but the main window
//   text ID TEXT        wait until control ID of the current window has that text
//   hastext TEXT        wait until a control of the current window has that text
//   enabled ID 0|1      wait until control ID is disabled (0) or enabled (1); ID 0: the window
//   progress ID LO HI POS   wait until the progress bar ID has that range and position
//   watch ID SEQ PBAR   follow control ID's text until it reaches the last of SEQ ("A|B|C"),
//                       recording the positions of progress bar PBAR on the way; fails on a text
//                       outside SEQ or out of its order (quick texts may be missed between polls)
//   moved LO HI         the positions recorded by the last watch stayed in LO..HI, never went
//                       back, passed through a value strictly between LO and HI and ended at HI
//   click ID            post BM_CLICK to control ID (a press of that button)
//   settext ID TEXT     set control ID's text (WM_SETTEXT), e.g. a path typed into a box
//   syscommand VALUE    post WM_SYSCOMMAND with that command (hex with 0x) to the current window
//   sysmenu             open the current window's system menu as Alt+Space does, and wait
//                       until it shows
//   key VK              post a press and release of virtual key VK (hex with 0x) to the
//                       current window's thread, as the keyboard would
//   close               post WM_CLOSE to the current window (the title bar's close box)
//   gone                wait until the current window no longer exists
//   centred work|main   the current window is centred (within 3 px) in the work area, or over
//                       the main window
//   where ID            print "gui_driver: at X Y", the centre of control ID of the current window
//                       on the screen (for a click with the X pointer)
//   placed CAPTION N beside|inside ID
//                       wait until the main window's process shows N windows with that caption;
//                       each lies wholly inside the work area and covers no part of the main
//                       window's control ID, no two at one place; with `beside` none lies over
//                       the main window either
//   dump                print the current window's client size and every control
//   deadline SECONDS    the deadline of the waiting steps that follow
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "text/wide_text_win32.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kPollMs = 5;            // between two looks at a changing window
constexpr UINT kSendTimeoutMs = 30000;  // one cross-process message; Wine may ignore it
constexpr int kTextRoom = 4096;         // the longest text read back
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr const char* kDialogClass = "#32770";
constexpr const char* kMenuClass = "#32768";  // a popup menu

// The progress bar's messages, named here so that no common-controls header is needed.
constexpr UINT kPbmGetRange = WM_USER + 7;
constexpr UINT kPbmGetPos = WM_USER + 8;

struct State {
  HWND main = nullptr;
  HWND current = nullptr;
  DWORD pid = 0;
  std::chrono::milliseconds deadline{60000};
  std::vector<int> positions;  // recorded by the last watch
};

std::string Decode(const std::string& in) {
  std::string out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\' || i + 1 == in.size()) {
      out += in[i];
      continue;
    }
    const char c = in[++i];
    out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
  }
  return out;
}

std::string Show(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

LRESULT Send(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(hwnd, msg, wp, lp, SMTO_NORMAL, kSendTimeoutMs, &result)) return 0;
  return static_cast<LRESULT>(result);
}

std::string TextOf(HWND hwnd) {
  std::wstring text(kTextRoom, L'\0');
  DWORD_PTR n = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, kTextRoom, reinterpret_cast<LPARAM>(text.data()),
                           SMTO_NORMAL, kSendTimeoutMs, &n)) {
    return {};
  }
  return Utf8(std::wstring_view(text.data(), n));
}

std::string ClassOf(HWND hwnd) {
  char name[256] = {};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

std::string CaptionOf(HWND hwnd) {
  wchar_t text[1024] = {};
  GetWindowTextW(hwnd, text, 1024);
  return Utf8(text);
}

// Whether the centres of two rectangles are within 3 px of each other.
bool CentredOver(const RECT& inner, const RECT& outer, std::string& seen) {
  const long dx = (inner.left + inner.right) / 2 - (outer.left + outer.right) / 2;
  const long dy = (inner.top + inner.bottom) / 2 - (outer.top + outer.bottom) / 2;
  seen = "off by " + std::to_string(dx) + ", " + std::to_string(dy) + " px";
  return dx >= -3 && dx <= 3 && dy >= -3 && dy <= 3;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> all;
  EnumWindows(
      [](HWND hwnd, LPARAM lp) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&all));
  return all;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> all;
  for (HWND c = GetWindow(parent, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    all.push_back(c);
  }
  return all;
}

DWORD ProcessOf(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return pid;
}

// Polls `check` until it holds or the deadline passes; `check` leaves what it saw in `seen`.
bool WaitFor(const State& s, const std::function<bool(std::string& seen)>& check,
             std::string& seen) {
  const Clock::time_point end = Clock::now() + s.deadline;
  for (;;) {
    seen.clear();
    if (check(seen)) return true;
    if (Clock::now() >= end) return false;
    Sleep(kPollMs);
  }
}

// Control `id` of the current window, once it exists (a window can show before its controls).
HWND Control(const State& s, int id) {
  HWND c = nullptr;
  std::string seen;
  WaitFor(
      s,
      [&](std::string&) {
        c = GetDlgItem(s.current, id);
        return c != nullptr;
      },
      seen);
  return c;
}

// The visible message boxes of the main window's process: dialogs with the message box's text.
std::vector<HWND> MessageBoxes(const State& s) {
  std::vector<HWND> boxes;
  for (HWND w : TopLevelWindows()) {
    if (w == s.main || !IsWindowVisible(w) || ProcessOf(w) != s.pid) continue;
    if (ClassOf(w) == kDialogClass && GetDlgItem(w, kMessageBoxTextId) != nullptr) {
      boxes.push_back(w);
    }
  }
  return boxes;
}

// One OK button and no icon: the only visible button is IDOK, and no visible static holds an
// icon (Wine's box keeps a hidden icon control when there is none to show).
bool CheckBoxLayout(HWND box, std::string& why) {
  int buttons = 0;
  for (HWND c : Children(box)) {
    if (!IsWindowVisible(c)) continue;
    const std::string cls = ClassOf(c);
    if (_stricmp(cls.c_str(), "Button") == 0) {
      ++buttons;
      if (GetDlgCtrlID(c) != IDOK || TextOf(c) != "OK") {
        why =
            "a button other than OK: id " + std::to_string(GetDlgCtrlID(c)) + " " + Show(TextOf(c));
        return false;
      }
    } else if (_stricmp(cls.c_str(), "Static") == 0 && Send(c, STM_GETICON, 0, 0) != 0) {
      why = "an icon";
      return false;
    }
  }
  if (buttons != 1) {
    why = std::to_string(buttons) + " buttons";
    return false;
  }
  return true;
}

bool ParseInt(const std::string& text, long& value) {
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 0);
  return !text.empty() && *end == '\0';
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = text.find(sep, from);
    parts.push_back(text.substr(from, at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

int Fail(const std::string& step, const std::string& why) {
  std::printf("gui_driver: FAILED %s: %s\n", step.c_str(), why.c_str());
  std::fflush(stdout);
  return 1;
}

void Ok(const std::string& step) {
  std::printf("gui_driver: ok %s\n", step.c_str());
  std::fflush(stdout);
}

void Dump(HWND hwnd) {
  RECT client{};
  GetClientRect(hwnd, &client);
  RECT outer{};
  GetWindowRect(hwnd, &outer);
  std::printf("window %s class %s: client %ld x %ld px, outer %ld x %ld px\n",
              Show(CaptionOf(hwnd)).c_str(), ClassOf(hwnd).c_str(), client.right, client.bottom,
              outer.right - outer.left, outer.bottom - outer.top);
  for (HWND c : Children(hwnd)) {
    RECT r{};
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
    std::printf("  id %5d %-18s x %4ld y %4ld w %4ld h %4ld %s%s %s\n",
                static_cast<int>(static_cast<short>(GetDlgCtrlID(c))), ClassOf(c).c_str(), r.left,
                r.top, r.right - r.left, r.bottom - r.top, IsWindowVisible(c) ? "" : "hidden ",
                IsWindowEnabled(c) ? "enabled" : "disabled", Show(TextOf(c)).c_str());
  }
  std::fflush(stdout);
}

// Runs the steps in argv order; returns the exit code.
int Run(const std::vector<std::string>& args) {
  State s;
  std::size_t i = 0;
  auto need = [&](std::size_t n) { return i + n < args.size(); };
  while (i < args.size()) {
    const std::string verb = args[i];
    std::string step = verb;
    auto arg = [&](std::size_t k) { return args[i + k]; };
    std::size_t used = 0;
    std::string seen;
    long id = 0;

    if (s.current == nullptr && verb != "find" && verb != "deadline") {
      return Fail(step, "no window found yet");
    }
    if (verb == "find" && need(1)) {
      used = 1;
      const std::string caption = Decode(arg(1));
      step += " " + Show(caption);
      HWND found = nullptr;
      if (!WaitFor(
              s,
              [&](std::string&) {
                for (HWND w : TopLevelWindows()) {
                  if (IsWindowVisible(w) && CaptionOf(w) == caption) {
                    found = w;
                    return true;
                  }
                }
                return false;
              },
              seen)) {
        return Fail(step, "no such window");
      }
      s.current = found;
      if (s.main == nullptr) {
        s.main = found;
        s.pid = ProcessOf(found);
      }
    } else if (verb == "main") {
      s.current = s.main;
    } else if (verb == "box" && need(2)) {
      used = 2;
      const std::string caption = Decode(arg(1));
      const std::string text = Decode(arg(2));
      step += " " + Show(caption) + " " + Show(text);
      HWND found = nullptr;
      if (!WaitFor(
              s,
              [&](std::string& saw) {
                for (HWND w : MessageBoxes(s)) {
                  const std::string t = TextOf(GetDlgItem(w, kMessageBoxTextId));
                  if (CaptionOf(w) == caption && t == text) {
                    found = w;
                    return true;
                  }
                  saw += " " + Show(CaptionOf(w)) + ": " + Show(t);
                }
                return false;
              },
              seen)) {
        return Fail(step, seen.empty() ? "no message box" : "the boxes shown:" + seen);
      }
      std::string why;
      if (!CheckBoxLayout(found, why)) return Fail(step, why);
      s.current = found;
    } else if (verb == "owner" && need(1)) {
      used = 1;
      step += " " + arg(1);
      const HWND owner = GetWindow(s.current, GW_OWNER);
      const HWND want = arg(1) == "main" ? s.main : nullptr;
      if (owner != want) {
        return Fail(step, owner == nullptr ? "no owner" : "owned by " + Show(CaptionOf(owner)));
      }
    } else if (verb == "nobox") {
      for (HWND w : TopLevelWindows()) {
        if (w != s.main && IsWindowVisible(w) && ProcessOf(w) == s.pid) {
          return Fail(step, "a window " + Show(CaptionOf(w)) + " of class " + ClassOf(w));
        }
      }
    } else if ((verb == "text" || verb == "enabled") && need(2) && ParseInt(arg(1), id)) {
      used = 2;
      const std::string want = verb == "text" ? Decode(arg(2)) : arg(2);
      step += " " + arg(1) + " " + (verb == "text" ? Show(want) : want);
      const HWND c = id == 0 ? s.current : Control(s, static_cast<int>(id));
      if (c == nullptr) return Fail(step, "no control with that ID");
      if (!WaitFor(
              s,
              [&](std::string& saw) {
                saw = verb == "text" ? TextOf(c) : IsWindowEnabled(c) ? "1" : "0";
                return saw == want;
              },
              seen)) {
        return Fail(step, "it is " + (verb == "text" ? Show(seen) : seen));
      }
    } else if (verb == "hastext" && need(1)) {
      used = 1;
      const std::string want = Decode(arg(1));
      step += " " + Show(want);
      if (!WaitFor(
              s,
              [&](std::string&) {
                for (HWND c : Children(s.current)) {
                  if (TextOf(c) == want) return true;
                }
                return false;
              },
              seen)) {
        return Fail(step, "no control has it");
      }
    } else if (verb == "progress" && need(4) && ParseInt(arg(1), id)) {
      used = 4;
      step += " " + arg(1) + " " + arg(2) + ".." + arg(3) + " at " + arg(4);
      const HWND c = Control(s, static_cast<int>(id));
      if (c == nullptr) return Fail(step, "no control with that ID");
      const std::string want = arg(2) + ".." + arg(3) + " at " + arg(4);
      if (!WaitFor(
              s,
              [&](std::string& saw) {
                saw = std::to_string(Send(c, kPbmGetRange, TRUE, 0)) + ".." +
                      std::to_string(Send(c, kPbmGetRange, FALSE, 0)) + " at " +
                      std::to_string(Send(c, kPbmGetPos, 0, 0));
                return saw == want;
              },
              seen)) {
        return Fail(step, "it is " + seen);
      }
    } else if (verb == "watch" && need(3) && ParseInt(arg(1), id)) {
      used = 3;
      long bar = 0;
      if (!ParseInt(arg(3), bar)) return Fail(step, "bad progress bar ID " + arg(3));
      const std::vector<std::string> order = Split(Decode(arg(2)), '|');
      step += " " + arg(1) + " until " + Show(order.back());
      const HWND c = Control(s, static_cast<int>(id));
      const HWND pbar = Control(s, static_cast<int>(bar));
      if (c == nullptr || pbar == nullptr) return Fail(step, "no control with that ID");
      std::size_t at = 0;  // index in `order` of the text last seen
      std::string trail;
      bool wrong = false;
      s.positions.clear();
      const bool reached = WaitFor(
          s,
          [&](std::string&) {
            const int pos = static_cast<int>(Send(pbar, kPbmGetPos, 0, 0));
            if (s.positions.empty() || s.positions.back() != pos) s.positions.push_back(pos);
            const std::string t = TextOf(c);
            std::size_t k = at;
            while (k < order.size() && order[k] != t) ++k;
            if (k == order.size()) {
              trail += " " + Show(t) + " (unexpected)";
              wrong = true;
              return true;
            }
            if (k != at || trail.empty()) trail += " " + Show(t);
            at = k;
            return at + 1 == order.size();
          },
          seen);
      std::printf("gui_driver: texts seen:%s\n", trail.c_str());
      if (!reached || wrong) return Fail(step, reached ? "a text out of order" : "never reached");
    } else if (verb == "moved" && need(2)) {
      used = 2;
      long lo = 0;
      long hi = 0;
      if (!ParseInt(arg(1), lo) || !ParseInt(arg(2), hi)) return Fail(step, "bad range");
      step += " " + arg(1) + ".." + arg(2);
      std::string list;
      bool back = false;
      bool middle = false;
      for (std::size_t k = 0; k < s.positions.size(); ++k) {
        const long p = s.positions[k];
        list += " " + std::to_string(p);
        back = back || p < lo || p > hi || (k > 0 && p < s.positions[k - 1]);
        middle = middle || (p > lo && p < hi);
      }
      std::printf("gui_driver: positions seen:%s\n", list.c_str());
      if (back || !middle || s.positions.empty() || s.positions.back() != hi) {
        return Fail(step, "positions did not move steadily to the top");
      }
    } else if ((verb == "click" || verb == "settext") && need(verb == "click" ? 1 : 2) &&
               ParseInt(arg(1), id)) {
      used = verb == "click" ? 1 : 2;
      step += " " + arg(1);
      const HWND c = Control(s, static_cast<int>(id));
      if (c == nullptr) return Fail(step, "no control with that ID");
      if (verb == "click") {
        PostMessageA(c, BM_CLICK, 0, 0);
      } else {
        const std::string text = arg(2);  // as it stands: paths keep their backslashes
        step += " " + Show(text);
        const std::wstring wide = Utf16(text);
        DWORD_PTR done = 0;
        SendMessageTimeoutW(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()), SMTO_NORMAL,
                            kSendTimeoutMs, &done);
      }
    } else if (verb == "syscommand" && need(1) && ParseInt(arg(1), id)) {
      used = 1;
      step += " " + arg(1);
      PostMessageA(s.current, WM_SYSCOMMAND, static_cast<WPARAM>(id), 0);
    } else if (verb == "sysmenu") {
      PostMessageA(s.current, WM_SYSCOMMAND, SC_KEYMENU, ' ');
      // Keys sent before the menu is up would go to the window instead.
      const DWORD pid = ProcessOf(s.current);
      if (!WaitFor(
              s,
              [&](std::string&) {
                for (HWND w : TopLevelWindows()) {
                  if (IsWindowVisible(w) && ProcessOf(w) == pid && ClassOf(w) == kMenuClass) {
                    return true;
                  }
                }
                return false;
              },
              seen)) {
        return Fail(step, "no menu opened");
      }
    } else if (verb == "key" && need(1) && ParseInt(arg(1), id)) {
      used = 1;
      step += " " + arg(1);
      PostMessageA(s.current, WM_KEYDOWN, static_cast<WPARAM>(id), 1);
      PostMessageA(s.current, WM_KEYUP, static_cast<WPARAM>(id), 0xC0000001);
    } else if (verb == "close") {
      PostMessageA(s.current, WM_CLOSE, 0, 0);
    } else if (verb == "gone") {
      const HWND w = s.current;
      if (!WaitFor(
              s, [&](std::string&) { return !IsWindow(w); }, seen)) {
        return Fail(step, "it is still there");
      }
    } else if (verb == "centred" && need(1) && (arg(1) == "work" || arg(1) == "main")) {
      used = 1;
      step += " " + arg(1);
      RECT mine{};
      RECT around{};
      GetWindowRect(s.current, &mine);
      if (arg(1) == "main") {
        GetWindowRect(s.main, &around);
      } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoW(MonitorFromWindow(s.current, MONITOR_DEFAULTTOPRIMARY), &monitor);
        around = monitor.rcWork;
      }
      if (!CentredOver(mine, around, seen)) return Fail(step, seen);
      std::printf("gui_driver: %s seen: at %ld, %ld (%s)\n", step.c_str(), mine.left, mine.top,
                  seen.c_str());
    } else if (verb == "where" && need(1) && ParseInt(arg(1), id)) {
      used = 1;
      step += " " + arg(1);
      const HWND c = Control(s, static_cast<int>(id));
      RECT r{};
      if (c == nullptr || !GetWindowRect(c, &r)) return Fail(step, "no control with that ID");
      std::printf("gui_driver: at %ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    } else if (verb == "placed" && need(4) && ParseInt(arg(2), id) &&
               (arg(3) == "beside" || arg(3) == "inside")) {
      used = 4;
      const std::string caption = Decode(arg(1));
      const bool beside = arg(3) == "beside";
      long keep = 0;
      if (!ParseInt(arg(4), keep)) return Fail(step, "bad control ID " + arg(4));
      step += " " + Show(caption) + " " + arg(2) + " " + arg(3) + " " + arg(4);
      RECT mainRect{};
      RECT keepRect{};
      GetWindowRect(s.main, &mainRect);
      const HWND kept = GetDlgItem(s.main, static_cast<int>(keep));
      if (kept == nullptr || !GetWindowRect(kept, &keepRect)) {
        return Fail(step, "the main window has no control " + arg(4));
      }
      MONITORINFO monitor{};
      monitor.cbSize = sizeof monitor;
      GetMonitorInfoW(MonitorFromWindow(s.main, MONITOR_DEFAULTTOPRIMARY), &monitor);
      const RECT work = monitor.rcWork;
      auto show = [](const RECT& r) {
        return std::to_string(r.left) + "," + std::to_string(r.top) + " " +
               std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
      };
      if (!WaitFor(
              s,
              [&](std::string& saw) {
                std::vector<RECT> places;
                for (HWND w : TopLevelWindows()) {
                  RECT r{};
                  if (IsWindowVisible(w) && ProcessOf(w) == s.pid && CaptionOf(w) == caption &&
                      GetWindowRect(w, &r)) {
                    places.push_back(r);
                  }
                }
                saw = std::to_string(places.size()) + " windows:";
                bool ok = static_cast<long>(places.size()) == id;
                RECT common{};
                for (std::size_t a = 0; a < places.size(); ++a) {
                  const RECT& r = places[a];
                  saw += " " + show(r);
                  const bool inside = r.left >= work.left && r.top >= work.top &&
                                      r.right <= work.right && r.bottom <= work.bottom;
                  const bool overHelp = IntersectRect(&common, &r, &keepRect) != FALSE;
                  const bool overMain = IntersectRect(&common, &r, &mainRect) != FALSE;
                  if (!inside) saw += " (outside the work area)";
                  if (overHelp) saw += " (over the control)";
                  if (beside && overMain) saw += " (over the main window)";
                  ok = ok && inside && !overHelp && !(beside && overMain);
                  for (std::size_t b = 0; b < a; ++b) {
                    if (places[b].left == r.left && places[b].top == r.top) {
                      saw += " (at one place with another)";
                      ok = false;
                    }
                  }
                }
                saw += "; main " + show(mainRect) + ", control " + show(keepRect) + ", work area " +
                       show(work);
                return ok;
              },
              seen)) {
        return Fail(step, seen);
      }
      std::printf("gui_driver: %s seen: %s\n", step.c_str(), seen.c_str());
    } else if (verb == "dump") {
      Dump(s.current);
    } else if (verb == "deadline" && need(1) && ParseInt(arg(1), id) && id > 0) {
      used = 1;
      step += " " + arg(1);
      s.deadline = std::chrono::seconds(id);
    } else {
      std::printf("gui_driver: bad step at '%s' (see the head of gui_driver.cpp)\n", verb.c_str());
      return 2;
    }
    Ok(step);
    i += used + 1;
  }
  return 0;
}

}  // namespace

int main() {
  // The wide command line, split by the system: no wildcard expansion of texts like "*.LDR".
  int argc = 0;
  LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int k = 1; k < argc; ++k) {
    args.push_back(Utf8(wargv[k]));
  }
  LocalFree(wargv);
  if (args.empty()) {
    std::printf("Usage: gui_driver STEP [ARGS]... (see the head of gui_driver.cpp)\n");
    return 2;
  }
  return Run(args);
}
