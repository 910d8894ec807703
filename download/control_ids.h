// Numeric IDs of the main window's controls that the download engine changes. The window
// templates use the same numbers; the engine knows the window only by these.
#pragma once

inline constexpr int IDC_PATH = 1000;      // path box
inline constexpr int IDC_BROWSE = 1001;    // Browse button
inline constexpr int IDC_DOWNLOAD = 1002;  // Download button
inline constexpr int IDC_PROGRESS = 1004;  // progress bar
inline constexpr int IDC_STATUS = 1012;    // status line
inline constexpr int IDC_HELP_BUTTON = 1013;
inline constexpr int IDC_MESSAGE = 1019;  // message pane
inline constexpr int IDC_WARNING = 1026;
