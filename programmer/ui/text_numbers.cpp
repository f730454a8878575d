// SPDX-License-Identifier: MIT
#include "ui/text_numbers.h"

namespace zolt::ui {
namespace {

int DigitValue(QChar c) {
  const char16_t u = c.unicode();
  if (u >= u'0' && u <= u'9') return u - u'0';
  if (u >= u'a' && u <= u'z') return u - u'a' + 10;
  if (u >= u'A' && u <= u'Z') return u - u'A' + 10;
  return 99;
}

}  // namespace

uint32_t ParseUnsigned(const QString& text, int base) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' || text[i] == u'\r' ||
                   text[i] == u'\v' || text[i] == u'\f')) {
    ++i;
  }
  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  if (base == 16 && i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X') &&
      i + 2 < n && DigitValue(text[i + 2]) < 16) {
    i += 2;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (; i < n && DigitValue(text[i]) < base; ++i) {
    value = value * base + DigitValue(text[i]);
    if (value > 0xFFFFFFFFull) {
      overflow = true;
      value = 0xFFFFFFFFull;
    }
  }
  if (overflow) return 0xFFFFFFFFu;
  const uint32_t result = static_cast<uint32_t>(value);
  return negative ? static_cast<uint32_t>(0u - result) : result;
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
