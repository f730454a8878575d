// SPDX-License-Identifier: MIT
// Binding the link library, and identifying probes over a scripted set of probes and targets.
#include "probe/identify.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "probe/products.h"
#include "probe_fixture.h"

namespace zolt::testing {
namespace {

// ---- Binding ---------------------------------------------------------------------------------

int SentinelOpen(int, int) {
  return 7;
}
int SentinelTransfer(int, unsigned char*, int, int*, int) {
  return 7;
}
void SentinelClose(int) {}
ProbeLink SentinelLink() {
  return {&SentinelOpen, &SentinelTransfer, &SentinelTransfer, &SentinelClose};
}

std::string ExecutableDirectory() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string p(path, n > 0 ? n : 0);
  return p.substr(0, p.rfind('/') + 1);
}

TEST(BindProbeLink, BindsTheBuiltLinkLibraryFromBesideTheExecutable) {
#ifndef ZOLT_HAVE_VORLINK
  GTEST_SKIP() << "libVorlink.so is not part of this build";
#else
  RecordingOperator op;
  ProbeLink link;
  ASSERT_EQ(BindProbeLink(link, op), 1);
  EXPECT_TRUE(op.Messages().empty());
  void* library = dlopen((ExecutableDirectory() + "libVorlink.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(library, nullptr) << "the bound library is not the one beside the executable";
  EXPECT_EQ(reinterpret_cast<void*>(link.OpenDevice), dlsym(library, "OpenDevice"));
  EXPECT_EQ(reinterpret_cast<void*>(link.Write), dlsym(library, "Write"));
  EXPECT_EQ(reinterpret_cast<void*>(link.Read), dlsym(library, "Read"));
  EXPECT_EQ(reinterpret_cast<void*>(link.Close), dlsym(library, "Close"));
  // Each RUN binds again; the library was never unloaded, so the same entries come back.
  ProbeLink again;
  ASSERT_EQ(BindProbeLink(again, op), 1);
  EXPECT_EQ(again.Read, link.Read);
#endif
}

// The loader sets no errno; the box's code tells the cause all the same, and its text is the
// loader's own reason for the same name.
TEST(BindProbeLink, AFailedLoadShowsACodeForItsCauseAndChangesNothing) {
  const std::string dir = ExecutableDirectory() + "bind-" + std::to_string(getpid());
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  std::ofstream(dir + "/not-elf.so") << "not a shared object";
  std::ofstream(dir + "/empty.so");
  std::ofstream(dir + "/unreadable.so") << "x";
  ::chmod((dir + "/unreadable.so").c_str(), 0);
  struct Case {
    std::string name;
    int code;
    bool needsNonRoot;  // root reads any file
  };
  const Case cases[] = {
      {"libzolt_no_such_link.so", ENOENT, false},         // the loader's search finds nothing
      {"/nonexistent/dir/libVorlink.so", ENOENT, false},  // a path that is not there
      {dir + "/not-elf.so/libVorlink.so", ENOTDIR, false},
      {dir, EISDIR, false},
      {dir + "/not-elf.so", ENOEXEC, false},
      {dir + "/empty.so", ENOEXEC, false},
      {dir + "/unreadable.so", EACCES, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsNonRoot && ::geteuid() == 0) continue;
    RecordingOperator op;
    ProbeLink link = SentinelLink();
    EXPECT_EQ(BindProbeLink(link, op, c.name), 0);
    EXPECT_EQ(link.OpenDevice, &SentinelOpen);
    EXPECT_EQ(link.Read, &SentinelTransfer);
    EXPECT_EQ(link.Close, &SentinelClose);
    ASSERT_EQ(dlopen(c.name.c_str(), RTLD_NOW), nullptr);
    const std::string reason = dlerror();
    ASSERT_EQ(op.ErrorMessages().size(), 1u);
    EXPECT_EQ(op.Messages().size(), 1u);
    const std::string text = op.ErrorMessages()[0];
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, std::regex("(.*), failed with error (-?[0-9]+): (.*)"))) << text;
    EXPECT_EQ(m[1].str(), c.name);
    EXPECT_EQ(std::stoi(m[2].str()), c.code) << std::strerror(std::stoi(m[2].str()));
    EXPECT_EQ(m[3].str(), reason);
  }
  std::filesystem::remove_all(dir);
}

// A copy beside the executable is the one loaded, so its own load error is the one reported.
TEST(BindProbeLink, ABrokenLibraryBesideTheExecutableIsReportedAsSuch) {
  const std::string name = "libzolt_broken_link_" + std::to_string(getpid()) + ".so";
  const std::string path = ExecutableDirectory() + name;
  {
    std::ofstream out(path);
    out << "not a shared object";
  }
  RecordingOperator op;
  ProbeLink link = SentinelLink();
  EXPECT_EQ(BindProbeLink(link, op, name), 0);
  std::remove(path.c_str());
  EXPECT_EQ(link.Write, &SentinelTransfer);
  ASSERT_EQ(op.ErrorMessages().size(), 1u);
  const std::string text = op.ErrorMessages()[0];
  EXPECT_EQ(text.rfind(name + ", failed with error " + std::to_string(ENOEXEC) + ": ", 0), 0u) << text;
  EXPECT_NE(text.find(path), std::string::npos) << text;
}

TEST(BindProbeLink, AMissingExportIsNamedAndLeavesItNullAndTheLaterEntriesAsTheyWere) {
  const char* const exports[] = {"OpenDevice", "Write", "Read", "Close"};
  for (int missing = 0; missing < 4; ++missing) {
    SCOPED_TRACE(exports[missing]);
    RecordingOperator op;
    ProbeLink link = SentinelLink();
    // Built beside this test: the four exports but the one its name gives.
    const std::string name = std::string("libzolt_partial_link_no_") + exports[missing] + ".so";
    EXPECT_EQ(BindProbeLink(link, op, name), 0);
    const void* entries[] = {reinterpret_cast<void*>(link.OpenDevice), reinterpret_cast<void*>(link.Write),
                             reinterpret_cast<void*>(link.Read), reinterpret_cast<void*>(link.Close)};
    const ProbeLink sentinel = SentinelLink();
    const void* sentinels[] = {
        reinterpret_cast<void*>(sentinel.OpenDevice), reinterpret_cast<void*>(sentinel.Write),
        reinterpret_cast<void*>(sentinel.Read), reinterpret_cast<void*>(sentinel.Close)};
    for (int e = 0; e < 4; ++e) {
      if (e < missing) {
        EXPECT_NE(entries[e], nullptr) << exports[e];
        EXPECT_NE(entries[e], sentinels[e]) << exports[e];  // bound afresh from the library
      } else if (e == missing) {
        EXPECT_EQ(entries[e], nullptr);
      } else {
        EXPECT_EQ(entries[e], sentinels[e]) << exports[e];  // the bind ended before it
      }
    }
    // One box (caption "Error") names the library, the file and the export it lacks.
    EXPECT_EQ(op.Messages().size(), 1u);
    ASSERT_EQ(op.ErrorMessages().size(), 1u);
    EXPECT_EQ(op.ErrorMessages()[0], name + ", failed with error " + std::to_string(ENOSYS) + ": " +
                                         ExecutableDirectory() + name +
                                         ": undefined symbol: " + exports[missing]);
    if (missing == 2) {
      EXPECT_EQ(link.OpenDevice(0x16, 0), 1);
      // The commands never call through the missing entry.
      ProbeCommands probe(link, op);
      EXPECT_FALSE(probe.JtagReset(0).ok());
      EXPECT_EQ(op.Messages().back(), "Cannot Read 'JTAG Reset' Response");
    }
  }
}

// ---- Identification --------------------------------------------------------------------------

// One probe on the scripted link, and the target behind it.
struct ScriptedProbe {
  bool opens = true;
  bool ourFirmware = true;
  bool resetAccepted = true;
  uint32_t jtagId = 0;
  bool idReadFails = false;
};

std::vector<uint8_t> FirmwareReply(bool ours) {
  std::string reply = ours ? "ZOLT USB JTAG 2.12" : "OTHER USB JTAG 2.12";
  reply.resize(22, '\0');
  return {reply.begin(), reply.end()};
}

struct IdentifyCase {
  std::string name;
  bool all;
  std::map<int, ScriptedProbe> probes;
  uint32_t expected;
  int result;
  std::vector<int> marked;
  std::vector<std::string> messages;
};

const uint32_t kKeldaId = kProducts[kKelda].expectedJtagId;
const uint32_t kOkoId = kProducts[kOko].expectedJtagId;

std::vector<IdentifyCase> IdentifyCases() {
  const ScriptedProbe kelda{true, true, true, kKeldaId};
  const ScriptedProbe oko{true, true, true, kOkoId};
  ScriptedProbe foreignFirmware = kelda;
  foreignFirmware.ourFirmware = false;
  ScriptedProbe deafToReset = kelda;
  deafToReset.resetAccepted = false;
  ScriptedProbe unopened = kelda;
  unopened.opens = false;
  ScriptedProbe noId{true, true, true, 0, true};
  return {
      {"FirstStopsAtTheFirstMatch", false, {{0, kelda}, {3, kelda}}, kKeldaId, 1, {0}, {}},
      {"AllMarksEveryMatch", true, {{0, kelda}, {3, kelda}, {15, kelda}}, kKeldaId, 3, {0, 3, 15}, {}},
      {"OtherTargetsDoNotMatch", true, {{1, oko}, {2, kelda}}, kOkoId, 1, {1}, {}},
      {"NoMatchingTarget", false, {{0, oko}}, kKeldaId, 0, {}, {}},
      {"ForeignFirmwareIsSkippedQuietly", false, {{0, foreignFirmware}, {4, kelda}}, kKeldaId, 1, {4}, {}},
      {"ProbeOnlyOpensWhenPresent", true, {{5, unopened}, {6, kelda}}, kKeldaId, 1, {6}, {}},
      {"AFailedResetShowsItsTextAndTheWalkGoesOn",
       true,
       {{0, deafToReset}, {1, kelda}},
       kKeldaId,
       1,
       {1},
       {"Cannot Write 'JTAG Reset' Command"}},
      // A failed ID read returns 0, which must not pass for an expected ID of 0.
      {"AFailedIdReadNeverMatches", true, {{2, noId}}, 0, 0, {}, {"Cannot Read 'JTAG ID' Response"}},
  };
}

// Failure messages name the case.
void PrintTo(const IdentifyCase& c, std::ostream* os) {
  *os << c.name;
}

class Identify : public ProbeFixture, public ::testing::WithParamInterface<IdentifyCase> {
 protected:
  void SetUp() override {
    for (int d = 0; d < kMaxProbes; ++d) {
      const auto it = GetParam().probes.find(d);
      if (it == GetParam().probes.end()) {
        link.SetOpenResult(d, 0);
        continue;
      }
      const ScriptedProbe p = it->second;
      link.SetOpenResult(d, p.opens);
      link.SetResponder(d, [p](int, const std::vector<uint8_t>& cmd, int) -> ReadReply {
        switch (cmd.at(0)) {
          case 0x98:
            return {1, FirmwareReply(p.ourFirmware)};
          case 0x11: {
            std::vector<uint8_t> bits(32);
            for (int k = 0; k < 32; ++k) bits[k] = (p.jtagId >> k) & 1;
            return {p.idReadFails ? 0 : 1, bits};
          }
          default:
            return {1, {0x51, 0, 0, 0, 0}};
        }
      });
      if (!p.resetAccepted)
        link.SetDefaultWriteResult(d, 1), link.QueueWriteResult(d, 1), link.QueueWriteResult(d, 0);
    }
  }
};

TEST_P(Identify, MarksTheProbesWhoseTargetReportsTheId) {
  const IdentifyCase& c = GetParam();
  std::array<uint8_t, kMaxProbes> slots;
  slots.fill(9);  // stale marks of an earlier run
  const uint8_t param[4] = {0x00, 0x01, 0x00, 0x01};
  const int result = c.all ? IdentifyAllProbes(probe, slots.data(), kMaxProbes, param, c.expected)
                           : IdentifyFirstProbe(probe, slots.data(), kMaxProbes, param, c.expected);
  EXPECT_EQ(result, c.result);
  std::array<uint8_t, kMaxProbes> expected{};
  for (int d : c.marked) expected[d] = 1;
  EXPECT_EQ(slots, expected);
  EXPECT_EQ(op.Messages(), c.messages);

  // Every probe that opened was closed before the next index was opened.
  int open = -1;
  for (const LinkCall& call : link.Calls()) {
    if (call.kind == LinkCall::Kind::kOpen) {
      EXPECT_EQ(open, -1) << "device " << open << " still open when " << call.device << " opened";
      EXPECT_EQ(call.productId, 0x16);
      if (call.result) open = call.device;
    } else if (call.kind == LinkCall::Kind::kClose) {
      EXPECT_EQ(call.device, open);
      open = -1;
    } else {
      EXPECT_EQ(call.device, open);
      EXPECT_EQ(call.timeoutMs, 500);
    }
  }
  EXPECT_EQ(open, -1);
  // The first-only walk never opens an index after its match.
  if (!c.all && c.result == 1) {
    for (const LinkCall& call : link.Calls()) EXPECT_LE(call.device, c.marked[0]);
  }
}

INSTANTIATE_TEST_SUITE_P(Benches, Identify, ::testing::ValuesIn(IdentifyCases()),
                         [](const auto& info) { return info.param.name; });

TEST_F(ProbeFixture, IdentificationSendsTheCheckResetsAndIdReadInOrder) {
  link.SetResponder(kDevice, [](int, const std::vector<uint8_t>& cmd, int) -> ReadReply {
    if (cmd[0] == 0x98) return {1, FirmwareReply(true)};
    return {1, std::vector<uint8_t>(32, 1)};
  });
  for (int d = 0; d < kMaxProbes; ++d) {
    if (d != kDevice) link.SetOpenResult(d, 0);
  }
  uint8_t slots[kMaxProbes];
  const uint8_t param[4] = {0x01, 0x00, 0x01, 0x01};
  EXPECT_EQ(IdentifyAllProbes(probe, slots, kMaxProbes, param, 0xFFFFFFFF), 1);
  std::vector<std::string> seen;
  for (const LinkCall& call : link.Calls(kDevice)) {
    switch (call.kind) {
      case LinkCall::Kind::kOpen:
        seen.push_back("open");
        break;
      case LinkCall::Kind::kClose:
        seen.push_back("close");
        break;
      case LinkCall::Kind::kWrite:
        seen.push_back(Hex({call.bytes.begin(), call.bytes.begin() + 1}) + "/" + std::to_string(call.length));
        break;
      case LinkCall::Kind::kRead:
        seen.push_back("R" + std::to_string(call.length));
        break;
    }
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"open", "98/45", "R22", "01/5", "R5", "02/5", "R5", "11/5", "R32",
                                            "close"}));
  EXPECT_EQ(Hex(link.Writes(kDevice).at(3)), "11 01 00 01 01");
}

}  // namespace
}  // namespace zolt::testing
