// SPDX-License-Identifier: MIT
#include "ui/station_text.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include "probe/nor_type_table.h"
#include "probe/products.h"

namespace zolt::ui {
namespace {

QString Hex(uint32_t value, int digits) {
  return QStringLiteral("0x") + QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

// File names are kept in the file functions' 8-bit encoding.
QString PathText(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

QString FlashTypeName(FlashType type) {
  switch (type) {
    case FlashType::kNand:
      return QStringLiteral("NAND");
    case FlashType::kNor:
      return QStringLiteral("NOR");
    case FlashType::kNone:
      break;
  }
  return QStringLiteral("none");
}

}  // namespace

QStringList SettingsLines(const RunRequest& request, bool verify) {
  QStringList lines;
  const ProductSettings* product = FindProduct(request.productIndex);
  lines << QStringLiteral("Product: %1")
               .arg(product != nullptr ? QString::fromLatin1(product->name) : QStringLiteral("?"));
  lines << QStringLiteral("Flash: %1").arg(FlashTypeName(request.flashType));
  if (request.flashType == FlashType::kNor) {
    QString name = QString::fromLatin1(NorTypeLogName(request.norType));
    if (name.isEmpty()) name = QString::fromLatin1(kAutoDetectName);
    lines << QStringLiteral("NOR: %1, width %2, interleave %3, offset %4")
                 .arg(name)
                 .arg(request.width)
                 .arg(request.interleave)
                 .arg(Hex(request.Offset(), 8));
  }
  for (int s = 0; s < 3; ++s) {
    const ImageSlot& slot = request.images[static_cast<size_t>(s)];
    if (!slot.enabled) continue;
    const QString file =
        slot.path.empty() ? QStringLiteral("(no file)") : QFileInfo(PathText(slot.path)).fileName();
    lines << QStringLiteral("Image #%1: %2, block %3").arg(s + 1).arg(file).arg(request.Block(s));
  }
  lines << QStringLiteral("Verify: %1").arg(verify ? QStringLiteral("on") : QStringLiteral("off"));
  return lines;
}

QString RecordText(const BoardRecord& r) {
  QStringList lines;
  const auto text = [](const std::string& s) { return QString::fromStdString(s); };
  lines << QStringLiteral("Board: %1").arg(r.sequence);
  lines << QStringLiteral("Fixture: DEVICE #%1").arg(r.device);
  lines << QStringLiteral("Location: %1").arg(text(r.location));
  lines << QStringLiteral("Product: %1").arg(text(r.product));
  lines << QStringLiteral("JTAG ID: %1").arg(Hex(r.jtagId, 8));
  lines << QStringLiteral("Flash: %1 (maker %2, device %3)")
               .arg(r.flashPart.empty() ? QStringLiteral("not identified") : text(r.flashPart))
               .arg(Hex(r.makerId, 4))
               .arg(Hex(r.deviceId, 4));
  lines << QStringLiteral("Started: %1").arg(text(r.startedUtc));
  lines << QStringLiteral("Ended: %1")
               .arg(r.endedUtc.empty() ? QStringLiteral("in progress") : text(r.endedUtc));
  lines << QStringLiteral("Duration: %1 s").arg(r.seconds, 0, 'f', 3);
  lines
      << QStringLiteral("Result: %1").arg(r.result.empty() ? QStringLiteral("in progress") : text(r.result));
  lines << QStringLiteral("Bytes sent: %1").arg(r.bytesSent);
  for (const BoardImage& image : r.images) {
    lines << QStringLiteral("Image #%1: %2").arg(image.slot + 1).arg(PathText(image.path));
    lines << QStringLiteral("  place %1, size %2, sent %3, CRC-32 %4, %5")
                 .arg(text(image.place))
                 .arg(image.size)
                 .arg(image.sentBytes)
                 .arg(Hex(image.crc32, 8))
                 .arg(image.ok ? QStringLiteral("ok") : QStringLiteral("not written whole"));
  }
  for (const std::string& failure : r.failureTexts) lines << QStringLiteral("Failure: %1").arg(text(failure));
  lines << QStringLiteral("Version: %1").arg(text(r.version));
  lines << QStringLiteral("Host: %1").arg(text(r.host));
  return lines.join(QLatin1Char('\n'));
}

QString RecordTimeCell(const BoardRecord& record) {
  const std::string& utc = record.endedUtc.empty() ? record.startedUtc : record.endedUtc;
  const QDateTime time = QDateTime::fromString(QString::fromStdString(utc), Qt::ISODateWithMs);
  if (!time.isValid()) return QString::fromStdString(utc);
  return time.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
}

QString RecordFixtureCell(const BoardRecord& record) {
  return QStringLiteral("#%1 %2").arg(record.device).arg(QString::fromStdString(record.location));
}

QString RecordDurationCell(const BoardRecord& record) {
  return QStringLiteral("%1 s").arg(record.seconds, 0, 'f', 1);
}

QString RecordFailureCell(const BoardRecord& record) {
  QStringList texts;
  for (const std::string& failure : record.failureTexts) texts << QString::fromStdString(failure);
  return texts.join(QStringLiteral("; "));
}

QString HoursMinutesSeconds(double seconds) {
  const qint64 s = seconds > 0 ? static_cast<qint64>(seconds) : 0;
  return QStringLiteral("%1:%2:%3")
      .arg(s / 3600, 2, 10, QLatin1Char('0'))
      .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace zolt::ui
