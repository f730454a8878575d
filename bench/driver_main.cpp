// SPDX-License-Identifier: MIT
// zolt-bench: measures P1 to P5 against their goals, prints a table and writes every figure to
// a file. Run from the build's bin folder (it starts zolt-flash, zolt-bench-gui and itself from
// there, and the link library loads from there).
//
//   zolt-bench [--out FILE] [--normal-priority] [p1|p2|p3|p4|p5 ...]
//   default: all five, figures to zolt-bench.txt
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "station_runs.h"
#include "whole_runs.h"

namespace zolt::bench {
namespace {

const char kUsage[] =
    "usage: zolt-bench [--out FILE] [--normal-priority] [p1|p2|p3|p4|p5|s1|s2|s3 ...]\n"
    "Measures the programmer's performance on the virtual bench (Release build; takes about two\n"
    "minutes for all five) and prints each figure with its goal:\n"
    "  p1  host cost per 64-byte chunk, 64 MiB image, one probe, instant timing:\n"
    "      whole path (job, streaming, libVorlink.so, bench) and the bench alone\n"
    "  p2  per-probe rate at 4 and 16 probes as a ratio of one probe's, 125 us per USB transfer\n"
    "  p3  the Qt dialog (offscreen) during a 16-probe download: GUI timer latency, list repaints;\n"
    "      the station window with 16 boards programming: GUI timer latency, window repaints\n"
    "  p4  zolt-flash peak resident set, 1 MiB and 1 GiB (sparse) images\n"
    "  p5  zolt-flash CPU per second of a realistic single-probe run, bench excluded, also with\n"
    "      transfers in flight\n"
    "  p6  one probe, NAND 4 MiB, 1 ms and 125 us: rate with transfers in flight against one Write a chunk\n"
    "  p7  16 probes at 1 ms with transfers in flight: the slowest against one probe\n"
    "  s1  station: from a board's placing to its first set-up command, in poll periods (250 ms)\n"
    "  s2  station: 16 fixtures, boards back to back, boards per hour against 16-board batches\n"
    "  s3  station: 16 probes without boards: CPU share and transfers per second per probe\n"
    "With no part named, p1-p5 and s1-s3 are measured (s2 takes about two minutes).\n"
    "All figures go to FILE (default zolt-bench.txt in the current folder) as 'name value' lines.\n"
    "It runs in a session of its own and raises its priority (nice -10) where allowed, so that\n"
    "other work on the machine disturbs the figures less; --normal-priority leaves it as it is.\n";

struct Goal {
  const char* part;
  const char* what;
  const char* key;
  const char* unit;
  double scale;  // figure x scale is shown
  int cmp;       // -1: at most `limit`; +1: at least `limit`; 0: no goal (context)
  double limit;
};

const Goal kGoals[] = {
    {"P1", "host CPU per chunk, whole path", "p1.whole_us_per_chunk", "us", 1, -1, 2},
    {"P1", "host CPU per chunk, bench alone", "p1.bench_us_per_chunk", "us", 1, -1, 2},
    {"P1", "programmer's part (whole - bench)", "p1.programmer_us_per_chunk", "us", 1, -1, 1},
    {"P1", "programmer's share of the measured whole", "p1.programmer_share", "%", 100, -1, 50},
    {"P1", "bench alone: its erase, per chunk", "p1.bench_erase_us_per_chunk", "us", 1, 0, 0},
    {"P1", "zolt-flash CPU per chunk (erase incl.)", "p1.zolt_flash_us_per_chunk", "us", 1, -1, 2},
    {"P1", "zolt-flash: programmer's part", "p1.zolt_flash_programmer_us_per_chunk", "us", 1, -1, 1},
    {"P1", "zolt-flash: programmer's share", "p1.zolt_flash_programmer_share", "%", 100, -1, 50},
    {"P1", "wall per chunk, whole path", "p1.whole_wall_us_per_chunk", "us", 1, 0, 0},
    {"P1", "wall per chunk, bench alone", "p1.bench_wall_us_per_chunk", "us", 1, 0, 0},
    {"P1", "throughput, one probe", "p1.whole_mb_per_s", "MB/s", 1, +1, 30},
    {"P2", "USB latency bound, one probe", "p2.latency_bound_kb_per_s", "kB/s", 1, 0, 0},
    {"P2", "bench alone, one thread", "p2.bench_alone_kb_per_s", "kB/s", 1, 0, 0},
    {"P2", "1 probe: rate", "p2.1.mean_kb_per_s", "kB/s", 1, 0, 0},
    {"P2", "4 probes: slowest / 1-probe rate", "p2.4.min_ratio", "", 1, +1, 0.95},
    {"P2", "16 probes: slowest / 1-probe rate", "p2.16.min_ratio", "", 1, +1, 0.95},
    {"P2", "16 probes: mean / 1-probe rate", "p2.16.mean_ratio", "", 1, 0, 0},
    {"P2", "16 probes: process CPU (bench incl.)", "p2.16.cpu_share", "% core", 100, 0, 0},
    {"P3", "125 us USB: GUI timer latency p50", "p3.realistic.latency_p50_ms", "ms", 1, 0, 0},
    {"P3", "125 us USB: GUI timer latency p99", "p3.realistic.latency_p99_ms", "ms", 1, -1, 50},
    {"P3", "125 us USB: GUI timer latency max", "p3.realistic.latency_max_ms", "ms", 1, 0, 0},
    {"P3", "125 us USB: device list repaints", "p3.realistic.repaints_per_s", "/s", 1, -1, 33},
    {"P3", "instant: GUI timer latency p50", "p3.instant.latency_p50_ms", "ms", 1, 0, 0},
    {"P3", "instant: GUI timer latency p99", "p3.instant.latency_p99_ms", "ms", 1, -1, 50},
    {"P3", "instant: GUI timer latency max", "p3.instant.latency_max_ms", "ms", 1, 0, 0},
    {"P3", "instant: device list repaints", "p3.instant.repaints_per_s", "/s", 1, -1, 33},
    {"P3", "station, 16 boards: GUI timer latency p50", "p3.station.latency_p50_ms", "ms", 1, 0, 0},
    {"P3", "station, 16 boards: GUI timer latency p99", "p3.station.latency_p99_ms", "ms", 1, -1, 50},
    {"P3", "station, 16 boards: GUI timer latency max", "p3.station.latency_max_ms", "ms", 1, 0, 0},
    {"P3", "station, 16 boards: window repaints", "p3.station.repaints_per_s", "/s", 1, -1, 33},
    {"P4", "peak RSS, 1 MiB image (flash map excl.)", "p4.1m.rss_without_flash_mib", "MiB", 1, 0, 0},
    {"P4", "peak RSS, 1 GiB image (flash map excl.)", "p4.1g.rss_without_flash_mib", "MiB", 1, 0, 0},
    {"P4", "difference 1 GiB - 1 MiB", "p4.difference_mib", "MiB", 1, -1, 5},
    {"P4", "VmHWM 1 MiB (bench flash map incl.)", "p4.1m.vmhwm_mib", "MiB", 1, 0, 0},
    {"P4", "VmHWM 1 GiB (bench flash map incl.)", "p4.1g.vmhwm_mib", "MiB", 1, 0, 0},
    {"P5", "125 us USB: zolt-flash CPU, bench incl.", "p5.hs.cpu_share_total", "% core", 100, 0, 0},
    {"P5", "125 us USB: bench alone, same transfers", "p5.hs.cpu_share_bench", "% core", 100, 0, 0},
    {"P5", "125 us USB: difference (programmer)", "p5.hs.cpu_share_programmer", "% core", 100, -1, 10},
    {"P5", "1 ms USB: zolt-flash CPU, bench incl.", "p5.fs.cpu_share_total", "% core", 100, 0, 0},
    {"P5", "1 ms USB: bench alone, same transfers", "p5.fs.cpu_share_bench", "% core", 100, 0, 0},
    {"P5", "1 ms USB: difference (programmer)", "p5.fs.cpu_share_programmer", "% core", 100, -1, 10},
    {"P5", "125 us, in flight: zolt-flash, bench incl.", "p5.hs_in_flight.cpu_share_total", "% core", 100, 0,
     0},
    {"P5", "125 us, in flight: bench alone", "p5.hs_in_flight.cpu_share_bench", "% core", 100, 0, 0},
    {"P5", "125 us, in flight: difference (programmer)", "p5.hs_in_flight.cpu_share_programmer", "% core",
     100, -1, 10},
    {"P5", "1 ms, in flight: zolt-flash, bench incl.", "p5.fs_in_flight.cpu_share_total", "% core", 100, 0,
     0},
    {"P5", "1 ms, in flight: bench alone", "p5.fs_in_flight.cpu_share_bench", "% core", 100, 0, 0},
    {"P5", "1 ms, in flight: difference (programmer)", "p5.fs_in_flight.cpu_share_programmer", "% core", 100,
     -1, 10},
    {"P6", "1 ms USB: one Write a chunk", "p6.fs.sync_kb_per_s", "kB/s", 1, 0, 0},
    {"P6", "1 ms USB: transfers in flight", "p6.fs.in_flight_kb_per_s", "kB/s", 1, 0, 0},
    {"P6", "1 ms USB: gain", "p6.fs.gain", "x", 1, +1, 5},
    {"P6", "1 ms USB: bound of the bench's model", "p6.fs.bound_kb_per_s", "kB/s", 1, 0, 0},
    {"P6", "1 ms USB: in flight / bound", "p6.fs.of_bound", "%", 100, +1, 80},
    {"P6", "125 us USB: one Write a chunk", "p6.hs.sync_kb_per_s", "kB/s", 1, 0, 0},
    {"P6", "125 us USB: transfers in flight", "p6.hs.in_flight_kb_per_s", "kB/s", 1, 0, 0},
    {"P6", "125 us USB: gain", "p6.hs.gain", "x", 1, +1, 2},
    {"P6", "125 us USB: bound of the bench's model", "p6.hs.bound_kb_per_s", "kB/s", 1, 0, 0},
    {"P6", "125 us USB: in flight / bound", "p6.hs.of_bound", "%", 100, +1, 80},
    {"P7", "in flight, 1 ms USB: one probe", "p7.single_kb_per_s", "kB/s", 1, 0, 0},
    {"P7", "in flight: slowest of 16 / one probe", "p7.16_min_ratio", "", 1, +1, 0.9},
    {"S1", "placing to first set-up command, worst", "s1.max_periods", "periods", 1, -1, 2},
    {"S1", "placing to first set-up command, worst", "s1.max_ms", "ms", 1, 0, 0},
    {"S1", "placing to first set-up command, median", "s1.median_ms", "ms", 1, 0, 0},
    {"S2", "16-board batches with RUN", "s2.batch_boards_per_hour", "boards/h", 1, 0, 0},
    {"S2", "station, boards back to back", "s2.station_boards_per_hour", "boards/h", 1, 0, 0},
    {"S2", "station / batches", "s2.ratio", "%", 100, +1, 95},
    {"S3", "idle station, 16 probes: process CPU", "s3.cpu_share", "% core", 100, -1, 1},
    {"S3", "idle station: transfers per probe", "s3.transfers_per_s_per_probe", "/s", 1, -1, 10},
};

volatile pid_t g_sessionChild = 0;
void ForwardSignal(int sig) {
  if (g_sessionChild > 0) ::kill(g_sessionChild, sig);
}

// Runs the rest of the program in a session of its own at nice -10, where allowed. With the
// kernel's autogroups, a session's threads share one scheduling entity with a fair share against
// every other session, whatever their nice values; a session of its own, weighted up through
// /proc/self/autogroup, keeps a busy neighbour's build from setting the pace. A process cannot
// always start a session itself (not as a group leader), and a new session no longer hears the
// terminal's Ctrl-C, so a child does the work: the parent stays in the caller's process group,
// passes SIGINT, SIGTERM and SIGHUP on, and exits with the child's status.
void RaisePriority() {
  // Every scratch folder of the child goes under one folder that the parent removes once the child
  // has ended, however it ended (a Ctrl-C leaves no flash files of a gigabyte behind).
  const char* tmp = std::getenv("TMPDIR");
  std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/zolt-bench-run-XXXXXX";
  if (::mkdtemp(root.data()) == nullptr) root.clear();
  const pid_t child = ::fork();
  if (child < 0) return;  // measure in place
  if (child > 0) {
    g_sessionChild = child;
    ::signal(SIGINT, ForwardSignal);
    ::signal(SIGTERM, ForwardSignal);
    ::signal(SIGHUP, ForwardSignal);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!root.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(root, ignored);
    }
    std::exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  }
  if (!root.empty()) ::setenv("TMPDIR", root.c_str(), 1);
  ::prctl(PR_SET_PDEATHSIG, SIGTERM, 0UL, 0UL, 0UL);
  // A shell may have started the benchmark with these ignored; the forwarded signals must end it.
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGHUP, SIG_DFL);
  ::setsid();
  if (FILE* f = std::fopen("/proc/self/autogroup", "w")) {
    std::fputs("-10", f);
    std::fclose(f);
  }
  ::setpriority(PRIO_PROCESS, 0, -10);
}

