#include "res/templates.h"

#include "res/resource.h"

namespace res {
namespace {

using ControlKind::Edit;
using ControlKind::ProgressBar;
using ControlKind::PushButton;
using ControlKind::Static;
using ControlKind::StaticIcon;
using namespace ctl;

constexpr std::string_view kDialogFont = "MS Sans Serif";
constexpr int kDialogFontPoints = 8;

// The main window. No button is the default one: Enter means IDOK unless a button has the focus.
constexpr ControlTemplate kMainControls[] = {
    {IDC_STATIC,
     Static,
     "Enter the location of the Volk handcell software file (*.LDR)",
     {14, 3, 234, 12},
     kVisible | kLeft | kGroup,
     0},
    {IDC_PATH, Edit, "", {15, 18, 182, 14}, kVisible | kBorder | kTabStop | kAutoHScroll, 0},
    {IDC_BROWSE, PushButton, "Browse", {229, 17, 50, 14}, kVisible | kTabStop, 0},
    {IDC_DOWNLOAD,
     PushButton,
     "Download software to handset",
     {16, 193, 110, 14},
     kVisible | kTabStop,
     0},
    {IDC_PROGRESS, ProgressBar, "Progress1", {15, 233, 263, 14}, kVisible | kBorder, 0},
    {IDC_MESSAGE, Static, "", {15, 134, 264, 50}, kVisible | kLeft | kGroup, 0},
    {IDC_STATUS, Static, "", {15, 219, 181, 8}, kVisible | kLeft | kGroup, 0},
    {IDC_HELP_BUTTON, PushButton, "Help", {15, 264, 50, 14}, kVisible | kTabStop, 0},
    {IDOK, PushButton, "Close", {229, 267, 50, 14}, kVisible | kTabStop, 0},
    {IDC_STATIC, StaticIcon, "", {233, 40, 20, 20}, kVisible | kIcon, IDI_MARK},
    {IDC_STATIC, StaticIcon, "", {18, 40, 20, 20}, kVisible | kIcon, IDI_MARK},
    {IDC_STATIC,
     Static,
     "PLEASE READ CAREFULLY BEFORE PROCEDING",
     {46, 47, 180, 10},
     kVisible | kLeft | kGroup,
     0},
    {IDC_WARNING, Static, "Static", {26, 66, 251, 66}, kVisible | kLeft | kGroup, 0},
};

constexpr ControlTemplate kHelpControls[] = {
    {IDOK, PushButton, "OK", {121, 241, 50, 14}, kVisible | kDefPushButton | kTabStop, 0},
    {IDC_HELP_TEXT,
     Edit,
     "",
     {9, 7, 312, 229},
     kVisible | kMultiLine | kReadOnly | kVScroll | kAutoVScroll | kBorder | kTabStop |
         kClientEdge | kStaticEdge,
     0},
};

constexpr ControlTemplate kAboutControls[] = {
    {IDC_STATIC,
     Static,
     "Tarvenix ISDN Handset Software Upgrade via USB  Version 1.6.7",
     {7, 10, 221, 8},
     kVisible | kNoPrefix | kGroup,
     0},
    {IDC_STATIC, Static, "Copyright (C) 2026", {40, 25, 119, 8}, kVisible | kLeft | kGroup, 0},
    {IDOK, PushButton, "OK", {171, 21, 50, 14}, kVisible | kDefPushButton | kGroup | kTabStop, 0},
};

constexpr std::uint32_t kDialogFrame =
    dlg::kPopup | dlg::kCaption | dlg::kSysMenu | dlg::kModalFrame | dlg::kSetFont;

const DialogTemplate kTemplates[] = {
    {IDD_MAIN, true, 287, 289, "Tarvenix ISDN Software Upgrade via USB", kDialogFont,
     kDialogFontPoints,
     kDialogFrame | dlg::kVisible | dlg::k3DLook | dlg::kNoIdleMsg | dlg::kAppWindow,
     kMainControls},
    {IDD_HELP, true, 325, 263, "Help", kDialogFont, kDialogFontPoints, kDialogFrame, kHelpControls},
    {IDD_ABOUT, false, 235, 55, "About Corvanel", kDialogFont, kDialogFontPoints, kDialogFrame,
     kAboutControls},
};

}  // namespace

const ControlTemplate* DialogTemplate::FindControl(int controlId) const {
  if (controlId == IDC_STATIC) return nullptr;
  for (const ControlTemplate& control : controls) {
    if (control.id == controlId) return &control;
  }
  return nullptr;
}

const DialogTemplate* FindDialogTemplate(int id) {
  for (const DialogTemplate& dialog : kTemplates) {
    if (dialog.id == id) return &dialog;
  }
  return nullptr;
}

}  // namespace res
