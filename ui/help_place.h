// Where a help window opens: beside the main window, not over it, since the help is a procedure
// the operator follows while using the main window. Pure geometry in screen pixels (outer
// window rectangles), the same for both backends; CHelpDlg applies it.
#pragma once

#include "ui/dialog.h"

// The outer rectangle of the help window at cascade place `index` (0 the first place, 1 the
// next, ...), `helpSize` big, beside `mainWindow`:
// - on its right when the work area has room there, else on its left; when neither side has
//   room, on the side with more, pushed inside the work area (over part of the main window);
// - further places step `step` pixels down and away from the main window (down only once the
//   work area's edge is reached) and start again at the first place when the next would leave
//   the work area;
// - a place that would cover `keepClear` (the main window's Help button) goes to the other side,
//   else above or below it, when one of those does not;
// - every place lies wholly inside `workArea` (its top-left corner does when the window is
//   larger than the work area).
CRect HelpWindowPlace(const CRect& mainWindow, CSize helpSize, const CRect& workArea, int index,
                      const CRect& keepClear, int step);
