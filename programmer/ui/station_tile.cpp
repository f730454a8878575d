// SPDX-License-Identifier: MIT
#include "ui/station_tile.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>

#include "ui/colour_contrast.h"

namespace zolt::ui {
namespace {

constexpr int kMargin = 6;

bool IsDark(const QPalette& palette) {
  return palette.color(QPalette::Window).lightness() < 128;
}

QFont WordFont(QFont font) {
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.5);
  return font;
}

}  // namespace

TileLook LookOf(FixtureState state, const QPalette& palette) {
  const bool dark = IsDark(palette);
  TileLook look;
  QColor text = Qt::white;
  switch (state) {
    case FixtureState::kNoProbe:
      look.word = QStringLiteral("NO PROBE");
      look.fill = dark ? QColor(74, 74, 74) : QColor(200, 200, 200);
      text = dark ? QColor(235, 235, 235) : QColor(26, 26, 26);
      break;
    case FixtureState::kWaiting:
      look.word = QStringLiteral("WAITING");
      look.fill = dark ? QColor(34, 38, 44) : QColor(248, 248, 242);
      text = dark ? QColor(235, 235, 235) : QColor(26, 26, 26);
      break;
    case FixtureState::kProgramming:
      look.word = QStringLiteral("PROGRAMMING");
      look.fill = QColor(31, 95, 191);
      break;
    case FixtureState::kOk:
      look.word = QStringLiteral("OK");
      look.fill = QColor(30, 123, 52);
      break;
    case FixtureState::kFailed:
      look.word = QStringLiteral("FAILED");
      look.fill = QColor(179, 38, 30);
      break;
    case FixtureState::kStopping:
      look.word = QStringLiteral("STOPPING");
      look.fill = QColor(242, 169, 0);
      text = QColor(26, 26, 26);
      break;
  }
  // The fixed colours already meet the ratio; the guard keeps it whatever a later change does.
  look.text = ReadableOn(text, look.fill);
  look.barDone = look.text;
  // The track between the fill and the bar's filled part, at least 3:1 from the latter.
  look.barTrack = ReadableOn(look.fill.darker(160), look.barDone, kControlContrast);
  return look;
}

StationTile::StationTile(int device, QWidget* parent) : QWidget(parent) {
  status_.device = device;
  status_.location = "unknown";
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void StationTile::SetStatus(const FixtureStatus& status) {
  if (status.sequence != status_.sequence) message_.clear();
  const bool same = status.state == status_.state && status.location == status_.location &&
                    status.boards == status_.boards && status.lastBoardSeconds == status_.lastBoardSeconds &&
                    status.failureText == status_.failureText && status.sequence == status_.sequence;
  status_ = status;
  if (status_.state != FixtureState::kProgramming && status_.state != FixtureState::kStopping) percent_ = 0;
  if (!same) {
    setToolTip(DetailText());
    update();
  }
}

void StationTile::SetPercent(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == percent_) return;
  percent_ = percent;
  update();
}

void StationTile::SetMessage(const QString& text) {
  if (text == message_) return;
  message_ = text;
  setToolTip(DetailText());
  update();
}

QString StationTile::LocationText() const {
  return QStringLiteral("#%1  %2").arg(status_.device).arg(QString::fromStdString(status_.location));
}

QString StationTile::BoardsText() const {
  return status_.boards == 1 ? QStringLiteral("1 board") : QStringLiteral("%1 boards").arg(status_.boards);
}

QString StationTile::LastTimeText() const {
  if (status_.boards == 0) return {};
  return QStringLiteral("last %1 s").arg(status_.lastBoardSeconds, 0, 'f', 1);
}

QString StationTile::DetailText() const {
  switch (status_.state) {
    case FixtureState::kFailed: {
      const QString failure = QString::fromStdString(status_.failureText);
      return failure.isEmpty() ? (message_.isEmpty() ? QStringLiteral("remove board") : message_) : failure;
    }
    case FixtureState::kOk:
      return QStringLiteral("remove board");
    case FixtureState::kProgramming:
    case FixtureState::kStopping:
      return message_;
    default:
      return {};
  }
}

QSize StationTile::sizeHint() const {
  const QFontMetrics small(font());
  const QFontMetrics big(WordFont(font()));
  const int width = std::max(big.horizontalAdvance(QStringLiteral("PROGRAMMING")),
                             small.horizontalAdvance(QStringLiteral("#15  usb:10-1.4.4  ")) +
                                 small.horizontalAdvance(QStringLiteral("999 boards")));
  return {width + 2 * kMargin + 8, big.height() + 4 * small.lineSpacing() + 2 * kMargin + 8};
}

void StationTile::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) update();
  QWidget::changeEvent(event);
}

void StationTile::paintEvent(QPaintEvent*) {
  const TileLook look = Look();
  QPainter p(this);
  const QRect all = rect();
  p.fillRect(all, look.fill);
  p.setPen(palette().color(QPalette::Mid));
  p.drawRect(all.adjusted(0, 0, -1, -1));

  const QRect inner = all.adjusted(kMargin, kMargin / 2, -kMargin, -kMargin / 2);
  const QFontMetrics small(font());
  p.setPen(look.text);
  p.setFont(font());
  const int line = small.lineSpacing();
  QRect top(inner.left(), inner.top(), inner.width(), line);
  p.drawText(top, Qt::AlignLeft | Qt::AlignVCenter,
             small.elidedText(LocationText(), Qt::ElideRight, inner.width() * 2 / 3));
  p.drawText(top, Qt::AlignRight | Qt::AlignVCenter, BoardsText());

  const QFont wordFont = WordFont(font());
  const QFontMetrics big(wordFont);
  const QRect wordRect(inner.left(), top.bottom() + 1, inner.width(), big.height());
  p.setFont(wordFont);
  p.drawText(wordRect, Qt::AlignHCenter | Qt::AlignVCenter, look.word);
  p.setFont(font());

  const QRect bottom(inner.left(), inner.bottom() - line + 1, inner.width(), line);
  p.drawText(bottom, Qt::AlignRight | Qt::AlignVCenter, LastTimeText());

  const QRect middle(inner.left(), wordRect.bottom() + 2, inner.width(),
                     bottom.top() - wordRect.bottom() - 3);
  if (status_.state == FixtureState::kProgramming || status_.state == FixtureState::kStopping) {
    const QString percent = QStringLiteral("%1%").arg(percent_);
    const int textWidth = small.horizontalAdvance(QStringLiteral("100%")) + 4;
    const QRect bar(middle.left(), middle.top() + 2, middle.width() - textWidth,
                    std::min(line, middle.height() - 2));
    p.fillRect(bar, look.barTrack);
    p.fillRect(QRect(bar.left(), bar.top(), bar.width() * percent_ / 100, bar.height()), look.barDone);
    p.drawText(QRect(bar.right() + 2, bar.top(), textWidth, bar.height()), Qt::AlignRight | Qt::AlignVCenter,
               percent);
    const QString detail = DetailText();
    if (!detail.isEmpty() && middle.height() >= 2 * line) {
      const QRect below(middle.left(), bar.bottom() + 2, middle.width(), line);
      p.drawText(below, Qt::AlignLeft | Qt::AlignVCenter,
                 small.elidedText(detail, Qt::ElideRight, middle.width()));
    }
  } else {
    const QString detail = DetailText();
    if (!detail.isEmpty()) {
      // A long failure text wraps and is cut at the last line's room.
      p.save();
      p.setClipRect(middle);
      p.drawText(middle, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, detail);
      p.restore();
    }
  }
}

}  // namespace zolt::ui
