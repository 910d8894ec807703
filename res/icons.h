// Icons drawn in code, in the sixteen colours of the classic palette with a transparent
// background. IDI_APP comes at 32 x 32 and 16 x 16, IDI_MARK at 22 x 22; for screens at 144 dpi
// (and a scale of 1.5) each also comes drawn half as large again: IDI_APP at 48 and 24, IDI_MARK
// at 33 and at the system's icon sizes 32 and 48, so that no icon is stretched.
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
