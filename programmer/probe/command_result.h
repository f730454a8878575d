// SPDX-License-Identifier: MIT
// What a probe command hands back: success, or which part of its exchange failed and the text
// that reported it. The command has already shown that text (as a box, or in the log where the
// command reports there) by the time it returns; the caller keeps it to name the failure, for
// instance to a RunObserver. Plain value: any thread.
#pragma once

#include <string>
#include <string_view>

namespace zolt {

// The part of a command that failed.
enum class CommandStep {
  kNone,     // nothing failed
  kRefused,  // refused unsent (arguments the command cannot carry)
  kWrite,    // the command was not written
  kRead,     // the response did not arrive
  kAnswer,   // the response arrived but says no
};

class [[nodiscard]] CommandResult {
 public:
  static CommandResult Ok() { return CommandResult(CommandStep::kNone, {}); }
  // `text` is "" where the command reports nothing for that failure.
  static CommandResult Failed(CommandStep step, std::string_view text = {}) {
    return CommandResult(step, text);
  }

  bool ok() const { return step_ == CommandStep::kNone; }
  CommandStep failedStep() const { return step_; }
  // The text that reported the failure; "" on success and where nothing was reported.
  const std::string& text() const { return text_; }
  // True once the command went out: the probe may have acted on it.
  bool written() const { return step_ != CommandStep::kRefused && step_ != CommandStep::kWrite; }

 private:
  CommandResult(CommandStep step, std::string_view text) : step_(step), text_(text) {}

  CommandStep step_;
  std::string text_;
};

}  // namespace zolt
