#include "ui/help_place.h"

#include <algorithm>

namespace {

enum class Side { kRight, kLeft };

// The start of a span of `length` moved inside low..high; the low end wins when it is too long.
int Inside(int start, int length, int low, int high) {
  return std::max(low, std::min(start, high - length));
}

CRect At(int left, int top, CSize size) { return {left, top, left + size.cx, top + size.cy}; }

// Place `index` of the cascade on one side of the main window.
CRect OnSide(Side side, const CRect& mainWindow, CSize size, const CRect& work, int index,
             int step) {
  const int firstX = Inside(side == Side::kRight ? mainWindow.right : mainWindow.left - size.cx,
                            size.cx, work.left, work.right);
  const int firstY = Inside(mainWindow.top, size.cy, work.top, work.bottom);
  // How far the cascade can go away from the main window, and down, inside the work area.
  const int roomX =
      std::max(0, side == Side::kRight ? work.right - size.cx - firstX : firstX - work.left);
  const int roomY = std::max(0, work.bottom - size.cy - firstY);
  const int places = step > 0 ? std::max(roomX, roomY) / step + 1 : 1;
  const int k = index % places;
  const int dx = std::min(k * step, roomX);
  const int dy = std::min(k * step, roomY);
  return At(side == Side::kRight ? firstX + dx : firstX - dx, firstY + dy, size);
}

}  // namespace

CRect HelpWindowPlace(const CRect& mainWindow, CSize helpSize, const CRect& workArea, int index,
                      const CRect& keepClear, int step) {
  index = std::max(0, index);
  const int roomRight = workArea.right - mainWindow.right;
  const int roomLeft = mainWindow.left - workArea.left;
  const bool leftFirst =
      roomRight < helpSize.cx && (roomLeft >= helpSize.cx || roomLeft > roomRight);
  const Side first = leftFirst ? Side::kLeft : Side::kRight;
  const Side second = leftFirst ? Side::kRight : Side::kLeft;

  const CRect preferred = OnSide(first, mainWindow, helpSize, workArea, index, step);
  if (!preferred.Intersects(keepClear)) return preferred;
  const CRect other = OnSide(second, mainWindow, helpSize, workArea, index, step);
  if (!other.Intersects(keepClear)) return other;
  // Neither side clears it (a very small screen): above it, else below it.
  for (const int top : {keepClear.top - helpSize.cy, keepClear.bottom}) {
    if (top >= workArea.top && top + helpSize.cy <= workArea.bottom) {
      return At(preferred.left, top, helpSize);
    }
  }
  return preferred;
}
