// SPDX-License-Identifier: MIT
// Contrast between colours, as the web accessibility guidelines measure it, and a text colour
// that stays readable on a fill whatever the palette.
//
// Threads: any (pure functions). Never blocks; no errors.
#pragma once

#include <QColor>

namespace zolt::ui {

// Minimum contrast of text on its fill: the guidelines' level for normal text.
inline constexpr double kReadableContrast = 4.5;
// Minimum contrast of a control's state against its other states: the guidelines' level for parts
// of controls.
inline constexpr double kControlContrast = 3.0;

// (L1 + 0.05) / (L2 + 0.05) of the relative luminances, the lighter first: 1 (same) to 21.
double ContrastRatio(const QColor& a, const QColor& b);

// `text` itself when it is at least `ratio` apart from `fill`; else `text` made darker or lighter
// (the way that gets there, keeping its hue) just far enough, or black or white. Every fill has
// a colour at least 4.58:1 apart, so for ratios up to that the result always reaches the ratio.
QColor ReadableOn(const QColor& text, const QColor& fill, double ratio = kReadableContrast);

}  // namespace zolt::ui
