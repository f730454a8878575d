// SPDX-License-Identifier: MIT
#include "ui/dialog_units.h"

#include <QFontMetrics>
#include <cstdint>
#include <cstdlib>

namespace zolt::ui {

BaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int width =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(width / 26 + 1) / 2, metrics.ascent() + metrics.descent()};
}

int MulDiv(int a, int b, int c) {
  const int64_t product = int64_t(a) * b;
  const int64_t half = std::llabs(c) / 2;
  const bool negative = (product < 0) != (c < 0);
  const int64_t magnitude = (std::llabs(product) + half) / std::llabs(c);
  return static_cast<int>(negative ? -magnitude : magnitude);
}

QRect DluToPixels(const DluRect& r, BaseUnits u) {
  const int left = MulDiv(r.x, u.x, 4);
  const int top = MulDiv(r.y, u.y, 8);
  const int right = MulDiv(r.x + r.width, u.x, 4);
  const int bottom = MulDiv(r.y + r.height, u.y, 8);
  return QRect(left, top, right - left, bottom - top);
}

QSize DluToPixels(int width, int height, BaseUnits u) {
  return QSize(MulDiv(width, u.x, 4), MulDiv(height, u.y, 8));
}

}  // namespace zolt::ui
