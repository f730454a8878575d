// SPDX-License-Identifier: MIT
// PROBESIM_CONTROL: the replies to every kind of line, boards that come and go (JTAG ID, flash
// files, a download cut short), probes unplugged and plugged in again, the event log, and the
// socket path on hostile ground.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "board_setup.h"
#include "control_client.h"
#include "testing/bench_events.h"

namespace probesim::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kKeldaId = 0x00AECADD;
constexpr std::array<uint8_t, 4> kKeldaParam = {0, 1, 0, 1};
constexpr uint64_t kNorSize = 512 * 1024;  // EN29LV040A

std::string Probe(const std::string& name, const std::string& extra = "") {
  return "[[probe]]\nname = \"" + name + "\"\ntarget = \"KELDA\"\n" + extra;
}

bool AllErased(const Bytes& flash, size_t from = 0) {
  return std::all_of(flash.begin() + static_cast<long>(from), flash.end(),
                     [](uint8_t b) { return b == 0xFF; });
}

struct ControlledBench {
  ControlledBench(const std::string& toml, const std::string& log = "") : socket(dir / "control.sock") {
    BenchLoadResult loaded = LoadWithControl(toml, dir.path(), socket, log);
    EXPECT_TRUE(loaded.bench) << loaded.error;
    EXPECT_TRUE(loaded.notes.empty()) << loaded.notes.front();
    bench = std::move(loaded.bench);
  }
  ScratchDir dir;
  std::string socket;
  std::unique_ptr<Bench> bench;
};

TEST(Control, EveryLineGetsOneReplyAfterItsEffect) {
  ControlledBench b(Probe("a") + Probe("empty", "board = false\n") + Probe("twin") + Probe("twin") +
                    Probe("probe with spaces"));
  ControlClient control(b.socket);
  ASSERT_TRUE(control.connected());
  const std::string usage = " (attach, detach, unplug, plug or release, then a probe name)";
  struct Step {
    std::string line;  // sent with "\n"
    std::string reply;
  };
  const Step steps[] = {
      {"attach a", "error: probe \"a\": it has a board"},
      {"detach a", "ok"},
      {"detach a", "error: probe \"a\": it has no board"},
      {"attach a", "ok"},
      {"attach empty", "ok"},
      {"detach probe with spaces", "ok"},
      {"unplug a", "ok"},
      {"unplug a", "error: probe \"a\": it is unplugged"},
      {"plug a", "ok"},
      {"plug a", "error: probe \"a\": it is plugged in"},
      {"attach nobody", "error: no probe \"nobody\""},
      {"attach a ", "error: no probe \"a \""},
      {"attach twin", "error: 2 probes are named \"twin\""},
      {"attach", "error: attach needs a probe name"},
      {"", "error: empty line" + usage},
      {"reboot a", "error: unknown command \"reboot\"" + usage},
      {"Attach a", "error: unknown command \"Attach\"" + usage},
      {"detach a\r", "ok"},  // a CR LF line end
      {std::string(5000, 'x'), "error: line longer than 4096 bytes"},
      {"attach a", "ok"},  // the connection is still served
  };
  for (const Step& s : steps) EXPECT_EQ(control.Send(s.line), s.reply) << "line: " << s.line.substr(0, 40);

  // Lines sent together are answered in order; a second client is served alongside.
  ControlClient other(b.socket);
  EXPECT_EQ(control.SendRaw("unplug a\nplug a\n"), "ok");
  EXPECT_EQ(other.Send("detach a"), "ok");
  EXPECT_EQ(control.SendRaw(""), "ok");  // the reply to "plug a", still waiting
}

