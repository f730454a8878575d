// SPDX-License-Identifier: MIT
#include "cli/console.h"

#include <unistd.h>

#include <cerrno>

#include "cli/terminal_text.h"

namespace zolt::cli {

Console::Console(int outFd, int errFd, bool progressEnabled)
    : outFd_(outFd),
      errFd_(errFd),
      progressEnabled_(progressEnabled),
      outSharesTerminal_(progressEnabled && isatty(outFd) == 1) {}

void Console::WriteAllLocked(int fd, std::string_view text) {
  if (closed_) return;
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // closed or broken: nobody is reading any more
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
}

void Console::WipeLocked() {
  if (!progressShown_) return;
  WriteAllLocked(errFd_, "\r\x1b[K");
  progressShown_ = false;
}

void Console::WriteLog(std::string_view text) {
  std::lock_guard lock(mu_);
  if (outSharesTerminal_) WipeLocked();
  WriteAllLocked(outFd_, text);
}

void Console::WriteMessage(std::string_view text) {
  std::string line = "message: ";
  line.append(EscapeForTerminal(text, LineBreaks::kKeep));
  line.push_back('\n');
  std::lock_guard lock(mu_);
  WipeLocked();
  WriteAllLocked(errFd_, line);
}

void Console::WriteErrorLine(std::string_view text) {
  std::string line = EscapeForTerminal(text);
  line.push_back('\n');
  std::lock_guard lock(mu_);
  WipeLocked();
  WriteAllLocked(errFd_, line);
}

void Console::DrawProgress(std::string_view line) {
  if (!progressEnabled_) return;
  std::string frame = "\r";
  frame.append(line);
  frame.append("\x1b[K");
  std::lock_guard lock(mu_);
  WriteAllLocked(errFd_, frame);
  progressShown_ = true;
}

void Console::ClearProgress() {
  std::lock_guard lock(mu_);
  WipeLocked();
}

void Console::WriteLastErrorLineAndClose(std::string_view line) {
  std::lock_guard lock(mu_);
  WipeLocked();
  std::string text(line);
  text += '\n';
  WriteAllLocked(errFd_, text);
  closed_ = true;
}

}  // namespace zolt::cli
