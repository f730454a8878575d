// SPDX-License-Identifier: MIT
// The Bench behind LoadBench: the probes of one bench file and their shared event log.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "bench_file.h"
#include "control_channel.h"
#include "probesim/bench.h"
#include "probesim/inspect.h"
#include "sim_probe.h"

namespace probesim {
namespace {

class SimBench final : public Bench {
 public:
  explicit SimBench(BenchConfig config) : log_(LogPath()) {
    for (size_t i = 0; i < config.probes.size(); ++i) {
      probes_.push_back(std::make_unique<SimProbe>(std::move(config.probes[i]), static_cast<int>(i), log_));
    }
    nextSerial_.assign(probes_.size(), 1);
    // Last, when the probes it drives exist.
    if (const char* path = std::getenv("PROBESIM_CONTROL"); path != nullptr && *path != '\0') {
      control_ =
          std::make_unique<ControlChannel>(path, [this](const std::string& line) { return Command(line); });
      if (!control_->error().empty()) {
        controlError_ = control_->error();
        control_.reset();
      }
    }
  }
  ~SimBench() override { StopControl(); }
  size_t ProbeCount() const override { return probes_.size(); }
  BenchProbe& Probe(size_t index) override { return *probes_.at(index); }
  void StopControl() override {
    if (control_) control_->Stop();
  }
  SimProbe& Sim(size_t index) { return *probes_.at(index); }
  const std::string& LogError() const { return log_.error(); }
  const std::string& ControlError() const { return controlError_; }

 private:
  static std::string LogPath() {
    const char* path = std::getenv("PROBESIM_LOG");
    return path != nullptr ? path : "";
  }

  // One PROBESIM_CONTROL line: "<command> <probe name>", the name being the rest of the line.
  // Runs on the control thread only, so nextSerial_ needs no lock.
  std::string Command(const std::string& line) {
    const size_t space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string name = space == std::string::npos ? "" : line.substr(space + 1);
    if (line.empty()) return "error: empty line (attach, detach, unplug, plug or release, then a probe name)";
    if (verb != "attach" && verb != "detach" && verb != "unplug" && verb != "plug" && verb != "release") {
      return "error: unknown command \"" + verb +
             "\" (attach, detach, unplug, plug or release, then a probe name)";
    }
    if (name.empty()) return "error: " + verb + " needs a probe name";
    size_t index = probes_.size();
    int matches = 0;
    for (size_t i = 0; i < probes_.size(); ++i) {
      if (probes_[i]->Name() == name) {
        index = i;
        ++matches;
      }
    }
    const std::string probe = "probe \"" + name + "\"";
    if (matches == 0) return "error: no " + probe;
    if (matches > 1) return "error: " + std::to_string(matches) + " probes are named \"" + name + "\"";
    SimProbe& sim = *probes_[index];
    std::string why;
    if (verb == "attach") {
      std::string path;
      if (sim.config().FlashSize() > 0) {
        why = NewBoardFile(index, path);
        if (why.empty()) {
          why = sim.AttachBoard(path, nextSerial_[index]);
          if (why.empty()) ++nextSerial_[index];
        }
      } else {
        why = sim.AttachBoard("", nextSerial_[index]);
        if (why.empty()) ++nextSerial_[index];
      }
    } else if (verb == "detach") {
      why = sim.DetachBoard();
    } else if (verb == "unplug") {
      why = sim.Unplug();
    } else if (verb == "release") {
      why = sim.Release();
    } else {
      why = sim.Plug();
    }
    return why.empty() ? "ok" : "error: " + probe + ": " + why;
  }

  // The flash file of probe `index`'s next board: "<probe name>-<serial>.bin" beside the flash
  // file the bench file gives it. "" with `path` set, or why it cannot be.
  std::string NewBoardFile(size_t index, std::string& path) {
    SimProbe& sim = *probes_[index];
    const std::string& name = sim.config().name;
    if (name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos || name.size() > 200) {
      return "its name cannot name a flash file";
    }
    const std::filesystem::path folder = std::filesystem::path(sim.config().flashPath).parent_path();
    path = (folder / (name + "-" + std::to_string(nextSerial_[index]) + ".bin")).string();
    for (size_t i = 0; i < probes_.size(); ++i) {
      if (probes_[i]->HadFlashFile(path)) {
        return "its new board's flash file " + path + " is a flash file of " +
               (i == index ? std::string("this probe") : "probe \"" + probes_[i]->Name() + "\"");
      }
    }
    return "";
  }

