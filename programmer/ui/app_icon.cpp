// SPDX-License-Identifier: MIT
#include "ui/app_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The resources live in a static library; referencing their initialiser keeps them linked in.
static void InitUiResources() {
  Q_INIT_RESOURCE(ui_resources);
}

namespace zolt::ui {

QIcon AppIcon() {
  InitUiResources();
  QSvgRenderer renderer(QStringLiteral(":/zolt/zolt-usb-jtag.svg"));
  QIcon icon;
  if (!renderer.isValid()) return icon;
  for (int size : {16, 24, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace zolt::ui
