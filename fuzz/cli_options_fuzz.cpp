// SPDX-License-Identifier: MIT
// zolt-flash's option parser on arbitrary argument lists (the input split at zero bytes): it
// runs, or ends with a usage line or the help, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args{"zolt-flash"};
  std::string current;
  for (size_t i = 0; i < size && args.size() < 64; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) args.push_back(current);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  zolt::cli::FlashOptions options;
  const zolt::cli::ParseResult result =
      zolt::cli::ParseCommandLine(static_cast<int>(args.size()), argv.data(), options);
  if (!result.run && result.exitCode != 0 && result.exitCode != 2) __builtin_trap();
  if (result.exitCode == 2 && (result.err.empty() || result.err.back() != '\n')) __builtin_trap();
  if (result.run && (options.productIndex < 0 || options.productIndex > 4)) __builtin_trap();
  return 0;
}