TEST(Control, AttachedBoardReadsItsIdAtOnceAndADetachedOneReadsOnes) {
  ControlledBench b(Probe("f", "board = false\n") + Probe("g"));
  ControlClient control(b.socket);
  Host f(b.bench->Probe(0));
  EXPECT_EQ(f.JtagId(kKeldaParam), 0xFFFFFFFFu) << "no board: TDO pulled up";
  Resets(f);
  EXPECT_EQ(f.JtagId(kKeldaParam), 0xFFFFFFFFu);

  ASSERT_EQ(control.Send("attach f"), "ok");
  EXPECT_EQ(f.JtagId(kKeldaParam), kKeldaId) << "after power-up the TAP is in Test-Logic-Reset";
  ASSERT_EQ(control.Send("detach f"), "ok");
  EXPECT_EQ(f.JtagId(kKeldaParam), 0xFFFFFFFFu);
  EXPECT_EQ(f.FlashId(kNor, 1, 8, 1), (std::array<uint16_t, 4>{0, 0, 0, 0}));
  ASSERT_EQ(control.Send("attach f"), "ok");
  EXPECT_EQ(f.JtagId(kKeldaParam), kKeldaId);

  // The board the bench file starts with is as before: its ID reads after the two resets.
  Host g(b.bench->Probe(1));
  EXPECT_EQ(g.JtagId(kKeldaParam), 0u);
  Resets(g);
  EXPECT_EQ(g.JtagId(kKeldaParam), kKeldaId);
}

// Programs `bytes` of `value` at flash offset 0 and returns the last block response code.
int Program(Host& h, size_t bytes, uint8_t value) {
  KeldaNorReady(h);
  if (h.Code(Host::DownloadInfo(kNor, 0, 0, static_cast<uint32_t>(bytes), false)) != 'Q') return -1;
  int code = -1;
  for (size_t sent = 0; sent < bytes; sent += 64) {
    h.Write(Bytes(64, value));
    if ((sent + 64) % 2048 == 0) {
      auto a = h.Read(5);
      code = a ? (*a)[0] : -1;
    }
  }
  return code;
}

TEST(Control, EachNewBoardHasItsOwnFreshlyErasedFlashFile) {
  ControlledBench b(Probe("n", "flash = \"EN29LV040A\"\nflash_file = \"start.bin\"\n"));
  // Left by an earlier bench process: a full board's flash and a file of the wrong size.
  ASSERT_NO_THROW(b.dir.Write("n-1.bin", std::string(kNorSize, '\0')));
  ASSERT_NO_THROW(b.dir.Write("n-2.bin", "short"));
  ControlClient control(b.socket);
  {
    Host h(b.bench->Probe(0));
    ASSERT_EQ(Program(h, 2048, 0x00), 0x60);
    ASSERT_EQ(control.Send("detach n"), "ok");
    EXPECT_EQ(FlashFilePath(*b.bench, 0), "") << "no board, no flash";
    ASSERT_EQ(control.Send("attach n"), "ok");  // open: its file is made now
    EXPECT_EQ(FlashFilePath(*b.bench, 0), b.dir / "n-1.bin");
    const Bytes first = ReadFile(b.dir / "n-1.bin");
    EXPECT_EQ(first.size(), kNorSize);
    EXPECT_TRUE(AllErased(first)) << "a new board's flash is erased, whatever the file held";
    ASSERT_EQ(Program(h, 4096, 0x11), 0x60);
    ASSERT_EQ(control.Send("detach n"), "ok");
  }
  // Closed: the next board's file is made when the probe is opened.
  ASSERT_EQ(control.Send("attach n"), "ok");
  EXPECT_EQ(ReadFile(b.dir / "n-2.bin").size(), 5u);
  {
    Host h(b.bench->Probe(0));
    const Bytes second = ReadFile(b.dir / "n-2.bin");
    EXPECT_EQ(second.size(), kNorSize);
    EXPECT_TRUE(AllErased(second));
  }
  // Every board kept what it was given.
  const Bytes start = ReadFile(b.dir / "start.bin");
  ASSERT_EQ(start.size(), kNorSize);
  EXPECT_TRUE(std::all_of(start.begin(), start.begin() + 2048, [](uint8_t v) { return v == 0; }));
  EXPECT_TRUE(AllErased(start, 2048));
  const Bytes first = ReadFile(b.dir / "n-1.bin");
  EXPECT_TRUE(std::all_of(first.begin(), first.begin() + 4096, [](uint8_t v) { return v == 0x11; }));
  EXPECT_TRUE(AllErased(first, 4096));
}

