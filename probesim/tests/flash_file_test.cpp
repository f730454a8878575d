// SPDX-License-Identifier: MIT
// Flash files on hostile ground: a full or read-only state folder, a creation killed halfway, a
// second owner of the same flash file, and a path that is not a regular file. A probe whose flash
// file cannot be had does not open, and says why; nothing that looks like a valid flash is left.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "board_setup.h"

namespace probesim::test {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kNorSize = 512 * 1024;  // EN29LV040A
const std::string kNorProbe = "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n";

std::string NorBench(const std::vector<std::string>& flashFiles) {
  std::string toml;
  for (const std::string& f : flashFiles) toml += kNorProbe + "flash_file = \"" + f + "\"\n";
  return toml;
}

// A tmpfs of `options` mounted on a fresh folder; unusable (mounted() false) where mounting is
// not allowed (no root, no CAP_SYS_ADMIN), and the tests that need one skip.
class Tmpfs {
 public:
  explicit Tmpfs(const std::string& options) {
    if (dir_.path().empty()) return;
    mounted_ = ::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~Tmpfs() {
    if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& path() const { return dir_.path(); }

 private:
  ScratchDir dir_;
  bool mounted_ = false;
};

// Files in `dir` whose names end in ".part": leftovers of a creation.
std::vector<std::string> PartFiles(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.path().string().ends_with(".part")) names.push_back(e.path().filename().string());
  }
  return names;
}

bool AllErased(const Bytes& flash) {
  return std::all_of(flash.begin(), flash.end(), [](uint8_t b) { return b == 0xFF; });
}

TEST(FlashFile, IsMadeErasedAtTheFirstOpenAndKeptLocked) {
  ScratchDir dir;
  auto bench = MustLoad(NorBench({"a.bin"}), dir.path());
  const std::string path = dir.path() + "/a.bin";
  EXPECT_FALSE(fs::exists(path)) << "loading writes nothing";
  ASSERT_TRUE(bench->Probe(0).Open());
  EXPECT_EQ(bench->Probe(0).OpenFailure(), "");
  const Bytes flash = ReadFile(path);
  EXPECT_EQ(flash.size(), kNorSize);
  EXPECT_TRUE(AllErased(flash));
  EXPECT_TRUE(PartFiles(dir.path()).empty());
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_GE(static_cast<uint64_t>(st.st_blocks) * 512, kNorSize) << "space reserved, no holes";
  // While the probe is open nobody else may lock the file; at close it is free again.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
  bench->Probe(0).Close();
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
}

// A state folder with room for one flash: the first probe gets it and erases all of it through
// the map (a sparse file would have died of SIGBUS here); the second probe does not open.
TEST(FlashFile, FullStateFolderKeepsTheProbeClosedAndNeverFaults) {
  Tmpfs small("size=700k");
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  auto bench = MustLoad(NorBench({"first.bin", "second.bin"}), small.path());
  {
    Host h(bench->Probe(0));
    KeldaNorReady(h);
    EXPECT_EQ(h.Code(Host::DownloadInfo(kNor, 0, 0, kNorSize, false)), 'Q');
  }
  EXPECT_TRUE(AllErased(ReadFile(small.path() + "/first.bin")));
  EXPECT_FALSE(bench->Probe(1).Open());
  EXPECT_EQ(bench->Probe(1).OpenFailure(), "probe[1]: flash file " + small.path() +
                                               "/second.bin: cannot be made: cannot reserve 524288 bytes: "
                                               "No space left on device");
  EXPECT_FALSE(fs::exists(small.path() + "/second.bin"));
  EXPECT_TRUE(PartFiles(small.path()).empty());
}

// Every way the making of a flash file fails: the probe does not open, the reason names the file
// and the cause, and neither the file nor a temporary one is left.
struct CannotMake {
  const char* name;
  std::string mountOptions;         // a tmpfs of these holds the state folder ("": a plain folder)
  std::string flashFile;            // relative to the state folder
  std::vector<std::string> reason;  // each expected after "flash file <path>: "
  std::function<void(const std::string& dir)> before;  // after the load, before the open
};

class FlashFileCannotBeMade : public ::testing::TestWithParam<CannotMake> {};

TEST_P(FlashFileCannotBeMade, TheProbeDoesNotOpenAndSaysWhy) {
  const CannotMake& c = GetParam();
  ScratchDir plain;
  std::unique_ptr<Tmpfs> mounted;
  std::string dir = plain.path();
  if (!c.mountOptions.empty()) {
    mounted = std::make_unique<Tmpfs>(c.mountOptions);
    if (!mounted->mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    dir = mounted->path();
  }
  auto bench = MustLoad(NorBench({c.flashFile}), dir);
  ASSERT_TRUE(bench);
  if (c.before) c.before(dir);
  // A file size limit sends SIGXFSZ, which a process that sets one ignores.
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  void (*savedHandler)(int) = ::signal(SIGXFSZ, SIG_IGN);
  if (std::string(c.name) == "FileSizeLimit") {
    rlimit limited = saved;
    limited.rlim_cur = 64 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &limited);
  }
  const bool opened = bench->Probe(0).Open();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, savedHandler);
  EXPECT_FALSE(opened);
  const std::string path = (fs::path(dir) / c.flashFile).lexically_normal().string();
  const std::string failure = bench->Probe(0).OpenFailure();
  EXPECT_EQ(failure.rfind("probe[0]: flash file " + path + ": ", 0), 0u) << failure;
  for (const std::string& part : c.reason) EXPECT_NE(failure.find(part), std::string::npos) << failure;
  std::error_code ec;
  if (!fs::is_fifo(path, ec)) {
    EXPECT_FALSE(fs::exists(path, ec));
  }
  const std::string folder = fs::path(path).parent_path().string();
  EXPECT_TRUE(PartFiles(folder).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FlashFileCannotBeMade,
    ::testing::Values(
        CannotMake{"NoSpace",
                   "size=256k",
                   "a.bin",
                   {"cannot be made: cannot reserve 524288 bytes: No space left"},
                   {}},
        CannotMake{"FileSizeLimit",
                   "",
                   "a.bin",
                   {"cannot be made: cannot reserve 524288 bytes: File too large"},
                   {}},
        CannotMake{"ReadOnlyFolder",
                   "size=1m",
                   "a.bin",
                   {"cannot be made: cannot create ", ": Read-only file system"},
                   [](const std::string& dir) {
                     ASSERT_EQ(::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
                   }},
        CannotMake{"ReadOnlyParentOfItsFolder",
                   "size=1m",
                   "sub/a.bin",
                   {"cannot be made: cannot create its folder ", "Read-only file system"},
                   [](const std::string& dir) {
                     ASSERT_EQ(::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
                   }},
        CannotMake{"FolderIsAFile",
                   "",
                   "plain/a.bin",
                   {"cannot be opened: Not a directory"},
                   [](const std::string& dir) { std::ofstream(dir + "/plain") << "x"; }},
        CannotMake{
            "NameTooLong", "", std::string(300, 'n') + ".bin", {"cannot be opened: File name too long"}, {}},
        CannotMake{"FifoInItsPlace",
                   "",
                   "a.bin",
                   {"not a regular file"},
                   [](const std::string& dir) { ::mkfifo((dir + "/a.bin").c_str(), 0600); }}),
    [](const auto& info) { return std::string(info.param.name); });

// A creation killed halfway (here by the file size limit's signal) leaves no file under the flash
// file's name, so the next run makes a new erased one instead of taking what was left as flash.
TEST(FlashFile, CreationKilledHalfwayIsNeverTakenAsFlash) {
  ScratchDir dir;
  const std::string toml = NorBench({"a.bin"});
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_DFL);
    rlimit limited{};
    ::getrlimit(RLIMIT_FSIZE, &limited);
    limited.rlim_cur = 64 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    auto loaded = LoadBenchFromString(toml, "test.toml", dir.path());
    if (loaded.bench) loaded.bench->Probe(0).Open();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "status " << status;
  EXPECT_FALSE(fs::exists(dir.path() + "/a.bin"));

  auto bench = MustLoad(toml, dir.path());
  ASSERT_TRUE(bench->Probe(0).Open()) << bench->Probe(0).OpenFailure();
  EXPECT_TRUE(AllErased(ReadFile(dir.path() + "/a.bin")));
  bench->Probe(0).Close();
}

// Two benches on one state folder stand for two processes (flock locks belong to the open file,
// so they exclude each other within one process too). The probe is owned while it is open: the
// owner can close and reopen it as a run does (identification, then the job), and the other side
// gets it only while the owner has it closed.
TEST(FlashFile, ASecondOwnerFindsTheProbeInUse) {
  ScratchDir dir;
  const std::string toml = NorBench({"shared.bin"});
  auto first = MustLoad(toml, dir.path());
  auto second = MustLoad(toml, dir.path());
  const std::string inUse = "probe[0]: flash file " + dir.path() + "/shared.bin: in use by another process";

  ASSERT_TRUE(first->Probe(0).Open());
  EXPECT_FALSE(second->Probe(0).Open());
  EXPECT_EQ(second->Probe(0).OpenFailure(), inUse);
  first->Probe(0).Close();
  ASSERT_TRUE(first->Probe(0).Open()) << "reopened by its owner";
  EXPECT_FALSE(second->Probe(0).Open());
  first->Probe(0).Close();

  ASSERT_TRUE(second->Probe(0).Open());
  EXPECT_EQ(second->Probe(0).OpenFailure(), "");
  EXPECT_FALSE(first->Probe(0).Open());
  EXPECT_EQ(first->Probe(0).OpenFailure(), inUse);
  second->Probe(0).Close();
}

// A probe unplugged by its fault lets go of the flash file at once, not at the end of the process.
TEST(FlashFile, UnpluggedProbeReleasesItsFlashFile) {
  ScratchDir dir;
  auto unplugging =
      MustLoad(NorBench({"shared.bin"}) + "[probe.faults]\nunplug_after_transfers = 1\n", dir.path());
  auto other = MustLoad(NorBench({"shared.bin"}), dir.path());
  Host h(unplugging->Probe(0));
  h.Exchange(Host::Short(0x01), 5);  // the write works, the read unplugs
  EXPECT_TRUE(other->Probe(0).Open()) << other->Probe(0).OpenFailure();
  other->Probe(0).Close();
}

}  // namespace
}  // namespace probesim::test