// The 1-minute load average: how busy the machine was around the measurement.
double LoadAverage() {
  double load = -1;
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = -1;
    std::fclose(f);
  }
  return load;
}

std::string Verdict(const Goal& g, double shown) {
  if (g.cmp == 0) return "";
  const bool met = g.cmp < 0 ? shown <= g.limit : shown >= g.limit;
  return met ? "met" : "MISSED";
}

void PrintTable(const Figures& f, FILE* out) {
  std::fprintf(out, "%-4s %-42s %12s  %-16s %s\n", "", "figure", "value", "goal", "");
  for (const Goal& g : kGoals) {
    const auto it = f.find(g.key);
    if (it == f.end()) continue;
    const double shown = it->second * g.scale;
    char goal[40] = "";
    if (g.cmp != 0) std::snprintf(goal, sizeof goal, "%s %g %s", g.cmp < 0 ? "<=" : ">=", g.limit, g.unit);
    char value[40];
    std::snprintf(value, sizeof value, "%.3g %s", shown, g.unit);
    std::fprintf(out, "%-4s %-42s %12s  %-16s %s\n", g.part, g.what, value, goal, Verdict(g, shown).c_str());
  }
}

int Main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "child-station") == 0) return ChildStation(argv[2]);
  if (argc >= 2 && std::strcmp(argv[1], "child-download") == 0) {
    if (argc != 6) Die("child-download PROBES FLASH LATENCY_US IMAGE_BYTES");
    return ChildDownload(std::atoi(argv[2]), argv[3], std::atof(argv[4]),
                         std::strtoull(argv[5], nullptr, 10));
  }
  std::string outPath = "zolt-bench.txt";
  bool normalPriority = false;
  std::vector<std::string> parts;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--normal-priority") {
      normalPriority = true;
    } else if (arg == "--out" && i + 1 < argc) {
      outPath = argv[++i];
    } else if (arg == "p1" || arg == "p2" || arg == "p3" || arg == "p4" || arg == "p5" || arg == "p6" ||
               arg == "p7" || arg == "s1" || arg == "s2" || arg == "s3") {
      parts.push_back(arg);
    } else {
      std::fprintf(stderr, "zolt-bench: unknown argument '%s'\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (parts.empty()) parts = {"p1", "p2", "p3", "p4", "p5", "s1", "s2", "s3"};

  // The machine may be shared (builds of other work running beside): raise the benchmark's
  // priority where allowed, so that the figures tell the programmer's costs rather than how busy
  // the neighbours are. Children inherit it. Without the right to, it runs at the usual priority.
  Figures all;
  if (!normalPriority) RaisePriority();
  // The bench's simulated USB latency is a sleep; with the default 50 us timer slack each sleep
  // overshoots by up to that much, a third of a 125 us transfer. Children inherit the setting.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  errno = 0;
  all["machine.nice"] = ::getpriority(PRIO_PROCESS, 0);
  all["machine.cpus"] = double(std::thread::hardware_concurrency());
  all["machine.loadavg_before"] = LoadAverage();

  const std::pair<const char*, std::function<Figures()>> measures[] = {
      {"p1", MeasureP1}, {"p2", MeasureP2}, {"p3", MeasureP3}, {"p4", MeasureP4}, {"p5", MeasureP5},
      {"p6", MeasureP6}, {"p7", MeasureP7}, {"s1", MeasureS1}, {"s2", MeasureS2}, {"s3", MeasureS3}};
  for (const auto& [name, measure] : measures) {
    if (std::find(parts.begin(), parts.end(), name) == parts.end()) continue;
    std::fprintf(stderr, "zolt-bench: measuring %s ...\n", name);
    for (const auto& [key, value] : measure()) all[key] = value;
  }
  all["machine.loadavg_after"] = LoadAverage();
  PrintTable(all, stdout);
  std::fflush(stdout);
  FILE* out = std::fopen(outPath.c_str(), "w");
  if (!out) Die("cannot write " + outPath);
  for (const auto& [key, value] : all) std::fprintf(out, "%s %.6g\n", key.c_str(), value);
  std::fprintf(out, "\n");
  PrintTable(all, out);
  std::fclose(out);
  std::fprintf(stderr, "zolt-bench: figures written to %s\n", outPath.c_str());
  return 0;
}

}  // namespace
}  // namespace zolt::bench

int main(int argc, char** argv) {
  return zolt::bench::Main(argc, argv);
}
