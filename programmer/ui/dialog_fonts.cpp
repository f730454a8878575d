// SPDX-License-Identifier: MIT
#include "ui/dialog_fonts.h"

#include <QFontDatabase>

namespace zolt::ui {

QStringList LatinFamilies(FontSpec::Face face) {
  if (face == FontSpec::Face::kGulim) {
    // Narrow enough for the tab labels and the log's asterisk lines at 12 px.
    return {QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans"),
            QStringLiteral("DejaVu Sans")};
  }
  return {QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
          QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")};
}

QStringList KoreanFamilies() {
  return {QStringLiteral("Gulim"), QStringLiteral("굴림"), QStringLiteral("Baekmuk Gulim"),
          QStringLiteral("Noto Sans CJK KR")};
}

QFont ResolveFont(const FontSpec& spec) {
  const QStringList installed = QFontDatabase::families();
  QStringList families;
  for (const QString& family : LatinFamilies(spec.face)) {
    if (installed.contains(family, Qt::CaseInsensitive)) {
      families << family;
      break;
    }
  }
  for (const QString& family : KoreanFamilies()) {
    if (installed.contains(family, Qt::CaseInsensitive)) families << family;
  }
  QFont font;
  font.setStyleHint(QFont::SansSerif);
  families << QStringLiteral("Sans Serif");
  font.setFamilies(families);
  font.setPixelSize(MulDiv(spec.pointSize, 96, 72));
  return font;
}

BaseUnits LayoutUnits(const FontSpec& spec, const QFont& resolved) {
  if (spec.face == FontSpec::Face::kGulim) return kGulimLayoutUnits;
  return BaseUnitsOf(resolved);
}

}  // namespace zolt::ui
