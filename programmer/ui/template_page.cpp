// SPDX-License-Identifier: MIT
#include "ui/template_page.h"

#include <algorithm>

namespace zolt::ui {

BaseUnits UnitsToFit(int width, int height, QSize size) {
  BaseUnits units{1, 1};
  while (MulDiv(width, units.x + 1, 4) <= size.width()) ++units.x;
  while (MulDiv(height, units.y + 1, 8) <= size.height()) ++units.y;
  return units;
}

TemplatePage::TemplatePage(int templateId, QWidget* parent)
    : QWidget(parent), template_(TemplateById(templateId)) {
  built_ = BuildDialog(this, template_);
  move(DluToPixels(template_.placement, built_.units).topLeft());
}

void TemplatePage::PlaceIn(const QRect& area) {
  LayOutDialog(this, template_, built_, UnitsToFit(template_.width, template_.height, area.size()));
  move(area.left() + std::max(0, (area.width() - width()) / 2), area.top());
}

}  // namespace zolt::ui
