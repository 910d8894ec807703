// Dialog templates as data: the dialog's size, caption, font and styles, and each control's ID,
// kind, text, rectangle and styles. Rectangles are in dialog units (x in quarters of the dialog
// font's average character width, y in eighths of its height); ui/ turns them into pixels.
// The tables are constant and live for the whole process; FindDialogTemplate returns null for an
// unknown ID.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace res {

enum class ControlKind { Static, Edit, PushButton, ProgressBar, StaticIcon };

// Control styles that change how a control looks or behaves.
namespace ctl {
inline constexpr std::uint32_t kVisible = 1u << 0;
inline constexpr std::uint32_t kTabStop = 1u << 1;        // reached with Tab
inline constexpr std::uint32_t kGroup = 1u << 2;          // starts a group of controls
inline constexpr std::uint32_t kDefPushButton = 1u << 3;  // the button Enter presses
inline constexpr std::uint32_t kLeft = 1u << 4;      // left-aligned static text, wraps at words
inline constexpr std::uint32_t kNoPrefix = 1u << 5;  // '&' is shown, not taken as a mnemonic
inline constexpr std::uint32_t kBorder = 1u << 6;
inline constexpr std::uint32_t kMultiLine = 1u << 7;
inline constexpr std::uint32_t kReadOnly = 1u << 8;
inline constexpr std::uint32_t kVScroll = 1u << 9;       // vertical scroll bar
inline constexpr std::uint32_t kAutoVScroll = 1u << 10;  // scrolls vertically as lines are added
inline constexpr std::uint32_t kAutoHScroll = 1u << 11;  // scrolls horizontally as text is typed
inline constexpr std::uint32_t kIcon = 1u << 12;         // static showing an icon resource
inline constexpr std::uint32_t kClientEdge = 1u << 13;   // extended style: sunken edge
inline constexpr std::uint32_t kStaticEdge = 1u << 14;   // extended style: 3-D border
}  // namespace ctl

// Window styles of a dialog.
namespace dlg {
inline constexpr std::uint32_t kPopup = 1u << 0;
inline constexpr std::uint32_t kVisible = 1u << 1;  // shown as soon as it is created
inline constexpr std::uint32_t kCaption = 1u << 2;
inline constexpr std::uint32_t kSysMenu = 1u << 3;
inline constexpr std::uint32_t kModalFrame = 1u << 4;  // fixed-size dialog frame
inline constexpr std::uint32_t k3DLook = 1u << 5;
inline constexpr std::uint32_t kSetFont = 1u << 6;  // the template names its font
inline constexpr std::uint32_t kNoIdleMsg = 1u << 7;
inline constexpr std::uint32_t kAppWindow = 1u << 8;  // extended style: has a taskbar button
}  // namespace dlg

struct DluRect {
  int x;
  int y;
  int cx;
  int cy;
};

struct ControlTemplate {
  int id;  // IDC_STATIC for a control that is never addressed
  ControlKind kind;
  std::string_view text;  // UTF-8; empty for a static icon
  DluRect rect;
  std::uint32_t style;  // ctl:: flags
  int icon;             // icon resource of a static icon, else 0
};

struct DialogTemplate {
  int id;
  bool extended;  // an extended template (it may carry extended styles)
  int cx;         // client size in dialog units
  int cy;
  std::string_view caption;
  std::string_view fontName;
  int fontPointSize;
  std::uint32_t style;                        // dlg:: flags
  std::span<const ControlTemplate> controls;  // in template order, which is the tab order

  // The control with this ID, or null; IDC_STATIC never matches.
  const ControlTemplate* FindControl(int controlId) const;
};

const DialogTemplate* FindDialogTemplate(int id);

}  // namespace res
