// SPDX-License-Identifier: MIT
// What the jobs' tests share: the fake bench reset per test, a recording operator, a job context
// bound to the fake link, a fake clock, and a scratch folder for image files.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fake_probe.h"
#include "jobs/job_context.h"
#include "jobs/run_settings.h"
#include "probe/products.h"
#include "probe/records.h"
#include "testing/recording_operator.h"
#include "testing/scratch_dir.h"

namespace zolt::testing {

// Writes a file of `size` bytes whose byte i is (i * 7 + seed) & 0xFF into `dir`; returns its path.
inline std::string ImageFile(const ScratchDir& dir, const std::string& name, size_t size, int seed = 1) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed)) & 0xFF);
  return dir.Write(name, bytes);
}

// The bytes of `file`, as the fake flash holds them.
inline std::vector<uint8_t> Contents(const std::string& file) {
  const std::string bytes = ReadFileBytes(file);
  return {bytes.begin(), bytes.end()};
}

// A probe of this system on a target of `product`, answering every command.
inline FakeProbeConfig ProbeFor(int product) {
  FakeProbeConfig config;
  config.present = true;
  config.jtagId = kProducts[product].expectedJtagId;
  return config;
}

// A recording operator that also counts, without a lock, the progress bar moves (tests wait for
// the monitor's first pass on it).
class TestOperator : public RecordingOperator {
 public:
  void SetProgressPos(int pos) override {
    RecordingOperator::SetProgressPos(pos);
    progressCalls.fetch_add(1);
  }
  void ShowRunState(RunState state) override {
    RecordingOperator::ShowRunState(state);
    runEnabled.store(FaceOf(state).enabled);
  }
  // True once the monitor or the toggle job has handed the STOP role to the operator.
  bool StopOffered() {
    const RunState state = ShownRunState();
    return state == RunState::kRunning || state == RunState::kToggling;
  }
  uint64_t TotalSentBytes() override {
    sumCalls.fetch_add(1);
    return RecordingOperator::TotalSentBytes();
  }
  std::atomic<int> progressCalls{0};
  std::atomic<int> sumCalls{0};  // the monitor's passes
  std::atomic<bool> runEnabled{true};
};

// Polls `done` until it holds; a hang guard of 60 s (never a timing requirement) fails the test.
inline bool WaitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "hang guard: the awaited state never came";
      return false;
    }
    std::this_thread::yield();
  }
  return true;
}

// Records each call as one line: "start 3", "file 3 1 a.bin 5000 5000 ok", "end 3 ok". Jobs on
// several threads may call it at once; read `events` once they have ended.
struct RecordingObserver : RunObserver {
  std::mutex mutex;
  std::vector<std::string> events;
  uint32_t crc = 0;
  void OnJobStarted(int device) override {
    std::lock_guard lock(mutex);
    events.push_back("start " + std::to_string(device));
  }
  void OnFileEnded(int device, int file, const std::string& path, uint64_t fileSize, uint64_t sentBytes,
                   double, uint32_t crc32, bool ok) override {
    std::lock_guard lock(mutex);
    events.push_back("file " + std::to_string(device) + " " + std::to_string(file) + " " +
                     path.substr(path.rfind('/') + 1) + " " + std::to_string(fileSize) + " " +
                     std::to_string(sentBytes) + (ok ? " ok" : " failed"));
    crc = crc32;
  }
  void OnJobEnded(int device, bool failed, const std::string& failureText) override {
    std::lock_guard lock(mutex);
    events.push_back("end " + std::to_string(device) + (failed ? " failed: " + failureText : " ok"));
  }
};

class JobFixture : public ::testing::Test {
 protected:
  JobFixture() {
    FakeBench::Get().Reset();
    FakeBench::Get().SetClock(&clock);
    ctx.link = FakeBench::Link();
  }
  ~JobFixture() override { FakeBench::Get().Reset(); }

  // Download settings as run control leaves them for `product` and a flash type.
  void SetDownload(int product, bool nand, int norType = 0, int width = 8, int interleave = 1,
                   uint32_t offset = 0) {
    op.fields.productIndex = product;
    op.fields.nandSelected = nand;
    op.fields.norSelected = !nand;
    op.norType = norType;
    op.width = width;
    op.interleave = interleave;
    op.offset = offset;
    TakeRequest();
    FillProductSettings(ctx.settings, kProducts[product]);
    FillDownloadSettings(ctx.settings, ctx.request);
  }
  // Hands the operator's settings to the context as run control does when RUN is pressed; a test
  // that runs a job itself calls it after its last change to `op`'s settings.
  void TakeRequest() {
    ctx.request = op.Request();
    ctx.verify.store(op.fields.verifyEnabled);
  }
  void MarkSlots(std::initializer_list<int> devices) {
    for (int d : devices) ctx.settings.deviceSlots[d].store(1);
    ctx.settings.runningJobCount.store(static_cast<int>(devices.size()));
  }
  void UseImages(std::initializer_list<std::string> paths) {
    int slot = 0;
    for (const std::string& path : paths) {
      op.imageEnabled[slot] = true;
      op.imagePath[slot] = path;
      ++slot;
    }
  }

  FakeBench& bench = FakeBench::Get();
  FakeClock clock;
  TestOperator op;
  JobContext ctx{op, clock};
  ScratchDir dir{"zolt-jobs"};
};

}  // namespace zolt::testing
