// SPDX-License-Identifier: MIT
#include "whole_runs.h"

#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <thread>

#include "bench_alone.h"
#include "bench_config.h"  // the bench's bus model (probesim/src)
#include "bench_support.h"
#include "flash_parts.h"  // its NAND parts and their programming times
#include "in_flight_bound.h"

namespace zolt::bench {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr int kRunComplete = 2;  // RunOutcome::kComplete

struct DeviceFigure {
  uint64_t bytes = 0;
  double seconds = 0;
  double cpuSeconds = 0;  // the job thread's
  double Rate() const { return seconds > 0 ? double(bytes) / seconds : 0; }
};

struct ChildDownloadResult {
  std::vector<DeviceFigure> devices;
  double cpu = 0, wall = 0;
  ChildResult process;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Runs `zolt-bench child-download ...` and reads its lines.
ChildDownloadResult RunChildDownload(int probes, const std::string& flash, double usbLatencyUs,
                                     uint64_t imageBytes, bool transfersInFlight = false) {
  ChildOptions options;
  options.env["ZOLT_TRANSFERS_IN_FLIGHT"] = transfersInFlight ? "1" : "0";
  options.argv = {ExecutableDir() + "/zolt-bench", "child-download",          std::to_string(probes), flash,
                  std::to_string(usbLatencyUs),    std::to_string(imageBytes)};
  options.captureStdout = true;
  ChildDownloadResult result;
  result.process = RunChild(options);
  std::istringstream lines(result.process.out);
  std::string key;
  int outcome = -1;
  while (lines >> key) {
    if (key == "device") {
      int d = 0;
      DeviceFigure f;
      lines >> d >> key >> f.bytes >> key >> f.seconds >> key >> f.cpuSeconds;
      result.devices.push_back(f);
    } else if (key == "cpu") {
      lines >> result.cpu;
    } else if (key == "wall") {
      lines >> result.wall;
    } else if (key == "outcome") {
      lines >> outcome;
    }
  }
  if (result.process.exitStatus != 0 || outcome != kRunComplete || int(result.devices.size()) != probes) {
    Die("download of " + std::to_string(probes) + " probe(s) did not complete (outcome " +
        std::to_string(outcome) + ", " + std::to_string(result.devices.size()) + " devices streamed)");
  }
  return result;
}

// While it lives, a child process spins one thread per CPU at SCHED_IDLE priority, which runs
// only when nothing else wants the CPU. On a virtual machine an idle CPU halts, and waking a
// thread on it takes tens of microseconds; a lone probe, whose thread sleeps 125 us per
// transfer, would pay that on every transfer, and sixteen probes, which keep the CPUs busy, would
// not, so the ratios would measure the hypervisor. With every CPU kept awake the wake-ups cost
// the same in every run, and the spinners yield at once to any real work.
class KeepAwake {
 public:
  KeepAwake() {
    pid_ = ::fork();
    if (pid_ != 0) return;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0UL, 0UL, 0UL);  // never outlives the benchmark
    const sched_param param{};
    ::sched_setscheduler(0, SCHED_IDLE, &param);
    const unsigned cpus = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> spinners;
    for (unsigned i = 1; i < cpus; ++i)
      spinners.emplace_back([] {
        for (;;) std::atomic_signal_fence(std::memory_order_seq_cst);
      });
    for (;;) std::atomic_signal_fence(std::memory_order_seq_cst);
  }
  ~KeepAwake() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  KeepAwake(const KeepAwake&) = delete;
  KeepAwake& operator=(const KeepAwake&) = delete;

 private:
  pid_t pid_ = -1;
};

}  // namespace

