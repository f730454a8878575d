// SPDX-License-Identifier: MIT
#include "ui/about_dialog.h"

#include <QPushButton>

#include "ui/app_icon.h"
#include "ui/control_ids.h"

namespace zolt::ui {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  const DialogTemplate& t = TemplateById(kAboutTemplate);
  built_ = BuildDialog(this, t);
  setWindowTitle(QString::fromUtf8(t.caption));
  setWindowIcon(AppIcon());
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  connect(built_.controls.Get<QPushButton>(kIdOk), &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace zolt::ui
