// SPDX-License-Identifier: MIT
// What a VORLINK_TRACE file says the probes were sent, for tests that compare a run streaming with
// transfers in flight against one Write a chunk.
#pragma once

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "testing/text_count.h"

namespace zolt::cli::testing {

// The OUT payloads of one device's board job, "len data" of every Write line in order (a
// WriteChunks call traces each of its chunks as such a line, after its own marker line). A
// station's polls interleave with the jobs and vary from run to run, so only the device's
// sessions (from an OpenDevice to the next) that announced a file with DownloadDataInfo (a 36-byte
// write of code 0x18) are kept: a poll never announces one.
inline std::map<int, std::vector<std::string>> JobOutPayloads(const std::string& trace) {
  std::map<int, std::vector<std::string>> session, jobs;
  std::map<int, bool> announced;
  auto endSession = [&](int dev) {
    if (announced[dev]) jobs[dev].insert(jobs[dev].end(), session[dev].begin(), session[dev].end());
    session[dev].clear();
    announced[dev] = false;
  };
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string time, devField, fn;
    fields >> time >> devField >> fn;
    if (devField.rfind("dev=", 0) != 0) continue;  // a note
    const int dev = std::stoi(devField.substr(4));
    if (fn == "fn=OpenDevice") {
      endSession(dev);
    } else if (fn == "fn=Write") {
      std::string len, count, timeout, result, data;
      fields >> len >> count >> timeout >> result >> data;
      if (len == "len=36" && data.rfind("data=18", 0) == 0) announced[dev] = true;
      session[dev].push_back(len + " " + data);
    }
  }
  for (auto& [dev, payloads] : session) {
    (void)payloads;
    endSession(dev);
  }
  return jobs;
}

inline size_t WriteChunksCalls(const std::string& trace, int device) {
  return ::zolt::testing::Count(trace, " dev=" + std::to_string(device) + " fn=WriteChunks ");
}

}  // namespace zolt::cli::testing
