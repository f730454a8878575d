// SPDX-License-Identifier: MIT
#include "ui/text_numbers.h"

#include "core/text_numbers.h"

namespace zolt::ui {

uint32_t ParseUnsigned(const QString& text, int base) {
  // UTF-8 keeps every ASCII character a byte of its own and makes no byte of another an ASCII
  // digit or blank, so the bytes read as the characters would.
  return ParseUnsignedText(text.toUtf8().toStdString(), base);
}

QString ShortenPath(const QString& path) {
  qsizetype first = path.indexOf(u'/');
  if (first < 0) return path;
  // An absolute path's root is no folder: its first folder ends at the next '/'.
  if (first == 0 && path.indexOf(u'/', 1) > 0) first = path.indexOf(u'/', 1);
  const qsizetype last = path.lastIndexOf(u'/');
  return path.left(first + 1) + QStringLiteral("...") + path.mid(last == first ? first + 1 : last);
}

}  // namespace zolt::ui
