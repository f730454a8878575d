#include "ui/dialog_fonts.h"

#include <QFontDatabase>

#include "ui/dialog_units.h"

namespace zolt::ui {

QStringList FallbackFamilies(FontSpec::Face face) {
  if (face == FontSpec::Face::kGulim) {
    return {QStringLiteral("Gulim"), QStringLiteral("굴림"), QStringLiteral("Baekmuk Gulim"),
            QStringLiteral("Noto Sans CJK KR")};
  }
  return {QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
          QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")};
}

QFont ResolveFont(const FontSpec& spec) {
  QFont font;
  font.setStyleHint(QFont::SansSerif);
  font.setFamily(QStringLiteral("Sans Serif"));
  const QStringList installed = QFontDatabase::families();
  for (const QString& family : FallbackFamilies(spec.face)) {
    if (installed.contains(family, Qt::CaseInsensitive)) {
      font.setFamily(family);
      break;
    }
  }
  font.setPixelSize(MulDiv(spec.pointSize, 96, 72));
  return font;
}

}  // namespace zolt::ui
