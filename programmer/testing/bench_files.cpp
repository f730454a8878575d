// SPDX-License-Identifier: MIT
#include "testing/bench_files.h"

#include <stdlib.h>

#include <algorithm>
#include <sstream>

namespace zolt::testing {
namespace {

std::vector<uint8_t> Bytes(const std::string& path) {
  const std::string bytes = ReadFileBytes(path);
  return {bytes.begin(), bytes.end()};
}

}  // namespace

BenchProbe::BenchProbe(std::string target, std::string flash)
    : target(std::move(target)), flash(std::move(flash)) {}

BenchProbe& BenchProbe::Named(std::string probeName) {
  name = std::move(probeName);
  return *this;
}

BenchProbe& BenchProbe::Empty() {
  board = false;
  return *this;
}

BenchProbe& BenchProbe::Key(const std::string& line) {
  keys += line + "\n";
  return *this;
}

BenchProbe& BenchProbe::Fault(const std::string& line) {
  faults += line + "\n";
  return *this;
}

std::vector<BenchProbe> EmptyFixtures(int count, const std::string& flash) {
  std::vector<BenchProbe> probes;
  for (int i = 0; i < count; ++i)
    probes.push_back(BenchProbe("KELDA", flash).Named("f" + std::to_string(i)).Empty());
  return probes;
}

std::string RealisticTiming(double usbLatencyUs) {
  std::ostringstream keys;
  keys << "timing = \"realistic\"\nusb_latency_us = " << usbLatencyUs << "\n";
  return keys.str();
}

std::string BenchToml(const std::vector<BenchProbe>& probes, const std::string& benchKeys) {
  std::string toml;
  if (!benchKeys.empty()) toml += "[bench]\n" + benchKeys;
  for (const BenchProbe& p : probes) {
    toml += "[[probe]]\n";
    if (!p.name.empty()) toml += "name = \"" + p.name + "\"\n";
    toml += "target = \"" + p.target + "\"\nflash = \"" + p.flash + "\"\n" + p.keys;
    if (!p.board) toml += "board = false\n";
    if (!p.faults.empty()) toml += "[probe.faults]\n" + p.faults;
  }
  return toml;
}

void BenchFiles::Use(const std::string& toml, unsigned with) const {
  dir_.Write("bench.toml", toml);
  ::setenv("VORLINK_BENCH", BenchPath().c_str(), 1);
  ::setenv("PROBESIM_STATE_DIR", dir_.path().c_str(), 1);
  if ((with & kWithEventLog) != 0) {
    ::setenv("PROBESIM_LOG", EventLogPath().c_str(), 1);
  } else {
    ::unsetenv("PROBESIM_LOG");
  }
  if ((with & kWithControl) != 0) {
    ::setenv("PROBESIM_CONTROL", ControlPath().c_str(), 1);
  } else {
    ::unsetenv("PROBESIM_CONTROL");
  }
  ::unsetenv("VORLINK_TRACE");
}

std::vector<uint8_t> BenchFiles::Flash(int probe) const {
  return Bytes(dir_.File("bench-" + std::to_string(probe) + ".bin"));
}

std::vector<uint8_t> BenchFiles::BoardFlash(const std::string& name, int serial) const {
  return Bytes(dir_.File(name + "-" + std::to_string(serial) + ".bin"));
}

bool Holds(const std::vector<uint8_t>& flash, size_t offset, const std::vector<uint8_t>& image) {
  return flash.size() >= offset + image.size() &&
         std::equal(image.begin(), image.end(), flash.begin() + offset);
}

void SelectKeldaNor(RecordingOperator& op, const std::string& image) {
  op.fields.productIndex = 1;  // KELDA
  op.fields.nandSelected = false;
  op.fields.norSelected = true;
  op.norType = 1;  // EN29LV040A
  op.imagePath = {image, "", ""};
  op.imageBlock = {1, 0, 0};
}

}  // namespace zolt::testing