TEST(Control, BoardDetachedDuringADownloadFailsItAndNothingMoreIsProgrammed) {
  ControlledBench b(Probe("d", "flash = \"EN29LV040A\"\n"));
  ControlClient control(b.socket);
  Host h(b.bench->Probe(0));
  KeldaNorReady(h);
  ASSERT_EQ(h.Code(Host::DownloadInfo(kNor, 0, 0, 4096, false)), 'Q');
  for (int i = 0; i < 16; ++i) h.Write(Bytes(64, 0x22));  // 1024 bytes
  const std::string path = FlashFilePath(*b.bench, 0);
  ASSERT_EQ(control.Send("detach d"), "ok");
  for (int i = 0; i < 8; ++i) EXPECT_EQ(h.Write(Bytes(64, 0x22)).status, TransferStatus::kOk);
  // A new board placed before the host has sent the rest: the probe's download has failed, and
  // none of the rest reaches the new board.
  ASSERT_EQ(control.Send("attach d"), "ok");
  for (int i = 0; i < 8; ++i) EXPECT_EQ(h.Write(Bytes(64, 0x22)).status, TransferStatus::kOk);
  auto reply = h.Read(5);
  ASSERT_TRUE(reply);
  EXPECT_EQ((*reply)[0], 0x55) << "program failure";
  EXPECT_EQ((*reply)[1] | ((*reply)[2] << 8), 1024) << "at the first byte that was not programmed";
  EXPECT_TRUE(AllErased(ReadFile(b.dir / "d-1.bin")));
  // The probe takes commands again; without a board nothing erases.
  ASSERT_EQ(control.Send("detach d"), "ok");
  EXPECT_EQ(h.Code(Host::DownloadInfo(kNor, 0, 0, 4096, false)), 0x52);
  EXPECT_EQ(h.JtagId(kKeldaParam), 0xFFFFFFFFu);
  const Bytes flash = ReadFile(path);
  ASSERT_EQ(flash.size(), kNorSize);
  EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + 1024, [](uint8_t v) { return v == 0x22; }));
  EXPECT_TRUE(AllErased(flash, 1024));
}

