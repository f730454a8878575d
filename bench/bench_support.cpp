// SPDX-License-Identifier: MIT
#include "bench_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "jobs/run_control.h"

namespace zolt::bench {

namespace {
// Scratch folders alive in this process, so that Die can remove them (exit runs no destructors of
// local objects). Main thread only, as ScratchDir and Die are.
std::vector<std::string>& LiveScratchDirs() {
  static std::vector<std::string> dirs;
  return dirs;
}
}  // namespace

void Die(const std::string& text) {
  std::fprintf(stderr, "zolt-bench: %s\n", text.c_str());
  for (const std::string& dir : LiveScratchDirs()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  std::exit(1);
}

double NowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double ThreadCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double ProcessCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

ScratchDir::ScratchDir() try : zolt
  ::testing::ScratchDir("zolt-bench") {
    LiveScratchDirs().push_back(path());
  }
catch (const std::exception& e) {
  Die(e.what());
}

ScratchDir::~ScratchDir() {
  auto& dirs = LiveScratchDirs();
  dirs.erase(std::remove(dirs.begin(), dirs.end(), path()), dirs.end());
}

void WritePatternImage(const std::string& path, uint64_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Die("cannot write " + path);
  std::vector<uint8_t> block(1 << 20);
  for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t((i * 7 + i / 251) & 0x7F);
  uint64_t done = 0;
  while (done < size) {
    const size_t n = size_t(std::min<uint64_t>(block.size(), size - done));
    if (::write(fd, block.data(), n) != ssize_t(n)) Die("cannot write " + path);
    done += n;
  }
  ::close(fd);
}

void WriteSparseImage(const std::string& path, uint64_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::ftruncate(fd, off_t(size)) != 0) Die("cannot write " + path);
  ::close(fd);
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
  if (!file) Die("cannot write " + path);
}

std::string KeldaNandBench(int probes, const std::string& flash, double usbLatencyUs) {
  std::ostringstream toml;
  toml << "[bench]\n";
  if (usbLatencyUs > 0) {
    toml << "timing = \"realistic\"\nusb_latency_us = " << usbLatencyUs << "\n";
  } else {
    toml << "timing = \"instant\"\n";
  }
  for (int i = 0; i < probes; ++i) {
    toml << "\n[[probe]]\nname = \"board-" << i << "\"\ntarget = \"KELDA\"\nflash = \"" << flash << "\"\n";
  }
  return toml.str();
}

namespace {

struct SmapsSample {
  long withoutKiB = 0;
  long excludedKiB = 0;
};

// Resident set of every mapping of `pid`, split by whether the mapping is of `excluded`.
bool SampleSmaps(pid_t pid, const std::string& excluded, SmapsSample& sample) {
  std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps");
  if (!smaps) return false;
  std::string line;
  bool inExcluded = false;
  sample = {};
  while (std::getline(smaps, line)) {
    if (line.empty()) continue;
    // A mapping's header starts with its address range "start-end"; field lines with a name.
    const bool header = std::isxdigit(static_cast<unsigned char>(line[0])) && line.find('-') < line.find(' ');
    if (header) {
      inExcluded = line.size() >= excluded.size() &&
                   line.compare(line.size() - excluded.size(), excluded.size(), excluded) == 0;
      continue;
    }
    if (line.compare(0, 4, "Rss:") == 0) {
      const long kib = std::strtol(line.c_str() + 4, nullptr, 10);
      (inExcluded ? sample.excludedKiB : sample.withoutKiB) += kib;
    }
  }
  return true;
}

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

ChildResult RunChild(const ChildOptions& options) {
  ScratchDir outputs;
  const std::string outPath = outputs.File("stdout"), errPath = outputs.File("stderr");
  const double start = NowSeconds();
  const pid_t pid = ::fork();
  if (pid < 0) Die("fork failed");
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM, 0UL, 0UL, 0UL);  // ends with the benchmark, also on Ctrl-C
    for (const auto& [name, value] : options.env) ::setenv(name.c_str(), value.c_str(), 1);
    const int out =
        ::open(options.captureStdout ? outPath.c_str() : "/dev/null", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0) _exit(126);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& arg : options.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  ChildResult result;
  int status = 0;
  rusage usage{};
  for (;;) {
    if (!options.excludedMapping.empty()) {
      SmapsSample sample;
      if (SampleSmaps(pid, options.excludedMapping, sample)) {
        result.peakRssWithoutKiB = std::max(result.peakRssWithoutKiB, sample.withoutKiB);
        result.peakExcludedKiB = std::max(result.peakExcludedKiB, sample.excludedKiB);
      }
    }
    const pid_t done = ::wait4(pid, &status, options.excludedMapping.empty() ? 0 : WNOHANG, &usage);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) Die("wait4 failed");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.wallSeconds = NowSeconds() - start;
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.userSeconds = double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6;
  result.systemSeconds = double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6;
  result.maxRssKiB = usage.ru_maxrss;
  if (options.captureStdout) result.out = ReadAll(outPath);
  const std::string err = ReadAll(errPath);
  if (result.exitStatus != 0 && !err.empty()) std::fprintf(stderr, "%s", err.c_str());
  return result;
}

std::string ExecutableDir() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) Die("cannot find the executable's folder");
  return self.parent_path().string();
}

