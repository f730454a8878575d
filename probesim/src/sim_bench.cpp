// The Bench behind LoadBench: the probes of one bench file and their shared event log.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "bench_file.h"
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
  }
  size_t ProbeCount() const override { return probes_.size(); }
  BenchProbe& Probe(size_t index) override { return *probes_.at(index); }
  SimProbe& Sim(size_t index) { return *probes_.at(index); }

 private:
  static std::string LogPath() {
    const char* path = std::getenv("PROBESIM_LOG");
    return path != nullptr ? path : "";
  }

  EventLog log_;  // outlives the probes, which write to it
  std::vector<std::unique_ptr<SimProbe>> probes_;
};

BenchLoadResult Load(const std::string& text, const std::string& name, const std::string& stateDir) {
  try {
    BenchConfig config = ParseBenchFile(text, name, stateDir);
    for (const ProbeConfig& p : config.probes) {
      if (p.flashPath.empty()) continue;
      std::error_code ec;
      std::filesystem::create_directories(std::filesystem::path(p.flashPath).parent_path(), ec);
      if (ec) {
        return {nullptr,
                name + ":1: flash_file: cannot create the folder of " + p.flashPath + ": " + ec.message()};
      }
    }
    return {std::make_unique<SimBench>(std::move(config)), ""};
  } catch (const BenchFileError& e) {
    return {nullptr, e.what()};
  } catch (const std::exception& e) {
    return {nullptr, name + ":1: (bench): " + e.what()};
  }
}

SimProbe& SimOf(Bench& bench, size_t probe) {
  return dynamic_cast<SimBench&>(bench).Sim(probe);
}

}  // namespace

BenchLoadResult LoadBench(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {nullptr, path + ":0: (file): cannot read: " + std::strerror(errno)};
  std::ostringstream text;
  text << in.rdbuf();
  return Load(text.str(), path, DefaultStateDir());
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
