// Icons drawn in code, in the sixteen colours of the classic palette with a transparent
// background. IDI_APP comes at 32 x 32 and 16 x 16, IDI_MARK at 22 x 22.
// IconImage needs no application object; LoadIcon needs a QGuiApplication (it makes pixmaps).
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <array>

namespace res {

// The sixteen colours every icon pixel is drawn from (or fully transparent).
extern const std::array<QRgb, 16> kIconPalette;

// The picture of icon `id` at `size` x `size` pixels; a null image for an unknown icon or size.
QImage IconImage(int id, int size);

// Icon `id` with all its sizes; a null icon for an unknown ID.
QIcon LoadIcon(int id);

}  // namespace res
