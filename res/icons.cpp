#include "res/icons.h"

#include <algorithm>

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

// Design coordinates scaled to an icon size: the 32- and 16-pixel designs are drawn at half as
// large again (48 and 24 pixels, the sizes at 144 dpi) with every edge on a whole pixel, so
// the larger icons stay as sharp as the small ones instead of being stretched.
struct Scale {
  int num;
  int den;
  int operator()(int v) const { return (v * num + den / 2) / den; }
  // A length from `v` on, so that adjacent shapes stay adjacent once scaled.
  int Span(int v, int length) const { return (*this)(v + length) - (*this)(v); }
};

void FillScaled(QImage& image, const Scale& k, int x, int y, int cx, int cy, QRgb colour) {
  Fill(image, k(x), k(y), k.Span(x, cx), k.Span(y, cy), colour);
}

// IDI_APP: a silver handset with a navy display showing a progress bar, and a green arrow
// that brings the new software down into it.
QImage AppImage32(const Scale& k) {
  QImage image = BlankImage(k(32));
  Box(image, k(6), k(2), k.Span(6, 16), k.Span(2, 28), kSilver);
  FillScaled(image, k, 11, 4, 6, 1, kBlack);  // earpiece
  FillScaled(image, k, 9, 7, 10, 8, kBlack);  // display frame
  FillScaled(image, k, 10, 8, 8, 6, kNavy);   // display
  FillScaled(image, k, 11, 12, 5, 1, kLime);  // progress on the display
  for (int row = 0; row < 4; ++row) {         // keypad, three by four
    for (int col = 0; col < 3; ++col) FillScaled(image, k, 9 + 4 * col, 17 + 3 * row, 3, 2, kGray);
  }
  DownArrow(image, k(26), k(3), k(1), k(9), k(4), kGreen);
  return image;
}

QImage AppImage16(const Scale& k) {
  QImage image = BlankImage(k(16));
  Box(image, k(2), k(1), k.Span(2, 9), k.Span(1, 14), kSilver);
  FillScaled(image, k, 4, 3, 5, 4, kNavy);  // display
  FillScaled(image, k, 5, 5, 2, 1, kLime);  // progress on the display
  for (int row = 0; row < 3; ++row) {       // keypad
    for (int col = 0; col < 3; ++col) FillScaled(image, k, 4 + 2 * col, 8 + 2 * row, 1, 1, kBlack);
  }
  DownArrow(image, k(13), k(2), k(0), k(5), k(2), kGreen);
  return image;
}

// IDI_MARK: a yellow warning triangle with a black rim and a black exclamation mark, symmetric
// about the middle of its square. The 22-pixel design, drawn afresh at each size (33 for a
// 1.5 scale; 32 and 48, the system's icon size at 96 and 144 dpi) with rims and strokes of whole
// pixels, never stretched.
QImage MarkImage(int size) {
  constexpr int kDesign = 22;
  const Scale k{size, kDesign};
  const int rim = std::max(1, k(1));
  const int top = k(1);
  const int bottom = size - 1 - k(1);
  QImage image = BlankImage(size);
  for (int row = top; row <= bottom; ++row) {
    const int half = 1 + (row - top) * (size / 2 - 1) / (bottom - top);
    const int left = size / 2 - half;
    const int width = size - 2 * left;
    Fill(image, left, row, width, 1, kBlack);
    if (row >= top + 2 * rim && row <= bottom - rim && width > 2 * rim) {
      Fill(image, left + rim, row, width - 2 * rim, 1, kYellow);
    }
  }
  // The stroke and the dot: two design pixels wide, an odd width on an odd square so that they
  // stay centred.
  const int stroke = size % 2 == 0 ? 2 * std::max(1, k(1)) : 2 * std::max(1, k(1)) - 1;
  const int x = (size - stroke) / 2;
  Fill(image, x, k(7), stroke, k.Span(7, 8), kBlack);    // the stroke
  Fill(image, x, k(16), stroke, k.Span(16, 2), kBlack);  // the dot
  return image;
}

}  // namespace

QImage IconImage(int id, int size) {
  constexpr Scale kSame{1, 1};
  constexpr Scale kHalfAgain{3, 2};
  if (id == IDI_APP && size == 32) return AppImage32(kSame);
  if (id == IDI_APP && size == 48) return AppImage32(kHalfAgain);
  if (id == IDI_APP && size == 16) return AppImage16(kSame);
  if (id == IDI_APP && size == 24) return AppImage16(kHalfAgain);
  if (id == IDI_MARK && (size == 22 || size == 32 || size == 33 || size == 48)) {
    return MarkImage(size);
  }
  return {};
}

QIcon LoadIcon(int id) {
  QIcon icon;
  // The design size of each icon first (22 for IDI_MARK, 32 for IDI_APP: what a static icon
  // shows), then the others, which a scaled screen draws from.
  for (int size : {22, 32, 16, 33, 48, 24}) {
    const QImage image = IconImage(id, size);
    if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

}  // namespace res
