// Template fonts resolved to fonts this machine has. "굴림" (Gulim) goes through a list that finds
// a Korean font on Linux: Gulim itself, Baekmuk Gulim (fonts-baekmuk), Noto Sans CJK KR, then the
// default sans. "MS Sans Serif" resolves to a sans font. Sizes are points at 96 dots per inch, as
// the native templates assume, turned into a pixel size so that layouts do not depend on the screen.
//
// Threads: GUI thread (font database). Never blocks; no errors (the last fallback always exists).
#pragma once

#include <QFont>
#include <QStringList>

#include "ui/dialog_template.h"

namespace zolt::ui {

// Families tried in order for a face; the first installed one wins.
QStringList FallbackFamilies(FontSpec::Face face);

QFont ResolveFont(const FontSpec& spec);

}  // namespace zolt::ui
