// Numbered resources: dialog templates, controls, strings, icons and menu commands.
// IDs of controls are unique within their own dialog only (IDC_PATH and IDC_HELP_TEXT share 1000).
#pragma once

// Dialog templates.
inline constexpr int IDD_ABOUT = 100;
inline constexpr int IDD_MAIN = 102;
inline constexpr int IDD_HELP = 103;

// Strings.
inline constexpr int IDS_ABOUTBOX = 101;  // the About item of the main window's system menu

// Icons.
inline constexpr int IDI_APP = 128;   // application icon, 32 x 32 and 16 x 16
inline constexpr int IDI_MARK = 140;  // the mark beside the warning heading, 22 x 22

// System-menu command of the About item; the window system keeps the low four bits for itself.
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;
// What of a system command is the command; the low four bits are the window system's.
inline constexpr unsigned kSysCommandMask = 0xFFF0;

// Commands every dialog knows, and the identifier of controls that are never addressed.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_STATIC = -1;

// Main window controls: the download engine changes them by these numbers, so they are
// declared once, with the engine.
#include "download/control_ids.h"
// The numbers themselves are the resources' contract with the window system.
// NOLINTBEGIN(readability-magic-numbers)
static_assert(IDC_PATH == 1000 && IDC_BROWSE == 1001 && IDC_DOWNLOAD == 1002 &&
              IDC_PROGRESS == 1004 && IDC_STATUS == 1012 && IDC_HELP_BUTTON == 1013 &&
              IDC_MESSAGE == 1019 && IDC_WARNING == 1026);
// NOLINTEND(readability-magic-numbers)

// Help window controls.
inline constexpr int IDC_HELP_TEXT = 1000;
