// SPDX-License-Identifier: MIT
// BenchControl against a real bench's PROBESIM_CONTROL, and against a socket that never answers
// and a path where nobody listens (each must come back, not hang).
#include "testing/bench_control.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "probesim/bench.h"
#include "testing/scratch_dir.h"

namespace zolt::testing {
namespace {

TEST(BenchControl, DrivesTheBenchCommandByCommand) {
  ScratchDir dir;
  const std::string socket = dir / "control";
  ::setenv("PROBESIM_CONTROL", socket.c_str(), 1);
  probesim::BenchLoadResult loaded = probesim::LoadBenchFromString(
      "[[probe]]\nname = \"fixture 1\"\ntarget = \"KELDA\"\nboard = false\n", "station.toml", dir.path());
  ::unsetenv("PROBESIM_CONTROL");
  ASSERT_TRUE(loaded.bench) << loaded.error;
  BenchControl control(socket);
  EXPECT_EQ(control.Send("attach fixture 1"), "ok");
  EXPECT_EQ(control.Send("attach fixture 1"), "error: probe \"fixture 1\": it has a board");
  EXPECT_EQ(control.Send("unplug fixture 1"), "ok");
  EXPECT_FALSE(loaded.bench->Probe(0).VisibleToPrimary()) << "the reply came after the effect";
  EXPECT_EQ(control.Send("plug fixture 1\nattach x"), "(not sent: the command holds a line feed)");
  EXPECT_EQ(control.Send("plug fixture 1"), "ok");
  loaded.bench.reset();
  EXPECT_TRUE(control.Send("detach fixture 1").starts_with("(no reply: ")) << "the bench is gone";
}

TEST(BenchControl, ComesBackWhenNobodyAnswers) {
  ScratchDir dir;
  BenchControl nobody(dir / "missing", std::chrono::milliseconds(200));
  EXPECT_EQ(nobody.Send("attach a"),
            "(no reply: connect " + (dir / "missing") + ": No such file or directory)");

  // A listener that accepts (the kernel does, from the backlog) but never replies.
  const std::string path = dir / "silent";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  BenchControl silent(path, std::chrono::milliseconds(200));
  EXPECT_EQ(silent.Send("attach a"), "(no reply: time-out)");
  ::close(fd);
}

}  // namespace
}  // namespace zolt::testing
