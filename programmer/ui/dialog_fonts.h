// SPDX-License-Identifier: MIT
// Template fonts resolved to fonts this machine has.
//
// "굴림" (Gulim) 9 pt: the dialogs are laid out for the base units of Baekmuk Gulim at that size
// (8 x 12 px; fonts-baekmuk, the package's font), whatever font is installed, so the layout never
// follows the metrics of a fallback (Noto Sans CJK KR would give 7 x 17 and push the pages onto
// the tab row). Text is drawn with a Latin family first and a Korean font for Hangul: Baekmuk's
// Latin letters are wide enough to wrap the log's 60-column lines, Gulim's are not.
// "MS Sans Serif" 8 pt resolves to a sans font, and its base units are measured.
// Sizes are points at 96 dots per inch, as the native templates assume, turned into a pixel size
// so that layouts do not depend on the screen.
//
// Threads: GUI thread (font database). Never blocks; no errors (the last fallback always exists).
#pragma once

#include <QFont>
#include <QStringList>

#include "ui/dialog_template.h"
#include "ui/dialog_units.h"

namespace zolt::ui {

// The base units the Gulim 9 pt templates are laid out for.
inline constexpr BaseUnits kGulimLayoutUnits{8, 12};

// Families tried in order for the Latin letters of a face; the first installed one wins.
QStringList LatinFamilies(FontSpec::Face face);
// Korean families tried in order for Hangul; every installed one is kept as a fallback.
QStringList KoreanFamilies();

// The font controls draw with: the first installed Latin family, then the installed Korean ones.
QFont ResolveFont(const FontSpec& spec);

// Base units a template of `spec` is laid out in; `resolved` is ResolveFont(spec).
BaseUnits LayoutUnits(const FontSpec& spec, const QFont& resolved);

}  // namespace zolt::ui
