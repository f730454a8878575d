// SPDX-License-Identifier: MIT
// Reading a bench file (TOML) into a checked BenchConfig.
#pragma once

#include <stdexcept>
#include <string>

#include "bench_config.h"

namespace probesim {

// "file:line: key: what is wrong".
class BenchFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses and checks `text`; `name` stands for the file in messages and gives the default flash
// file names; relative flash files resolve in `stateDir` (empty: they are refused). Throws BenchFileError.
// Does not create any file; only looks at existing flash files' sizes.
BenchConfig ParseBenchFile(const std::string& text, const std::string& name, const std::string& stateDir);

// The folder for relative flash files: PROBESIM_STATE_DIR, else $XDG_STATE_HOME/zolt-probesim,
// else $HOME/.local/state/zolt-probesim (XDG_STATE_HOME and HOME only when absolute); empty when
// none of them is set, and ParseBenchFile then refuses relative flash files.
std::string DefaultStateDir();

}  // namespace probesim