int ChildDownload(int probes, const std::string& flash, double usbLatencyUs, uint64_t imageBytes) {
  ScratchDir dir;
  WriteText(dir.File("bench.toml"), KeldaNandBench(probes, flash, usbLatencyUs));
  ::setenv("VORLINK_BENCH", dir.File("bench.toml").c_str(), 1);
  ::setenv("PROBESIM_STATE_DIR", dir.path().c_str(), 1);
  ::unsetenv("VORLINK_TRACE");
  ::unsetenv("PROBESIM_LOG");
  // The bench's simulated USB latency is a sleep on the job's thread. With the default 50 us timer
  // slack every sleep overshoots by up to that much, more than a third of a 125 us transfer, and
  // by how much depends on how idle the CPU is: a lone probe would look slower than sixteen.
  // Threads inherit the slack, so the jobs' sleeps end on time.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

  // The warm-up run makes the flash files (the bench erases a whole new file once), so that the
  // measured run streams into existing ones.
  WritePatternImage(dir.File("warmup.bin"), 64 * 1024);
  {
    BenchOperator warmup;
    warmup.imagePath[0] = dir.File("warmup.bin");
    if (RunDownload(warmup) != kRunComplete) {
      for (const std::string& m : warmup.Messages()) std::fprintf(stderr, "message: %s\n", m.c_str());
      std::fprintf(stderr, "%s", warmup.Log().c_str());
      return 1;
    }
  }
  WritePatternImage(dir.File("image.bin"), imageBytes);
  ::sync();
  BenchOperator op;
  op.imagePath[0] = dir.File("image.bin");
  const double cpu0 = ProcessCpuSeconds(), t0 = NowSeconds();
  const int outcome = RunDownload(op);
  const double wall = NowSeconds() - t0, cpu = ProcessCpuSeconds() - cpu0;
  for (const std::string& m : op.Messages()) std::fprintf(stderr, "message: %s\n", m.c_str());
  int d = 0;
  for (const auto& t : op.Timings()) {
    // The window runs from the first progress (the first chunk, or the first block with transfers
    // in flight) to the last: the bytes after those the first progress counted.
    if (t.streamed) {
      std::printf("device %d bytes %llu seconds %.9f cpu %.9f\n", d,
                  (unsigned long long)(t.bytes - t.firstBytes), t.lastSeconds - t.firstSeconds,
                  t.threadCpuSeconds);
    }
    ++d;
  }
  std::printf("cpu %.6f\nwall %.6f\noutcome %d\n", cpu, wall, outcome);
  return 0;
}

