// SPDX-License-Identifier: MIT
// The two number texts of the option pages, read the way the dialog's pages read them, so that a
// text given to zolt-flash selects exactly what the same text typed into the dialog would.
//
// Both readers skip leading blanks and take the leading digits of their base; parsing stops at the
// first other character, and a text without digits reads as 0 ("12abc" is 12, "" is 0). The
// offset is hexadecimal and may start with "0x" or "0X".
//
// The dialog takes such texts as they come. These readers refuse the two texts whose reading would
// silently land somewhere the operator did not type: a leading sign ("-1" must not become
// 0xFFFFFFFF) and a value that does not fit 32 bits (it must not wrap to a low address); `digits`
// and `end` let zolt-flash refuse more (a text without digits, a character after them).
//
// Pure functions: any thread, never block, never throw.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zolt::cli {

struct PageNumber {
  uint32_t value = 0;
  std::string error;  // empty when the text is accepted; else why not (no option name)
  size_t digits = 0;  // how many digits were read
  size_t end = 0;     // where reading stopped: text.size() when nothing follows the digits
};

// The Nor Options page's offset text ("Offset : 0x").
PageNumber ReadOffsetText(std::string_view text);
// A File Selection slot's "Blk No" text.
PageNumber ReadBlockText(std::string_view text);

}  // namespace zolt::cli
