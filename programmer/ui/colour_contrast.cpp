// SPDX-License-Identifier: MIT
#include "ui/colour_contrast.h"

#include <algorithm>
#include <cmath>

namespace zolt::ui {
namespace {

double Linear(double channel) {
  return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& c) {
  const QColor rgb = c.toRgb();
  return 0.2126 * Linear(rgb.redF()) + 0.7152 * Linear(rgb.greenF()) + 0.0722 * Linear(rgb.blueF());
}

// `c` with its HSL lightness moved towards 0 (darker) or 1 (lighter) until it is `ratio` apart
// from `fill`; invalid when even black or white is not.
QColor Towards(const QColor& c, const QColor& fill, double ratio, bool darker) {
  const QColor hsl = c.toHsl();
  for (int step = 0; step <= 100; ++step) {
    const double l = hsl.lightnessF();
    const double moved = darker ? l * (100 - step) / 100.0 : l + (1 - l) * step / 100.0;
    const QColor candidate =
        QColor::fromHslF(hsl.hslHueF(), hsl.hslSaturationF(), std::clamp(moved, 0.0, 1.0));
    if (ContrastRatio(candidate, fill) >= ratio) return candidate.toRgb();
  }
  return {};
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableOn(const QColor& text, const QColor& fill, double ratio) {
  if (ContrastRatio(text, fill) >= ratio) return text;
  // Go the way the text already lies from the fill first; the other way if that falls short.
  const bool darkerFirst = Luminance(text) <= Luminance(fill);
  QColor c = Towards(text, fill, ratio, darkerFirst);
  if (!c.isValid()) c = Towards(text, fill, ratio, !darkerFirst);
  if (c.isValid()) return c;
  return ContrastRatio(Qt::black, fill) >= ContrastRatio(Qt::white, fill) ? QColor(Qt::black)
                                                                          : QColor(Qt::white);
}

}  // namespace zolt::ui