  EventLog log_;  // outlives the probes, which write to it
  std::vector<std::unique_ptr<SimProbe>> probes_;
  std::vector<int> nextSerial_;  // per probe: the serial number of its next new board
  std::string controlError_;
  std::unique_ptr<ControlChannel> control_;  // last: stopped before the probes go
};

BenchLoadResult Load(const std::string& text, const std::string& name, const std::string& stateDir) {
  try {
    auto bench = std::make_unique<SimBench>(ParseBenchFile(text, name, stateDir));
    std::vector<std::string> notes;
    if (!bench->LogError().empty()) notes.push_back("PROBESIM_LOG " + bench->LogError() + "; no event log");
    if (!bench->ControlError().empty())
      notes.push_back("PROBESIM_CONTROL " + bench->ControlError() + "; no control channel");
    return {std::move(bench), "", std::move(notes)};
  } catch (const BenchFileError& e) {
    return {nullptr, e.what(), {}};
  } catch (const std::exception& e) {
    return {nullptr, name + ":1: (bench): " + e.what(), {}};
  }
}

// The whole file, or nullopt with `error` set. Never waits on the path: a FIFO opened for reading
// without O_NONBLOCK waits for a writer, and a device such as /dev/zero never ends.
std::optional<std::string> ReadBenchFile(const std::string& path, std::string& error) {
  const std::string where = path + ":0: (file): ";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    error = where + "cannot read: " + std::strerror(errno);
    return std::nullopt;
  }
  std::string text;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = where + "cannot read: " + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    error = where + "not a regular file";
  } else if (static_cast<uint64_t>(st.st_size) > kMaxBenchFileBytes) {
    error = where + "larger than 1 MiB (" + std::to_string(st.st_size) + " bytes); not read";
  } else {
    // Read one byte past the limit, in case the file grows while it is read.
    text.resize(kMaxBenchFileBytes + 1);
    size_t used = 0;
    while (used < text.size()) {
      const ssize_t n = ::read(fd, text.data() + used, text.size() - used);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = where + "cannot read: " + std::strerror(errno);
        break;
      }
      if (n == 0) break;
      used += static_cast<size_t>(n);
    }
    if (error.empty() && used > kMaxBenchFileBytes) error = where + "larger than 1 MiB; not read";
    text.resize(used);
  }
  ::close(fd);
  if (!error.empty()) return std::nullopt;
  return text;
}

SimProbe& SimOf(Bench& bench, size_t probe) {
  return dynamic_cast<SimBench&>(bench).Sim(probe);
}

}  // namespace

BenchLoadResult LoadBench(const std::string& path) {
  std::string error;
  const std::optional<std::string> text = ReadBenchFile(path, error);
  if (!text) return {nullptr, error, {}};
  return Load(*text, path, DefaultStateDir());
}

BenchLoadResult LoadBenchFromString(const std::string& toml, const std::string& name,
                                    const std::string& baseDir) {
  return Load(toml, name, baseDir.empty() ? DefaultStateDir() : baseDir);
}

std::vector<PinEvent> PinEvents(Bench& bench, size_t probe) {
  return SimOf(bench, probe).PinEventsCopy();
}
std::string FlashFilePath(Bench& bench, size_t probe) {
  return SimOf(bench, probe).FlashPath();
}
uint64_t FlashSize(Bench& bench, size_t probe) {
  return SimOf(bench, probe).config().FlashSize();
}
DownloadSummary LastDownload(Bench& bench, size_t probe) {
  return SimOf(bench, probe).LastDownloadCopy();
}

std::optional<uint64_t> PlacementOffset(Bench& bench, size_t probe, uint32_t norOffset, uint32_t block) {
  const ProbeConfig& c = SimOf(bench, probe).config();
  switch (c.flashKind) {
    case FlashKind::kNand:
      return uint64_t{block} * c.nand->block;
    case FlashKind::kNor:
      return uint64_t{norOffset % kRegionSize} + uint64_t{block} * c.nor.EraseBlock();
    default:
      return std::nullopt;
  }
}

}  // namespace probesim