Figures MeasureP1() {
  constexpr uint64_t kImage = 64 * kMiB;
  constexpr double kChunks = double(kImage / 64);
  constexpr int kRounds = 3;
  Figures f;
  // Host cost is CPU time: the machine may be shared, and a busy neighbour stretches wall time.
  // Each figure is the median of three rounds, the whole path and the bench alone taking turns.
  std::vector<double> whole, wholeWall, processCpu, rate, bench, benchWall, erase;
  for (int round = 0; round < kRounds; ++round) {
    const ChildDownloadResult r = RunChildDownload(1, "K9F1G08", 0, kImage);
    const DeviceFigure& d = r.devices.at(0);
    whole.push_back(d.cpuSeconds / (double(d.bytes) / 64) * 1e6);
    wholeWall.push_back(d.seconds / (double(d.bytes) / 64) * 1e6);
    processCpu.push_back(r.cpu / kChunks * 1e6);  // whole run: set-up, erase, monitor too
    rate.push_back(d.Rate() / 1e6);
    ScratchDir dir;
    const BenchAloneResult alone = StreamBenchAlone(dir.path(), kImage, 0);
    bench.push_back(alone.cpuSeconds / double(alone.chunks) * 1e6);
    benchWall.push_back(alone.wallSeconds / double(alone.chunks) * 1e6);
    erase.push_back(alone.eraseCpuSeconds / double(alone.chunks) * 1e6);
  }
  f["p1.whole_us_per_chunk"] = Median(whole);
  f["p1.whole_wall_us_per_chunk"] = Median(wholeWall);
  f["p1.process_cpu_us_per_chunk"] = Median(processCpu);
  f["p1.whole_mb_per_s"] = Median(rate);
  f["p1.bench_us_per_chunk"] = Median(bench);
  f["p1.bench_wall_us_per_chunk"] = Median(benchWall);
  f["p1.bench_erase_us_per_chunk"] = Median(erase);
  f["p1.programmer_us_per_chunk"] = f["p1.whole_us_per_chunk"] - f["p1.bench_us_per_chunk"];
  f["p1.programmer_share"] = f["p1.programmer_us_per_chunk"] / f["p1.whole_us_per_chunk"];

  // The same through zolt-flash, the real program, with its own RunView (and no --json, so no
  // CRC-32 per chunk; BM_StreamNullLink crc:1 shows what the CRC adds). Its process CPU for the
  // 64 MiB image less that of a 64 KiB one (after a first run that made the flash file) is the cost
  // of the extra chunks and of erasing the larger range; the bench's share of both, measured alone
  // above, is taken off for the programmer's part.
  ScratchDir flashDir;
  WriteText(flashDir.File("bench.toml"), KeldaNandBench(1, "K9F1G08", 0));
  WritePatternImage(flashDir.File("small.bin"), 64 * 1024);
  WritePatternImage(flashDir.File("large.bin"), kImage);
  auto runFlash = [&](const std::string& image) {
    ChildOptions options;
    options.argv = {ExecutableDir() + "/zolt-flash",
                    "--product",
                    "KELDA",
                    "--nand",
                    "--no-verify",
                    "--image1",
                    flashDir.File(image),
                    "--block1",
                    "0"};
    options.env = {{"VORLINK_BENCH", flashDir.File("bench.toml")}, {"PROBESIM_STATE_DIR", flashDir.path()}};
    const ChildResult r = RunChild(options);
    if (r.exitStatus != 0) Die("zolt-flash ended with " + std::to_string(r.exitStatus));
    return r;
  };
  runFlash("small.bin");
  const ChildResult large = runFlash("large.bin");
  const ChildResult small = runFlash("small.bin");
  const double extraChunks = kChunks - 1024;
  f["p1.zolt_flash_us_per_chunk"] =
      (large.userSeconds + large.systemSeconds - small.userSeconds - small.systemSeconds) / extraChunks * 1e6;
  f["p1.zolt_flash_programmer_us_per_chunk"] =
      f["p1.zolt_flash_us_per_chunk"] - f["p1.bench_us_per_chunk"] - f["p1.bench_erase_us_per_chunk"];
  f["p1.zolt_flash_programmer_share"] =
      f["p1.zolt_flash_programmer_us_per_chunk"] / f["p1.zolt_flash_us_per_chunk"];
  return f;
}

Figures MeasureP2() {
  constexpr uint64_t kImage = 1 * kMiB;
  constexpr double kLatencyUs = 125;
  constexpr int kRounds = 3;
  const int counts[] = {1, 4, 16};
  Figures f;
  const KeepAwake awake;
  // Rounds alternate the probe counts, so that a change in the machine's load over the minute
  // touches every count alike; each figure is the median over the rounds.
  std::map<int, std::vector<double>> means, mins, cpu;
  for (int round = 0; round < kRounds; ++round) {
    for (int probes : counts) {
      const ChildDownloadResult r = RunChildDownload(probes, "K9F5608", kLatencyUs, kImage);
      double minRate = 1e300, sum = 0;
      for (const DeviceFigure& d : r.devices) {
        minRate = std::min(minRate, d.Rate());
        sum += d.Rate();
      }
      means[probes].push_back(sum / double(r.devices.size()));
      mins[probes].push_back(minRate);
      cpu[probes].push_back(r.cpu / r.wall);  // of one core, whole process (bench included)
    }
  }
  const double single = Median(means[1]);
  for (int probes : counts) {
    const std::string key = "p2." + std::to_string(probes);
    f[key + ".mean_kb_per_s"] = Median(means[probes]) / 1e3;
    f[key + ".min_ratio"] = Median(mins[probes]) / single;
    f[key + ".mean_ratio"] = Median(means[probes]) / single;
    f[key + ".cpu_share"] = Median(cpu[probes]);
  }
  // The same transfers with the bench driven alone on one thread: what one probe reaches on this
  // machine with no programmer at all, and what the USB latency alone would allow.
  ScratchDir dir;
  const BenchAloneResult alone = StreamBenchAlone(dir.path(), kImage, kLatencyUs);
  f["p2.bench_alone_kb_per_s"] = double(kImage) / alone.wallSeconds / 1e3;
  f["p2.latency_bound_kb_per_s"] = 2048.0 / (33 * kLatencyUs * 1e-6) / 1e3;
  return f;
}

