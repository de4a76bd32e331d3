#include "gui/QrPicture.h"

#include <QPainter>
#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kModules = 29;  // a version 3 code

bool InFinder(int aRow, int aColumn, int& aRing) {
  for (auto [top, left] : {std::pair{0, 0}, std::pair{0, kModules - 7}, std::pair{kModules - 7, 0}}) {
    int r = aRow - top, c = aColumn - left;
    if (r >= -1 && r <= 7 && c >= -1 && c <= 7) {
      aRing = std::max(std::abs(2 * r - 6), std::abs(2 * c - 6)) / 2;  // 0 centre .. 4 white border
      return true;
    }
  }
  return false;
}

}  // namespace

QPixmap QrPlaceholderPicture(int aSize) {
  QPixmap picture(aSize, aSize);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  const int quiet = 2;
  const double module = double(aSize) / (kModules + 2 * quiet);
  uint32_t noise = 0x2F6B3A91;  // fixed, so every run shows the same picture
  for (int row = 0; row < kModules; ++row) {
    for (int column = 0; column < kModules; ++column) {
      int ring;
      bool dark;
      if (InFinder(row, column, ring))
        dark = ring <= 1 || ring == 3;
      else if (row == 6 || column == 6)
        dark = (row + column) % 2 == 0;
      else {
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        dark = noise & 1;
      }
      if (dark)
        painter.fillRect(QRectF((column + quiet) * module, (row + quiet) * module, module, module), Qt::black);
    }
  }
  return picture;
}
