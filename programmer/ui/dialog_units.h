// SPDX-License-Identifier: MIT
// Dialog units to pixels, the way the native dialog manager converts them: the base units are
// the average width of the 52 letters A-Z a-z and the height of the template's font; a horizontal
// dialog unit is a quarter of the base width, a vertical one an eighth of the base height.
//
// Threads: GUI thread (font metrics). Never blocks; no errors.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

#include "ui/dialog_template.h"

namespace zolt::ui {

struct BaseUnits {
  int x;  // average character width in pixels
  int y;  // font height in pixels
};

// Base units of `font`: x = (width of "A..Za..z" / 26 + 1) / 2, y = ascent + descent.
BaseUnits BaseUnitsOf(const QFont& font);

// a * b / c rounded to the nearest integer, halves away from zero (the native MulDiv).
int MulDiv(int a, int b, int c);

// Each edge of the rectangle is converted on its own, so neighbouring controls stay adjacent.
QRect DluToPixels(const DluRect& r, BaseUnits units);
QSize DluToPixels(int width, int height, BaseUnits units);

}  // namespace zolt::ui
