#include "res/icons.h"

#include "res/resource.h"

namespace res {

const std::array<QRgb, 16> kIconPalette = {
    0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080, 0xFF008080, 0xFFC0C0C0,
    0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00, 0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF,
};

namespace {

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kGreen = 0xFF008000;
constexpr QRgb kNavy = 0xFF000080;
constexpr QRgb kSilver = 0xFFC0C0C0;
constexpr QRgb kGray = 0xFF808080;
constexpr QRgb kLime = 0xFF00FF00;
constexpr QRgb kYellow = 0xFFFFFF00;
constexpr QRgb kWhite = 0xFFFFFFFF;

QImage BlankImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  return image;
}

// Hard-edged filled rectangle: no antialiasing, so that every pixel stays in the palette.
void Fill(QImage& image, int x, int y, int cx, int cy, QRgb colour) {
  for (int row = y; row < y + cy; ++row) {
    for (int col = x; col < x + cx; ++col) image.setPixel(col, row, colour);
  }
}

// A framed box: black outline, `face` inside, white top-left and gray bottom-right bevel.
void Box(QImage& image, int x, int y, int cx, int cy, QRgb face) {
  Fill(image, x, y, cx, cy, kBlack);
  Fill(image, x + 1, y + 1, cx - 2, cy - 2, face);
  Fill(image, x + 1, y + 1, cx - 2, 1, kWhite);
  Fill(image, x + 1, y + 1, 1, cy - 2, kWhite);
  Fill(image, x + 1, y + cy - 2, cx - 2, 1, kGray);
  Fill(image, x + cx - 2, y + 1, 1, cy - 2, kGray);
}

// A downward arrow centred on column `centre`, in `colour` with a black outline: the software
// going into the handset.
void DownArrow(QImage& image, int centre, int top, int shaftHalf, int shaftLength, int headHalf,
               QRgb colour) {
  const int headTop = top + shaftLength;
  // Outline first, one pixel wider all round, then the body inside it.
  Fill(image, centre - shaftHalf - 1, top - 1, 2 * shaftHalf + 3, shaftLength + 1, kBlack);
  for (int row = 0; row <= headHalf; ++row) {
    const int half = headHalf - row;
    Fill(image, centre - half, headTop + row, 2 * half + 1, 1, kBlack);
  }
  Fill(image, centre - shaftHalf, top, 2 * shaftHalf + 1, shaftLength, colour);
  for (int row = 0; row < headHalf; ++row) {
    const int half = headHalf - row - 1;
    Fill(image, centre - half, headTop + row, 2 * half + 1, 1, colour);
  }
}

// IDI_APP: a silver handset with a navy display showing a progress bar, and a green arrow
// that brings the new software down into it.
QImage AppImage32() {
  QImage image = BlankImage(32);
  Box(image, 6, 2, 16, 28, kSilver);
  Fill(image, 11, 4, 6, 1, kBlack);    // earpiece
  Fill(image, 9, 7, 10, 8, kBlack);    // display frame
  Fill(image, 10, 8, 8, 6, kNavy);     // display
  Fill(image, 11, 12, 5, 1, kLime);    // progress on the display
  for (int row = 0; row < 4; ++row) {  // keypad, three by four
    for (int col = 0; col < 3; ++col) Fill(image, 9 + 4 * col, 17 + 3 * row, 3, 2, kGray);
  }
  DownArrow(image, 26, 3, 1, 9, 4, kGreen);
  return image;
}

QImage AppImage16() {
  QImage image = BlankImage(16);
  Box(image, 2, 1, 9, 14, kSilver);
  Fill(image, 4, 3, 5, 4, kNavy);      // display
  Fill(image, 5, 5, 2, 1, kLime);      // progress on the display
  for (int row = 0; row < 3; ++row) {  // keypad
    for (int col = 0; col < 3; ++col) Fill(image, 4 + 2 * col, 8 + 2 * row, 1, 1, kBlack);
  }
  DownArrow(image, 13, 2, 0, 5, 2, kGreen);
  return image;
}

// IDI_MARK: a yellow warning triangle with a black rim and a black exclamation mark, symmetric
// about the middle of the 22-pixel square.
QImage MarkImage22() {
  constexpr int kSize = 22;
  constexpr int kTop = 1;
  constexpr int kBottom = 20;
  QImage image = BlankImage(kSize);
  for (int row = kTop; row <= kBottom; ++row) {
    const int half = 1 + (row - kTop) * (kSize / 2 - 1) / (kBottom - kTop);
    const int left = kSize / 2 - half;
    Fill(image, left, row, 2 * half, 1, kBlack);
    if (row > kTop + 1 && row < kBottom) Fill(image, left + 1, row, 2 * half - 2, 1, kYellow);
  }
  Fill(image, 10, 7, 2, 8, kBlack);   // the stroke
  Fill(image, 10, 16, 2, 2, kBlack);  // the dot
  return image;
}

}  // namespace

QImage IconImage(int id, int size) {
  if (id == IDI_APP && size == 32) return AppImage32();
  if (id == IDI_APP && size == 16) return AppImage16();
  if (id == IDI_MARK && size == 22) return MarkImage22();
  return {};
}

QIcon LoadIcon(int id) {
  QIcon icon;
  for (int size : {32, 22, 16}) {
    const QImage image = IconImage(id, size);
    if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

}  // namespace res