Figures MeasureP3() {
  Figures f;
  const std::string gui = ExecutableDir() + "/zolt-bench-gui";
  if (::access(gui.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "zolt-bench: %s is not built (no Qt); P3 skipped\n", gui.c_str());
    return f;
  }
  for (const char* timing : {"realistic", "instant", "station"}) {
    ChildOptions options;
    options.argv = {gui, timing};
    options.env["QT_QPA_PLATFORM"] = "offscreen";
    options.captureStdout = true;
    const ChildResult r = RunChild(options);
    if (r.exitStatus != 0) Die("zolt-bench-gui " + std::string(timing) + " failed");
    std::istringstream lines(r.out);
    std::string key;
    double value = 0;
    while (lines >> key >> value) f["p3." + std::string(timing) + "." + key] = value;
  }
  return f;
}

Figures MeasureP4() {
  Figures f;
  ScratchDir dir;
  WriteText(dir.File("bench.toml"),
            "[bench]\ntiming = \"instant\"\n\n[[probe]]\ntarget = \"KELDA\"\n"
            "flash = \"K9K8G08\"\nflash_file = \"flash-1g.bin\"\n");
  const std::string flashFile = dir.File("flash-1g.bin");
  for (const auto& [name, size] : {std::pair<std::string, uint64_t>{"1m", kMiB}, {"1g", 1024 * kMiB}}) {
    const std::string image = dir.File("image-" + name + ".bin");
    WriteSparseImage(image, size);
    ChildOptions options;
    options.argv = {ExecutableDir() + "/zolt-flash",
                    "--product",
                    "KELDA",
                    "--nand",
                    "--no-verify",
                    "--image1",
                    image,
                    "--block1",
                    "0"};
    options.env = {{"VORLINK_BENCH", dir.File("bench.toml")}, {"PROBESIM_STATE_DIR", dir.path()}};
    options.excludedMapping = flashFile;
    const ChildResult r = RunChild(options);
    if (r.exitStatus != 0)
      Die("zolt-flash with the " + name + " image ended with " + std::to_string(r.exitStatus));
    f["p4." + name + ".vmhwm_mib"] = double(r.maxRssKiB) / 1024;
    f["p4." + name + ".rss_without_flash_mib"] = double(r.peakRssWithoutKiB) / 1024;
    f["p4." + name + ".flash_map_mib"] = double(r.peakExcludedKiB) / 1024;
    f["p4." + name + ".seconds"] = r.wallSeconds;
    ::unlink(image.c_str());
  }
  f["p4.difference_mib"] = f["p4.1g.rss_without_flash_mib"] - f["p4.1m.rss_without_flash_mib"];
  return f;
}

