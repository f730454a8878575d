// SPDX-License-Identifier: MIT
// Texts from outside (file names, option values, box texts that carry a path) made safe for a
// terminal: a control character in a file name must not move the cursor, clear the screen or
// split one of zolt-flash's own lines in two.
//
// Escaped as C escapes: "\n", "\r", "\t", other C0 controls and DEL as "\xHH"; bytes that are not
// valid UTF-8, and the C1 controls U+0080 to U+009F (which some terminals obey), as "\xHH" per
// byte. Everything else, valid UTF-8 included, passes unchanged. A backslash is not doubled, so a
// name such as "a\x41" reads the same escaped or not; the log (stdout) is never escaped.
//
// Pure functions: any thread, never block, never throw beyond allocation.
#pragma once

#include <string>
#include <string_view>

namespace zolt::cli {

enum class LineBreaks {
  kEscape,  // one line: zolt-flash's own lines
  kKeep,    // CR and LF stay: a box text keeps its line breaks
};

std::string EscapeForTerminal(std::string_view text, LineBreaks breaks = LineBreaks::kEscape);

}  // namespace zolt::cli
