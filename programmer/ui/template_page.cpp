#include "ui/template_page.h"

namespace zolt::ui {

TemplatePage::TemplatePage(int templateId, QWidget* parent) : QWidget(parent) {
  const DialogTemplate& t = TemplateById(templateId);
  built_ = BuildDialog(this, t);
  move(DluToPixels(t.placement, built_.units).topLeft());
}

}  // namespace zolt::ui
