// SPDX-License-Identifier: MIT
// Text helpers of the option pages.
//
// Threads: any (pure functions). Never block; no errors.
#pragma once

#include <QString>
#include <cstdint>

namespace zolt::ui {

// The standard unsigned conversion of `text` in `base` (10 or 16): leading blanks skipped, an
// optional sign ("-" negates modulo 2^32), for base 16 an optional "0x"/"0X", then digits up to
// the first character that is no digit of the base. No digits gives 0; a value beyond 32 bits
// gives 0xFFFFFFFF.
uint32_t ParseUnsigned(const QString& text, int base);

// Shortens a full path for a path box, keeping its first folder as a drive is kept: everything
// between the '/' that ends the first folder and the last '/' becomes "...":
// /home/op/images/boot.bin -> /home/.../boot.bin. When that '/' is also the last one, "..." goes
// right after it: /home/boot.bin -> /home/...boot.bin, /boot.bin -> /...boot.bin. A relative
// path's first folder ends at its first '/'. A path without '/' is returned unchanged.
QString ShortenPath(const QString& path);

}  // namespace zolt::ui
