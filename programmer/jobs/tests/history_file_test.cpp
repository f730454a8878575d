// SPDX-License-Identifier: MIT
// The board history file: what a path may name, whole lines from several writers, a full disk.
#include "jobs/history_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <vector>

#include "testing/scratch_dir.h"

namespace zolt {
namespace {

using ::zolt::testing::ReadFileBytes;
using ::zolt::testing::ScratchDir;

BoardRecord Board(uint64_t sequence, const std::string& host = "h") {
  BoardRecord r;
  r.sequence = sequence;
  r.startedUtc = "2026-12-10T20:41:07.123Z";
  r.device = static_cast<int>(sequence % 16);
  r.product = "KELDA";
  r.host = host;
  return r;
}

std::vector<nlohmann::json> Lines(const std::string& path) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(ReadFileBytes(path));
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

TEST(HistoryFile, TakesRegularFilesAndLinksToThemOnly) {
  ScratchDir dir("history");
  const mode_t oldMask = ::umask(022);
  dir.Write("old.jsonl", "{\"event\":\"ended\"}\n");
  std::filesystem::create_symlink(dir / "old.jsonl", dir / "link.jsonl");
  std::filesystem::create_symlink(dir / "made-through-link.jsonl", dir / "dangling.jsonl");
  std::filesystem::create_directories(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dir / "read-fifo").c_str(), 0600), 0);
  // A FIFO with a reader opens without blocking; it must be refused all the same.
  const int reader = ::open((dir / "read-fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);

  struct Case {
    const char* name;
    std::string path;
    const char* errorHas;  // "" when the path takes the history
    std::string written;   // the file that must end with the line
    size_t lines;          // lines in it afterwards
    bool made = false;     // the history made the file: mode 0644
  };
  const Case cases[] = {
      {"new file", dir / "new.jsonl", "", dir / "new.jsonl", 1, true},
      {"existing file", dir / "old.jsonl", "", dir / "old.jsonl", 2},
      {"link to a file", dir / "link.jsonl", "", dir / "old.jsonl", 3},
      {"dangling link", dir / "dangling.jsonl", "", dir / "made-through-link.jsonl", 1, true},
      {"folder", dir / "folder", "Is a directory", "", 0},
      {"FIFO without a reader", dir / "fifo", "a FIFO keeps nothing", "", 0},
      {"FIFO with a reader", dir / "read-fifo", "a FIFO keeps nothing", "", 0},
      {"device", "/dev/null", "a device keeps no history", "", 0},
      {"missing folder", dir / "no/such/history.jsonl", "No such file or directory", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    auto history = HistoryFile::Open(c.path, &error);
    if (*c.errorHas != '\0') {
      EXPECT_EQ(history, nullptr);
      EXPECT_EQ(error.rfind(c.path + ": ", 0), 0u) << error;
      EXPECT_NE(error.find(c.errorHas), std::string::npos) << error;
      continue;
    }
    ASSERT_NE(history, nullptr) << error;
    ASSERT_TRUE(history->Append(Board(1), false, &error)) << error;
    const auto lines = Lines(c.written);
    ASSERT_EQ(lines.size(), c.lines);
    EXPECT_EQ(lines.back()["event"], "started");
    struct stat st {};
    ASSERT_EQ(::lstat(c.written.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    if (c.made) {
      EXPECT_EQ(st.st_mode & 0777, 0644u);
    }
    EXPECT_TRUE(history->IsFile(c.written));
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.jsonl"));
  char byte;
  EXPECT_LE(::read(reader, &byte, 1), 0) << "nothing went into the FIFO";
  ::close(reader);
  std::string error;
  EXPECT_EQ(HistoryFile::Open("", &error), nullptr);
  ::umask(oldMask);
}

// Two threads of this program and a second program append to one file at once: every line comes
// out whole, each writer's lines in its order.
TEST(HistoryFile, WritersNeverInterleave) {
  ScratchDir dir("history");
  const std::string path = dir / "shared.jsonl";
  constexpr int kLines = 100;
  // Long lines: a write that the kernel split would show.
  const std::string longHost(3000, 'x');

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto history = HistoryFile::Open(path, nullptr);
    bool ok = history != nullptr;
    for (int i = 0; ok && i < kLines; ++i) ok = history->Append(Board(i, "child" + longHost), true, nullptr);
    _exit(ok ? 0 : 1);
  }
  std::string error;
  auto history = HistoryFile::Open(path, &error);
  ASSERT_NE(history, nullptr) << error;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (const char* name : {"a", "b"}) {
    threads.emplace_back([&, name] {
      for (int i = 0; i < kLines; ++i) {
        if (!history->Append(Board(i, name + longHost), i % 2 == 1, nullptr)) failures.fetch_add(1);
      }
    });
  }
  for (auto& t : threads) t.join();
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(failures.load(), 0);

  std::map<std::string, uint64_t> next;
  const auto lines = Lines(path);  // throws on a broken line
  ASSERT_EQ(lines.size(), 3u * kLines);
  for (const auto& line : lines) {
    const std::string writer = line["host"].get<std::string>().substr(0, line["host"].size() - 3000);
    EXPECT_EQ(line["sequence"].get<uint64_t>(), next[writer]++) << writer;
  }
  EXPECT_EQ(next.size(), 3u);
}

// The disk fills (here: the file size limit, which fails writes as a full disk does) in a child,
// so that the limit stays there. A line cut short is taken back; the cause names the file.
TEST(HistoryFile, FullDiskFailsTheAppendAndKeepsWholeLines) {
  ScratchDir dir("history");
  const std::string path = dir / "full.jsonl";
  const std::string first = "{\"event\":\"started\"}\n";
  dir.Write("full.jsonl", first);

  struct Case {
    const char* name;
    rlim_t room;  // bytes the file may still grow
    const char* errorHas;
  };
  const Case cases[] = {
      {"part of the line fits", 40, "only 40 of "},
      {"nothing fits", 0, "File too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(pipeFds[0]);
      ::signal(SIGXFSZ, SIG_IGN);  // as zolt-flash does: the write fails instead of killing us
      const rlimit limit{first.size() + c.room, first.size() + c.room};
      std::string error;
      auto history = HistoryFile::Open(path, &error);
      const bool ok = history != nullptr && ::setrlimit(RLIMIT_FSIZE, &limit) == 0 &&
                      history->Append(Board(1, std::string(500, 'h')), true, &error);
      (void)!::write(pipeFds[1], error.data(), error.size());
      _exit(ok ? 0 : 1);
    }
    ::close(pipeFds[1]);
    std::string error;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) error.append(buffer, n);
    ::close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "the append must fail: " << error;
    EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(c.errorHas), std::string::npos) << error;
    EXPECT_EQ(ReadFileBytes(path), first) << "no part of a line is left";
  }
}

// A real full disk: a tiny tmpfs, filled but for a few bytes. Needs the right to mount.
TEST(HistoryFile, FullTmpfsFailsTheAppendWithItsCause) {
  ScratchDir dir("history");
  const std::string full = dir / "full";
  std::filesystem::create_directory(full);
  if (::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
  const std::string path = full + "/history.jsonl";
  std::string error;
  auto history = HistoryFile::Open(path, &error);
  ASSERT_NE(history, nullptr) << error;
  ASSERT_TRUE(history->Append(Board(1), false, &error)) << error;
  const std::string before = ReadFileBytes(path);
  {
    // Fill the rest of the file system.
    const int filler = ::open((full + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const std::string block(4096, 'f');
    while (::write(filler, block.data(), block.size()) > 0) {
    }
    ::close(filler);
  }
  bool failed = false;
  // Lines until the page the file already has is full too.
  for (int i = 0; i < 100 && !failed; ++i) failed = !history->Append(Board(2 + i), true, &error);
  EXPECT_TRUE(failed) << "a full disk took every line";
  EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
  EXPECT_TRUE(error.find("No space left on device") != std::string::npos ||
              error.find("only ") != std::string::npos)
      << error;
  const std::string after = ReadFileBytes(path);
  EXPECT_EQ(after.rfind(before, 0), 0u);
  EXPECT_TRUE(after.empty() || after.back() == '\n') << "no part of a line is left";
  for (const auto& line : Lines(path)) EXPECT_TRUE(line.is_object());
  history.reset();
  ::umount2(full.c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace zolt
