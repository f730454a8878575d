#include "cli/run_summary.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "cli/cli_operator.h"

namespace zolt::cli {

void RunSummary::OnJobStarted(int device) {
  std::lock_guard lock(mu_);
  devices_[device].started = true;
}

void RunSummary::OnFileEnded(int device, int file, const std::string& path, uint64_t fileSize,
                             uint64_t sentBytes, double seconds, uint32_t crc32, bool ok) {
  std::lock_guard lock(mu_);
  devices_[device].files.push_back({file + 1, path, fileSize, sentBytes, seconds, crc32, ok});
}

void RunSummary::OnJobEnded(int device, bool failed, const std::string& failureText) {
  std::lock_guard lock(mu_);
  Device& d = devices_[device];
  d.ended = true;
  d.failed = failed;
  d.failureText = failureText;
}

const char* OutcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kComplete:
      return "complete";
    case RunOutcome::kStopped:
      return "stopped";
    case RunOutcome::kToggleStopped:
      return "toggle-stopped";
    case RunOutcome::kNotStarted:
    case RunOutcome::kNone:
      return "not-started";
    default:
      return "failed";  // a failed download or toggle run
  }
}

nlohmann::json RunSummary::Build(const FlashOptions& o, const CliOperator& op, const Ending& ending) const {
  using nlohmann::json;
  const bool tarvis = o.productIndex == 0;
  json images = json::array();
  int enabledImages = 0;
  for (int slot = 0; slot < 3; ++slot) {
    if (!o.imageEnabled[slot]) continue;
    ++enabledImages;
    images.push_back({{"slot", slot + 1},
                      {"path", o.imagePath[slot]},
                      {"blockText", o.blockText[slot]},
                      {"block", o.block[slot]}});
  }
  json settings = {
      {"product", kProductNames[o.productIndex]},
      {"flashType", o.nandSelected ? "NAND" : "NOR"},
      {"norType", tarvis ? "AutoDetect" : kNorTypeListNames[o.norType]},
      {"width", o.width},
      {"interleave", o.interleave},
      {"offsetText", o.offsetText},
      {"offset", o.offset},
      {"images", images},
      {"verify", o.verifyEnabled},
      {"multiDevice", o.multiDevice},
      {"toggle", o.pinToggle},
      {"intervalMs", o.intervalMs},
      {"stopAfterSeconds", o.stopAfterSeconds ? json(*o.stopAfterSeconds) : json(nullptr)},
  };

  json devices = json::array();
  {
    std::lock_guard lock(mu_);
    std::set<int> indices;
    for (int d : op.TakingPart()) indices.insert(d);
    for (const auto& [d, _] : devices_) indices.insert(d);
    for (int index : indices) {
      auto it = devices_.find(index);
      const Device empty;
      const Device& d = it == devices_.end() ? empty : it->second;
      json files = json::array();
      bool allSent = static_cast<int>(d.files.size()) >= enabledImages;
      for (const File& f : d.files) {
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(f.crc32));
        files.push_back({{"slot", f.slot},
                         {"path", f.path},
                         {"size", f.size},
                         {"bytesSent", f.sentBytes},
                         {"seconds", f.seconds},
                         {"crc32", crc},
                         {"ok", f.ok}});
        allSent = allSent && f.ok && f.sentBytes >= f.size;
      }
      std::string result;
      if (d.failed) {
        result = "failed";
      } else if (!d.ended) {
        result = d.started ? "unfinished" : "not-started";
      } else if (ending.stopRequested && !allSent) {
        result = "stopped";
      } else {
        result = "ok";
      }
      devices.push_back(
          {{"index", index}, {"result", result}, {"failureText", d.failureText}, {"files", files}});
    }
  }

  return json{
      {"program", "zolt-flash"},
      {"version", ProgrammerVersion()},
      {"settings", settings},
      {"devices", devices},
      {"result", ending.result},
      {"exitCode", ending.exitCode},
      {"stopRequested", ending.stopRequested},
      {"elapsedSeconds", ending.elapsedSeconds},
      {"messages", op.Messages()},
      {"firmwareVersion", op.FirmwareVersion()},
      {"bootloaderVersion", op.BootloaderVersion()},
  };
}

namespace {

std::string WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::strerror(errno);
    }
    done += static_cast<size_t>(n);
  }
  return {};
}

std::string WriteDirect(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return std::strerror(errno);
  std::string error = WriteAll(fd, text);
  if (::close(fd) != 0 && error.empty()) error = std::strerror(errno);
  return error;
}

}  // namespace

std::string CheckSummaryWritable(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  return {};
}

std::string WriteSummaryFile(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp." + std::to_string(::getpid());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return WriteDirect(path, text);  // e.g. a folder we may not create in
  std::string error = WriteAll(fd, text);
  if (error.empty() && ::fsync(fd) != 0) error = std::strerror(errno);
  if (::close(fd) != 0 && error.empty()) error = std::strerror(errno);
  if (error.empty() && ::rename(temp.c_str(), path.c_str()) != 0) error = std::strerror(errno);
  if (!error.empty()) {
    ::unlink(temp.c_str());
    return WriteDirect(path, text);
  }
  return {};
}

}  // namespace zolt::cli