TEST(Control, UnpluggedProbeLeavesTheBusAndItsOpenHandleDies) {
  ControlledBench b(Probe("u", "flash = \"EN29LV040A\"\n"));
  ControlClient control(b.socket);
  BenchProbe& probe = b.bench->Probe(0);
  ASSERT_TRUE(probe.Open());
  const uint64_t generation = probe.Generation();
  const Bytes reset = Host::Short(0x01);
  ASSERT_EQ(control.Send("unplug u"), "ok");
  EXPECT_EQ(probe.BulkWrite(0x01, reset.data(), 5, 500).status, TransferStatus::kNoDevice);
  EXPECT_FALSE(probe.VisibleToPrimary());
  EXPECT_FALSE(probe.VisibleToLibusb0());
  EXPECT_FALSE(probe.Open());
  EXPECT_NE(probe.Generation(), generation);
  // The flash file is let go: another owner could take it now.
  const int fd = ::open(FlashFilePath(*b.bench, 0).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
  ASSERT_EQ(control.Send("plug u"), "ok");
  EXPECT_TRUE(probe.VisibleToPrimary());
  ASSERT_TRUE(probe.Open());
  EXPECT_EQ(probe.BulkWrite(0x01, reset.data(), 5, 500).status, TransferStatus::kOk);
  probe.Close();
}

TEST(Control, EventLogRecordsBoardsAndPlugs) {
  ScratchDir logDir;
  const std::string log = logDir / "events.log";
  ControlledBench b(Probe("x") + Probe("y", "board = false\n"), log);
  ControlClient control(b.socket);
  for (const char* line : {"detach x", "attach y", "attach x", "unplug y", "plug y", "attach x"})
    control.Send(line);
  // Without the time: "p=0 t_us=123 detach board=0" -> "p=0 detach board=0".
  std::vector<std::string> events;
  for (const zolt::testing::BenchEvent& e : zolt::testing::ReadBenchEvents(log))
    events.push_back("p=" + std::to_string(e.probe) + " " + e.what);
  EXPECT_EQ(events, (std::vector<std::string>{"p=0 detach board=0", "p=1 attach board=1",
                                              "p=0 attach board=1", "p=1 unplug", "p=1 plug"}));
}

// What may sit at the socket's path: only a socket nobody listens on is replaced.
TEST(Control, PathThatIsNotAFreeSocketIsLeftAloneAndNoted) {
  struct Case {
    const char* name;
    std::function<void(const std::string& path, const std::string& dir)> make;
    std::string note;  // after "PROBESIM_CONTROL <path>: "; empty: the channel serves
  };
  int listener = -1;
  auto bindSocket = [&](const std::string& path, bool keepListening) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    if (keepListening) {
      ASSERT_EQ(::listen(fd, 1), 0);
      listener = fd;
    } else {
      ::close(fd);  // a stale socket file remains
    }
  };
  const Case cases[] = {
      {"regular file", [](const std::string& p, const std::string&) { std::ofstream(p) << "keep me"; },
       "exists and is not a socket"},
      {"folder", [](const std::string& p, const std::string&) { fs::create_directory(p); },
       "exists and is not a socket"},
      {"FIFO", [](const std::string& p, const std::string&) { ::mkfifo(p.c_str(), 0600); },
       "exists and is not a socket"},
      {"symbolic link to a socket path",
       [](const std::string& p, const std::string& d) { fs::create_symlink(d + "/elsewhere.sock", p); },
       "exists and is not a socket"},
      {"socket another process listens on",
       [&](const std::string& p, const std::string&) { bindSocket(p, true); },
       "another process listens on it"},
      {"stale socket", [&](const std::string& p, const std::string&) { bindSocket(p, false); }, ""},
      {"no such folder", [](const std::string&, const std::string&) {},
       "cannot listen: No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string path =
        std::string(c.name) == "no such folder" ? dir / "missing/control.sock" : dir / "c.sock";
    c.make(path, dir.path());
    BenchLoadResult loaded = LoadWithControl(Probe("p"), dir.path(), path);
    ASSERT_TRUE(loaded.bench) << "the bench still serves its probes";
    if (c.note.empty()) {
      EXPECT_TRUE(loaded.notes.empty());
      ControlClient control(path);
      EXPECT_EQ(control.Send("detach p"), "ok");
      struct stat st {};
      ASSERT_EQ(::stat(path.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0600u) << "for its owner only";
      loaded.bench.reset();
      EXPECT_FALSE(fs::exists(fs::symlink_status(path))) << "removed when the bench ends";
    } else {
      ASSERT_EQ(loaded.notes.size(), 1u);
      EXPECT_EQ(loaded.notes[0], "PROBESIM_CONTROL " + path + ": " + c.note + "; no control channel");
    }
    if (std::string(c.name) == "regular file") {
      EXPECT_EQ(zolt::testing::ReadFileBytes(path), "keep me");
    }
    if (listener >= 0) {
      EXPECT_TRUE(fs::exists(fs::symlink_status(path))) << "another's socket is not removed";
      ::close(listener);
      listener = -1;
    }
  }
  // A path longer than a socket address can hold.
  ScratchDir dir;
  const std::string longPath = dir.path() + "/" + std::string(120, 's');
  BenchLoadResult loaded = LoadWithControl(Probe("p"), dir.path(), longPath);
  ASSERT_EQ(loaded.notes.size(), 1u);
  EXPECT_NE(loaded.notes[0].find("not a socket path of 1 to 107 bytes"), std::string::npos)
      << loaded.notes[0];
}

// Commands fall between the transfers of a probe driven from another thread: every ID read is the
// board's or the empty fixture's, never a mix, and nothing is torn.
TEST(Control, CommandsFallBetweenTheTransfersOfAnotherThread) {
  ControlledBench b(Probe("t", "flash = \"EN29LV040A\"\n"));
  BenchProbe& probe = b.bench->Probe(0);
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, odd{0};
  std::thread host([&] {
    const Bytes command = Host::Short(0x11, kKeldaParam);
    while (!done) {
      if (!probe.Open()) continue;  // unplugged just now
      for (int i = 0; i < 50; ++i) {
        uint8_t answer[32];
        if (probe.BulkWrite(0x01, command.data(), 5, 500).status != TransferStatus::kOk) break;
        const TransferResult r = probe.BulkRead(0x82, answer, 32, 500);
        if (r.status != TransferStatus::kOk) continue;
        uint32_t id = 0;
        for (int k = 0; k < 32; ++k) id |= static_cast<uint32_t>(answer[k] & 1) << k;
        ++reads;
        if (id != kKeldaId && id != 0xFFFFFFFFu && id != 0) ++odd;
      }
      probe.Close();
    }
  });
  ControlClient control(b.socket);
  for (int round = 0; round < 25; ++round) {
    for (const char* line : {"detach t", "attach t", "unplug t", "plug t"})
      ASSERT_EQ(control.Send(line), "ok");
  }
  done = true;
  host.join();
  EXPECT_EQ(odd, 0) << "of " << reads << " reads";
  EXPECT_EQ(FlashFilePath(*b.bench, 0), b.dir / "t-25.bin");
}

TEST(Control, BoardKeyTakesTrueOrFalse) {
  ScratchDir dir;
  const BenchLoadResult loaded = LoadBenchFromString(Probe("p", "board = \"no\"\n"), "test.toml", dir.path());
  EXPECT_EQ(loaded.error, "test.toml:4: probe[0].board: true or false is needed");
}

// A client still connected when the bench ends does not hold it up, and gets no half line.
TEST(Control, BenchEndsWhileAClientIsConnected) {
  auto b = std::make_unique<ControlledBench>(Probe("p"));
  ControlClient control(b->socket);
  ASSERT_EQ(control.Send("detach p"), "ok");
  const std::string socket = b->socket;
  b.reset();
  EXPECT_TRUE(control.Send("attach p").starts_with("(no")) << "not served any more";
  EXPECT_FALSE(fs::exists(socket));
}

// hold_at_transfer: that transfer waits, with the probe's lock let go, until `release`; an unplug
// fails it instead. Meanwhile the control socket is served.
TEST(Control, HeldTransferWaitsForReleaseOrFailsOnUnplug) {
  for (const char* ending : {"release h", "unplug h"}) {
    SCOPED_TRACE(ending);
    ScratchDir logDir;
    const std::string log = logDir / "events.log";
    ControlledBench b(Probe("h", "flash = \"EN29LV040A\"\n[probe.faults]\nhold_at_transfer = 2\n"), log);
    ControlClient control(b.socket);
    EXPECT_EQ(control.Send("release h"), "error: probe \"h\": it holds no transfer");
    BenchProbe& probe = b.bench->Probe(0);
    ASSERT_TRUE(probe.Open());
    const Bytes reset = Host::Short(0x01);
    ASSERT_EQ(probe.BulkWrite(0x01, reset.data(), 5, 500).status, TransferStatus::kOk);
    std::atomic<bool> returned{false};
    TransferStatus second = TransferStatus::kError;
    std::thread host([&] {
      second = probe.BulkWrite(0x01, reset.data(), 5, 500).status;
      returned = true;
    });
    auto events = [&] {
      std::ifstream in(log);
      return std::string(std::istreambuf_iterator<char>(in), {});
    };
    // A hang guard, not a timing: the event comes once the transfer waits.
    for (int i = 0; i < 10000 && events().find(" hold\n") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_NE(events().find(" hold\n"), std::string::npos);
    EXPECT_EQ(control.Send("detach h"), "ok");  // the lock is free while it waits
    EXPECT_FALSE(returned);
    EXPECT_EQ(control.Send(ending), "ok");
    host.join();
    const bool released = std::string(ending).starts_with("release");
    EXPECT_EQ(second, released ? TransferStatus::kOk : TransferStatus::kNoDevice);
    EXPECT_EQ(probe.BulkWrite(0x01, reset.data(), 5, 500).status,
              released ? TransferStatus::kOk : TransferStatus::kNoDevice);
    EXPECT_EQ(events().find(" release\n") != std::string::npos, released);
    probe.Close();
  }
}

}  // namespace
}  // namespace probesim::test