// ---- BenchOperator ---------------------------------------------------------------------------

namespace {
uint64_t NowNs() {
  return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count());
}
}  // namespace

std::vector<BenchOperator::DeviceTiming> BenchOperator::Timings() const {
  std::vector<DeviceTiming> timings(slots_.size());
  for (size_t d = 0; d < slots_.size(); ++d) {
    const Slot& s = slots_[d];
    DeviceTiming& t = timings[d];
    t.streamed = s.firstNs.load() != 0;
    t.firstSeconds = double(s.firstNs.load()) / 1e9;
    t.lastSeconds = double(s.lastNs.load()) / 1e9;
    for (const auto& sent : s.sent) t.bytes += sent.load();
    t.firstBytes = s.firstSent.load();
    t.threadCpuSeconds = s.lastCpu > s.firstCpu ? s.lastCpu - s.firstCpu : 0;
  }
  return timings;
}

std::vector<std::string> BenchOperator::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::string BenchOperator::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void BenchOperator::Append(std::string_view text) {
  std::lock_guard lock(mutex_);
  log_.append(text);
}

void BenchOperator::ShowMessage(std::string_view text) {
  std::lock_guard lock(mutex_);
  messages_.emplace_back(text);
}

void BenchOperator::ShowDeviceStates(const std::array<uint8_t, 16>&) {
  for (Slot& s : slots_) {
    s.firstNs.store(0);
    s.lastNs.store(0);
    s.firstCpu = s.lastCpu = 0;
    for (auto& sent : s.sent) sent.store(0);
    s.firstSent.store(0);
  }
}

void BenchOperator::UpdateFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize) {
  if (device < 0 || device >= 16 || file < 0 || file >= 3) return;
  Slot& s = slots_[size_t(device)];
  s.sent[file].store(sentBytes, std::memory_order_relaxed);
  // The clocks are read only at the first chunk and at the one that completes the file: a clock
  // read per chunk would cost about as much as the rest of the programmer's chunk path.
  if (s.firstNs.load(std::memory_order_relaxed) == 0) {
    s.firstNs.store(NowNs(), std::memory_order_relaxed);
    s.firstSent.store(sentBytes, std::memory_order_relaxed);
    s.firstCpu = ThreadCpuSeconds();
  } else if (sentBytes == fileSize) {
    s.lastNs.store(NowNs(), std::memory_order_relaxed);
    s.lastCpu = ThreadCpuSeconds();
  }
}

uint64_t BenchOperator::TotalSentBytes() {
  uint64_t sum = 0;
  for (const Slot& s : slots_) {
    for (const auto& sent : s.sent) sum += sent.load(std::memory_order_relaxed);
  }
  return sum;
}

int RunDownload(BenchOperator& op) {
  RunControlOptions options;
  options.libraryName = ExecutableDir() + "/libVorlink.so";
  const char* inFlight = std::getenv("ZOLT_TRANSFERS_IN_FLIGHT");
  options.transfersInFlight = inFlight != nullptr && std::string(inFlight) == "1";
  RunControl control(op, options);
  control.SetVerify(false);
  control.OnRun(op.Request());
  control.WaitForIdle();
  return int(control.LastOutcome());
}

}  // namespace zolt::bench