Figures MeasureP5() {
  Figures f;
  struct Case {
    const char* name;
    double latencyUs;
    uint64_t image;
  };
  for (const Case& c : {Case{"hs", 125, 2 * kMiB}, Case{"fs", 1000, 256 * 1024},
                        Case{"hs_in_flight", 125, 8 * kMiB}, Case{"fs_in_flight", 1000, 2 * kMiB}}) {
    // With transfers in flight a block goes several times faster, so its images are larger for a
    // run of about the same length.
    const bool inFlight = std::string_view(c.name).ends_with("_in_flight");
    ScratchDir dir;
    WriteText(dir.File("bench.toml"), KeldaNandBench(1, "K9F5608", c.latencyUs));
    const std::string image = dir.File("image.bin");
    WritePatternImage(image, c.image);
    ChildOptions options;
    options.argv = {ExecutableDir() + "/zolt-flash",
                    "--product",
                    "KELDA",
                    "--nand",
                    "--no-verify",
                    "--image1",
                    image,
                    "--block1",
                    "0"};
    if (inFlight) options.argv.push_back("--transfers-in-flight");
    options.env = {{"VORLINK_BENCH", dir.File("bench.toml")}, {"PROBESIM_STATE_DIR", dir.path()}};
    const ChildResult r = RunChild(options);
    if (r.exitStatus != 0) Die("zolt-flash in realistic timing ended with " + std::to_string(r.exitStatus));
    // The bench's own CPU for the same transfers (its sleeps and wake-ups included), measured by
    // driving it alone on one thread of this process. zolt-flash's whole CPU share is an upper
    // bound of the programmer's; the difference is an estimate, noisy when the two are close.
    const BenchAloneResult alone = StreamBenchAlone(dir.path(), c.image, c.latencyUs, inFlight);
    const std::string key = std::string("p5.") + c.name;
    const double total = r.userSeconds + r.systemSeconds;
    f[key + ".latency_us"] = c.latencyUs;
    f[key + ".wall_s"] = r.wallSeconds;
    f[key + ".cpu_share_total"] = total / r.wallSeconds;
    f[key + ".bench_cpu_s"] = alone.cpuSeconds;
    f[key + ".cpu_share_bench"] = alone.cpuSeconds / r.wallSeconds;
    f[key + ".cpu_share_programmer"] = std::max(0.0, total - alone.cpuSeconds) / r.wallSeconds;
  }
  return f;
}

Figures MeasureP6() {
  constexpr uint64_t kImage = 4 * kMiB;
  Figures f;
  const KeepAwake awake;
  const probesim::NandPart* part = probesim::NandPartByName("K9F5608");
  for (const auto& [name, latencyUs] : {std::pair<const char*, double>{"fs", 1000}, {"hs", 125}}) {
    const std::string key = std::string("p6.") + name;
    const double plain = RunChildDownload(1, "K9F5608", latencyUs, kImage, false).devices.at(0).Rate();
    const double inFlight = RunChildDownload(1, "K9F5608", latencyUs, kImage, true).devices.at(0).Rate();
    probesim::TimingConfig timing;  // the bench's bus for this latency, as KeldaNandBench leaves it
    timing.usbLatencyUs = uint32_t(latencyUs);
    StreamModel model;
    model.latencyUs = latencyUs;
    model.packetUs = timing.PacketUs();
    model.page = part->page;
    model.eraseUnit = part->block;
    model.pageProgramUs = probesim::kNandPageProgramUs;
    model.blockEraseUs = probesim::kNandBlockEraseUs;
    const double bound = InFlightBoundRate(model, kImage);
    f[key + ".sync_kb_per_s"] = plain / 1e3;
    f[key + ".in_flight_kb_per_s"] = inFlight / 1e3;
    f[key + ".gain"] = inFlight / plain;
    f[key + ".bound_kb_per_s"] = bound / 1e3;
    f[key + ".of_bound"] = inFlight / bound;
  }
  return f;
}

Figures MeasureP7() {
  constexpr uint64_t kImage = 1 * kMiB;
  Figures f;
  const KeepAwake awake;
  const double single = RunChildDownload(1, "K9F5608", 1000, kImage, true).devices.at(0).Rate();
  double slowest = 1e300;
  for (const DeviceFigure& d : RunChildDownload(16, "K9F5608", 1000, kImage, true).devices)
    slowest = std::min(slowest, d.Rate());
  f["p7.single_kb_per_s"] = single / 1e3;
  f["p7.16_min_ratio"] = slowest / single;
  return f;
}

}  // namespace zolt::bench
