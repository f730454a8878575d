// zolt-flash: the programmer's command line for production lines. See docs/cli.md.
#include <signal.h>
#include <unistd.h>

#include <string>

#include "cli/flash_session.h"
#include "cli/options.h"
#include "cli/run_summary.h"

namespace {

void WriteWhole(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zolt::cli;
  // A reader that went away must not kill a run half way through a probe's flash.
  ::signal(SIGPIPE, SIG_IGN);

  FlashOptions options;
  ParseResult parsed = ParseCommandLine(argc, argv, options);
  WriteWhole(STDOUT_FILENO, parsed.out);
  WriteWhole(STDERR_FILENO, parsed.err);
  if (!parsed.run) return parsed.exitCode;

  if (!options.jsonPath.empty()) {
    std::string error = CheckSummaryWritable(options.jsonPath);
    if (!error.empty()) {
      WriteWhole(STDERR_FILENO,
                 "zolt-flash: --json: cannot write '" + options.jsonPath + "': " + error + "\n");
      return kExitUsage;
    }
  }
  return RunFlash(options);
}
