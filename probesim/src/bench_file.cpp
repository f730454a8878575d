// SPDX-License-Identifier: MIT
#include "bench_file.h"

#include <sys/stat.h>
#include <toml++/toml.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string_view>

namespace probesim {
namespace {

namespace fs = std::filesystem;

// Keeps the file name and reports "file:line: key: what".
class Reader {
 public:
  explicit Reader(std::string file) : file_(std::move(file)) {}

  [[noreturn]] void Fail(const toml::source_region& where, const std::string& key,
                         const std::string& what) const {
    throw BenchFileError(file_ + ":" + std::to_string(where.begin.line) + ": " + key + ": " + what);
  }

  void OnlyKeys(const toml::table& table, const std::string& prefix,
                std::initializer_list<std::string_view> known) const {
    for (auto&& [key, node] : table) {
      if (std::find(known.begin(), known.end(), key.str()) == known.end()) {
        Fail(key.source(), prefix + std::string(key.str()), "unknown key");
      }
    }
  }

  int64_t Integer(const toml::node& node, const std::string& key, int64_t min, int64_t max) const {
    const auto* v = node.as_integer();
    if (v == nullptr) Fail(node.source(), key, "an integer is needed");
    const int64_t value = v->get();
    if (value < min || value > max) {
      Fail(node.source(), key,
           std::to_string(value) + " is outside " + std::to_string(min) + " to " + std::to_string(max));
    }
    return value;
  }

  double Number(const toml::node& node, const std::string& key, double min, double max) const {
    double value;
    if (const auto* f = node.as_floating_point()) {
      value = f->get();
    } else if (const auto* i = node.as_integer()) {
      value = static_cast<double>(i->get());
    } else {
      Fail(node.source(), key, "a number is needed");
    }
    if (!(value >= min && value <= max))
      Fail(node.source(), key, "must lie between " + std::to_string(min) + " and " + std::to_string(max));
    return value;
  }

  std::string String(const toml::node& node, const std::string& key) const {
    const auto* v = node.as_string();
    if (v == nullptr) Fail(node.source(), key, "a text in quotes is needed");
    return v->get();
  }

  bool Boolean(const toml::node& node, const std::string& key) const {
    const auto* v = node.as_boolean();
    if (v == nullptr) Fail(node.source(), key, "true or false is needed");
    return v->get();
  }

  const toml::array& Array(const toml::node& node, const std::string& key) const {
    const auto* v = node.as_array();
    if (v == nullptr) Fail(node.source(), key, "an array [ ... ] is needed");
    return *v;
  }

 private:
  std::string file_;
};

std::string Join(const std::vector<std::string_view>& names) {
  std::string s;
  for (auto n : names) s += (s.empty() ? "" : ", ") + std::string(n);
  return s;
}

struct BenchDefaults {
  TimingConfig timing;
  uint64_t seed = 1;
};

void ReadTiming(const Reader& r, const toml::table& t, const std::string& prefix, TimingConfig& timing) {
  if (const auto* n = t.get("timing")) {
    const std::string v = r.String(*n, prefix + "timing");
    if (v != "instant" && v != "realistic")
      r.Fail(n->source(), prefix + "timing", "\"" + v + "\" is not \"instant\" or \"realistic\"");
    timing.realistic = v == "realistic";
  }
  if (const auto* n = t.get("time_scale")) timing.scale = r.Number(*n, prefix + "time_scale", 1e-6, 1000);
  if (const auto* n = t.get("usb_latency_us"))
    timing.usbLatencyUs = static_cast<uint32_t>(r.Integer(*n, prefix + "usb_latency_us", 0, 1000000));
  if (const auto* n = t.get("bus")) {
    const std::string v = r.String(*n, prefix + "bus");
    if (v != "full" && v != "high")
      r.Fail(n->source(), prefix + "bus", "\"" + v + "\" is not \"full\" or \"high\"");
    timing.bus = v == "full" ? BusSpeed::kFull : BusSpeed::kHigh;
  }
}

AnswerKeySet ReadAnswerKeys(const Reader& r, const toml::node& node, const std::string& key) {
  AnswerKeySet set;
  for (const toml::node& item : r.Array(node, key)) {
    if (const auto* s = item.as_string()) {
      if (s->get() != "block")
        r.Fail(item.source(), key, "\"" + s->get() + "\" is not a command code or \"block\"");
      set.set(kBlockAnswerKey);
    } else {
      set.set(static_cast<size_t>(r.Integer(item, key, 0, 255)));
    }
  }
  return set;
}

std::vector<uint64_t> ReadOffsets(const Reader& r, const toml::node& node, const std::string& key,
                                  uint64_t limit, const char* what) {
  std::vector<uint64_t> values;
  for (const toml::node& item : r.Array(node, key)) {
    const int64_t v = r.Integer(item, key, 0, INT64_MAX);
    if (static_cast<uint64_t>(v) >= limit) {
      r.Fail(item.source(), key,
             std::to_string(v) + " lies beyond the " + what + " (" + std::to_string(limit) + ")");
    }
    values.push_back(static_cast<uint64_t>(v));
  }
  return values;
}

void ReadFaults(const Reader& r, const toml::table& t, const std::string& prefix, ProbeConfig& p) {
  r.OnlyKeys(t, prefix,
             {"unplug_after_transfers", "unplug_after_bytes", "hold_at_transfer", "no_answer", "late_answer",
              "garbled_answer", "firmware_prefix", "bootloader_prefix", "bad_sectors", "bad_blocks",
              "program_fail", "stuck_bits", "read_fault", "debug_switch", "config_register_ignores_writes",
              "random_program_fails", "random_stuck_bits", "random_bad_blocks"});
  FaultConfig& f = p.faults;
  const uint64_t flashSize = p.FlashSize();
  const bool nor = p.flashKind == FlashKind::kNor;
  const bool nand = p.flashKind == FlashKind::kNand;
  auto needFlash = [&](const toml::node& n, const std::string& key, bool ok, const char* what) {
    if (!ok) r.Fail(n.source(), key, std::string("needs ") + what);
  };
  std::mt19937_64 random(p.seed * 0x2545F4914F6CDD1Dull);

  for (auto&& [k, node] : t) {
    const std::string key = prefix + std::string(k.str());
    const std::string_view name = k.str();
    if (name == "unplug_after_transfers") {
      f.unplugAfterTransfers = r.Integer(node, key, 0, INT64_MAX);
    } else if (name == "unplug_after_bytes") {
      f.unplugAfterBytes = r.Integer(node, key, 0, INT64_MAX);
    } else if (name == "hold_at_transfer") {
      f.holdAtTransfer = r.Integer(node, key, 1, INT64_MAX);
    } else if (name == "no_answer") {
      f.noAnswer = ReadAnswerKeys(r, node, key);
    } else if (name == "late_answer") {
      f.lateAnswer = ReadAnswerKeys(r, node, key);
    } else if (name == "garbled_answer") {
      f.garbledAnswer = ReadAnswerKeys(r, node, key);
    } else if (name == "firmware_prefix") {
      f.firmwarePrefix = r.String(node, key);
      if (f.firmwarePrefix->size() > 13) r.Fail(node.source(), key, "at most 13 characters");
    } else if (name == "bootloader_prefix") {
      f.bootloaderPrefix = r.String(node, key);
      if (f.bootloaderPrefix->size() > 27) r.Fail(node.source(), key, "at most 27 characters");
    } else if (name == "bad_sectors") {
      needFlash(node, key, nor, "a NOR flash");
      f.badSectors = ReadOffsets(r, node, key, flashSize, "flash");
    } else if (name == "bad_blocks") {
      needFlash(node, key, nand, "a NAND flash");
      f.badBlocks = ReadOffsets(r, node, key, flashSize / p.nand->block, "last block");
    } else if (name == "program_fail") {
      needFlash(node, key, nor || nand, "a flash");
      f.programFail = ReadOffsets(r, node, key, flashSize, "flash");
    } else if (name == "read_fault") {
      needFlash(node, key, nor || nand, "a flash");
      f.readFault = ReadOffsets(r, node, key, flashSize, "flash");
    } else if (name == "stuck_bits") {
      needFlash(node, key, nor || nand, "a flash");
      for (const toml::node& item : r.Array(node, key)) {
        const auto* entry = item.as_table();
        if (entry == nullptr)
          r.Fail(item.source(), key, "each entry is { address = ..., mask = ..., value = 0 or 1 }");
        r.OnlyKeys(*entry, key + ".", {"address", "mask", "value"});
        const auto* address = entry->get("address");
        const auto* mask = entry->get("mask");
        if (address == nullptr || mask == nullptr) r.Fail(item.source(), key, "address and mask are needed");
        StuckBit s{static_cast<uint64_t>(
                       r.Integer(*address, key + ".address", 0, static_cast<int64_t>(flashSize) - 1)),
                   static_cast<uint8_t>(r.Integer(*mask, key + ".mask", 1, 255)), 1};
        if (const auto* value = entry->get("value"))
          s.value = static_cast<uint8_t>(r.Integer(*value, key + ".value", 0, 1));
        f.stuckBits.push_back(s);
      }
    } else if (name == "debug_switch") {
      f.debugSwitch = r.Boolean(node, key);
      if (f.debugSwitch && p.product != Product::kSolant)
        r.Fail(node.source(), key, "only a SOLANT target has a debug switch");
    } else if (name == "config_register_ignores_writes") {
      f.configIgnoresWrites = r.Boolean(node, key);
      if (f.configIgnoresWrites && !Model(p.product).norByDebug) {
        r.Fail(node.source(), key, "only TARVIS and SOLANT targets have a flash configuration register");
      }
    } else if (name == "random_program_fails" || name == "random_stuck_bits") {
      needFlash(node, key, nor || nand, "a flash");
      const int64_t count = r.Integer(node, key, 0, 1000);
      for (int64_t i = 0; i < count; ++i) {
        const uint64_t at = random() % flashSize;
        if (name == "random_program_fails") {
          f.programFail.push_back(at);
        } else {
          f.stuckBits.push_back({at, static_cast<uint8_t>(1u << (random() % 8)), 1});
        }
      }
    } else if (name == "random_bad_blocks") {
      needFlash(node, key, nand, "a NAND flash");
      const int64_t count = r.Integer(node, key, 0, 1000);
      for (int64_t i = 0; i < count; ++i) f.badBlocks.push_back(random() % (flashSize / p.nand->block));
    }
  }
  std::sort(f.programFail.begin(), f.programFail.end());
  std::sort(f.readFault.begin(), f.readFault.end());
  std::sort(f.stuckBits.begin(), f.stuckBits.end(),
            [](const StuckBit& a, const StuckBit& b) { return a.address < b.address; });
}

void ReadFlash(const Reader& r, const toml::table& t, const std::string& prefix, ProbeConfig& p) {
  const toml::node* flashNode = t.get("flash");
  const std::string flash = flashNode ? r.String(*flashNode, prefix + "flash") : "none";
  const ProductModel& model = Model(p.product);
  auto onlyNor = [&](const char* key) {
    if (const auto* n = t.get(key); n && p.flashKind != FlashKind::kNor)
      r.Fail(n->source(), prefix + key, "only for a NOR flash");
  };
  if (flash == "none") {
    p.flashKind = FlashKind::kNone;
  } else if (const NorPart* nor = NorPartByName(flash)) {
    p.flashKind = FlashKind::kNor;
    p.nor.part = nor;
    if (!model.norByBoundary && !model.norByDebug)
      r.Fail(flashNode->source(), prefix + "flash",
             std::string("a ") + model.name + " target has no flash the probe can reach");
    if (p.product == Product::kTarvis && std::string_view(nor->name) != "EN29LV010A" &&
        std::string_view(nor->name) != "EN29LV040A") {
      r.Fail(flashNode->source(), prefix + "flash", "a TARVIS board carries an EN29LV010A or EN29LV040A NOR");
    }
  } else if (const NandPart* nand = NandPartByName(flash)) {
    p.flashKind = FlashKind::kNand;
    p.nand = nand;
    if (!model.nandByBoundary)
      r.Fail(flashNode->source(), prefix + "flash",
             std::string("a ") + model.name + " target has no NAND the probe can reach");
  } else {
    r.Fail(flashNode->source(), prefix + "flash",
           "unknown flash part \"" + flash + "\" (NOR: " + Join(NorPartNames()) +
               "; NAND: " + Join(NandPartNames()) + "; or none)");
  }
  onlyNor("width");
  onlyNor("interleave");
  onlyNor("boot");
  onlyNor("chip_select");
  if (p.flashKind != FlashKind::kNor) return;

  p.nor.width = (p.nor.part->widths & 2) ? 16 : 8;
  if (const auto* n = t.get("width")) {
    p.nor.width = static_cast<int>(r.Integer(*n, prefix + "width", 8, 16));
    const int bit = p.nor.width == 8 ? 1 : p.nor.width == 16 ? 2 : 0;
    if ((p.nor.part->widths & bit) == 0)
      r.Fail(n->source(), prefix + "width",
             std::string(p.nor.part->name) + " has no " + std::to_string(p.nor.width) + "-bit mode");
  }
  if (const auto* n = t.get("interleave"))
    p.nor.interleave = static_cast<int>(r.Integer(*n, prefix + "interleave", 1, 2));
  const int busWidth = p.nor.width * p.nor.interleave;
  if (std::find(model.norBusWidths.begin(), model.norBusWidths.end(), busWidth) == model.norBusWidths.end()) {
    const auto* n = t.get("interleave") ? t.get("interleave") : t.get("width") ? t.get("width") : flashNode;
    r.Fail(n->source(), prefix + "interleave",
           std::string("a ") + model.name + " board has no " + std::to_string(busWidth) + "-bit NOR bus");
  }
  if (const auto* n = t.get("boot")) {
    const std::string boot = r.String(*n, prefix + "boot");
    if (boot != "top" && boot != "bottom")
      r.Fail(n->source(), prefix + "boot", "\"top\" or \"bottom\" is needed");
    if (p.nor.part->deviceBottom8 == 0 && p.nor.part->deviceBottom16 == 0 && boot == "bottom") {
      r.Fail(n->source(), prefix + "boot", std::string(p.nor.part->name) + " has no bottom-boot variant");
    }
    p.nor.bottomBoot = boot == "bottom";
  }
  if (const auto* n = t.get("chip_select")) {
    p.chipSelect = static_cast<int>(r.Integer(*n, prefix + "chip_select", 0, 7));
    if (model.norByBoundary && model.chipSelectCell[static_cast<size_t>(p.chipSelect)] < 0) {
      r.Fail(n->source(), prefix + "chip_select",
             std::string(model.name) + " has no chip-select cell for region " + std::to_string(p.chipSelect));
    }
  }
}

ProbeConfig ReadProbe(const Reader& r, const toml::table& t, size_t index, const BenchDefaults& defaults,
                      const std::string& benchStem, const std::string& stateDir) {
  const std::string prefix = "probe[" + std::to_string(index) + "].";
  r.OnlyKeys(t, prefix, {"name",       "firmware",       "bootloader",  "product_id", "usb",
                         "target",     "jtag_id",        "jtag_param",  "flash",      "width",
                         "interleave", "boot",           "chip_select", "flash_file", "timing",
                         "time_scale", "usb_latency_us", "bus",         "board",      "faults"});
  ProbeConfig p;
  p.timing = defaults.timing;
  p.seed = defaults.seed + index;
  p.name = "probe " + std::to_string(index);
  if (const auto* n = t.get("name")) p.name = r.String(*n, prefix + "name");
  if (const auto* n = t.get("firmware")) {
    p.firmware = r.String(*n, prefix + "firmware");
    if (p.firmware.size() > 5) r.Fail(n->source(), prefix + "firmware", "at most 5 characters");
  }
  if (const auto* n = t.get("bootloader")) {
    const std::string v = r.String(*n, prefix + "bootloader");
    if (v.size() > 5) r.Fail(n->source(), prefix + "bootloader", "at most 5 characters, or \"none\"");
    p.bootloader = v == "none" ? std::nullopt : std::optional<std::string>(v);
  }
  if (const auto* n = t.get("product_id"))
    p.productId = static_cast<uint16_t>(r.Integer(*n, prefix + "product_id", 0, 0xFFFF));
  if (const auto* n = t.get("usb")) {
    const std::string v = r.String(*n, prefix + "usb");
    if (v != "primary" && v != "libusb0" && v != "both")
      r.Fail(n->source(), prefix + "usb", "\"primary\", \"libusb0\" or \"both\" is needed");
    p.visiblePrimary = v != "libusb0";
    p.visibleLibusb0 = v != "primary";
  }
  const auto* targetNode = t.get("target");
  if (targetNode == nullptr)
    r.Fail(t.source(), prefix + "target", "missing (TARVIS, KELDA, VTN3300, OKO, SOLANT or custom)");
  const std::string target = r.String(*targetNode, prefix + "target");
  const auto product = ProductByName(target);
  if (!product)
    r.Fail(targetNode->source(), prefix + "target",
           "\"" + target + "\" is not TARVIS, KELDA, VTN3300, OKO, SOLANT or custom");
  p.product = *product;
  p.jtagId = Model(p.product).jtagId;
  p.jtagParam = Model(p.product).jtagParam;
  if (const auto* n = t.get("jtag_id")) {
    p.jtagId = static_cast<uint32_t>(r.Integer(*n, prefix + "jtag_id", 0, 0xFFFFFFFFll));
  } else if (p.product == Product::kCustom) {
    r.Fail(targetNode->source(), prefix + "jtag_id", "a custom target needs its jtag_id");
  }
  if (const auto* n = t.get("jtag_param")) {
    const toml::array& a = r.Array(*n, prefix + "jtag_param");
    if (a.size() != 4) r.Fail(n->source(), prefix + "jtag_param", "four bytes are needed");
    for (size_t i = 0; i < 4; ++i)
      p.jtagParam[i] = static_cast<uint8_t>(r.Integer(*a.get(i), prefix + "jtag_param", 0, 255));
  }
  if (const auto* n = t.get("board")) p.board = r.Boolean(*n, prefix + "board");
  ReadTiming(r, t, prefix, p.timing);
  ReadFlash(r, t, prefix, p);

  const auto* fileNode = t.get("flash_file");
  if (fileNode != nullptr && p.flashKind == FlashKind::kNone)
    r.Fail(fileNode->source(), prefix + "flash_file", "the board has no flash");
  if (p.flashKind != FlashKind::kNone) {
    fs::path file = fileNode ? fs::path(r.String(*fileNode, prefix + "flash_file"))
                             : fs::path(benchStem + "-" + std::to_string(index) + ".bin");
    if (file.empty()) r.Fail(fileNode->source(), prefix + "flash_file", "empty");
    if (file.is_relative() && stateDir.empty()) {
      r.Fail(fileNode ? fileNode->source() : t.source(), prefix + "flash_file",
             "no folder for flash files: set PROBESIM_STATE_DIR (XDG_STATE_HOME and HOME are unset or not "
             "absolute paths), or give an absolute flash_file");
    }
    if (file.is_relative()) file = fs::path(stateDir) / file;
    p.flashPath = file.lexically_normal().string();
    struct stat st {};
    if (::stat(p.flashPath.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) != p.FlashSize()) {
      r.Fail(fileNode ? fileNode->source() : t.source(), prefix + "flash_file",
             p.flashPath + " holds " + std::to_string(st.st_size) + " bytes but the flash has " +
                 std::to_string(p.FlashSize()) + "; delete it or name another file");
    }
  }
  if (const auto* n = t.get("faults")) {
    const auto* faults = n->as_table();
    if (faults == nullptr) r.Fail(n->source(), prefix + "faults", "a table [probe.faults] is needed");
    ReadFaults(r, *faults, prefix + "faults.", p);
  }
  return p;
}

// toml++ 3.3's whitespace test (is_non_ascii_horizontal_whitespace) reaches
// __builtin_unreachable(), undefined behaviour, for the code points below; the parser applies it to
// characters outside strings, after a backslash and in other places that cannot be told apart
// without parsing. This is that test's own table walk: true where it would reach the unreachable.
bool TomlWhitespaceTestFails(char32_t c) {
  if (c <= 0xA0 || c >= 0xFEFF || c == 0x3000) return false;
  const uint64_t child = (static_cast<uint64_t>(c) - 0xA0) / 0x3FA;
  return ((uint64_t{1} << child) & 0x7FFFFFFFFFFFF75Eull) == 0 && child != 5 && child != 7;
}

// Refuses, before the parser sees them, the code points on which toml++ would go astray
// (U+00A1 to U+0499, U+2C6E to U+3067 but U+3000, U+FC26 to U+FEFE), wherever they stand.
void RefuseCodePointsTheParserMishandles(const std::string& text, const std::string& name) {
  size_t line = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n') ++line;
    if (byte < 0xC0 || byte >= 0xF0) continue;  // ASCII, continuation bytes, 4-byte sequences
    const size_t length = byte < 0xE0 ? 2 : 3;
    if (i + length > text.size()) break;
    char32_t c = byte & (length == 2 ? 0x1F : 0x0F);
    for (size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    if (TomlWhitespaceTestFails(c)) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      throw BenchFileError(name + ":" + std::to_string(line) + ": (syntax): the character " + code +
                           " is not accepted (the TOML reader mishandles it)");
    }
  }
}

}  // namespace

std::string DefaultStateDir() {
  if (const char* dir = std::getenv("PROBESIM_STATE_DIR"); dir != nullptr && *dir != '\0') return dir;
  // A relative XDG_STATE_HOME is to be ignored; a relative HOME is as good as none. There is no
  // shared fall-back such as /tmp: anyone could make the folder there first.
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg == '/') {
    return (fs::path(xdg) / "zolt-probesim").string();
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    return (fs::path(home) / ".local" / "state" / "zolt-probesim").string();
  }
  return "";
}

BenchConfig ParseBenchFile(const std::string& text, const std::string& name, const std::string& stateDir) {
  const Reader r(name);
  toml::table root;
  RefuseCodePointsTheParserMishandles(text, name);
  try {
    root = toml::parse(text, name);
  } catch (const toml::parse_error& e) {
    throw BenchFileError(name + ":" + std::to_string(e.source().begin.line) +
                         ": (syntax): " + std::string(e.description()));
  }
  r.OnlyKeys(root, "", {"bench", "probe"});
  BenchDefaults defaults;
  if (const auto* n = root.get("bench")) {
    const auto* bench = n->as_table();
    if (bench == nullptr) r.Fail(n->source(), "bench", "a table [bench] is needed");
    r.OnlyKeys(*bench, "bench.", {"timing", "time_scale", "usb_latency_us", "bus", "seed"});
    ReadTiming(r, *bench, "bench.", defaults.timing);
    if (const auto* s = bench->get("seed"))
      defaults.seed = static_cast<uint64_t>(r.Integer(*s, "bench.seed", 0, INT64_MAX));
  }
  BenchConfig config;
  const auto* probesNode = root.get("probe");
  if (probesNode == nullptr) return config;  // a bench with no probe attached
  const auto* probes = probesNode->as_array();
  if (probes == nullptr || !probes->is_array_of_tables())
    r.Fail(probesNode->source(), "probe", "probes are listed as [[probe]] tables");
  if (probes->size() > 32) r.Fail(probes->get(32)->source(), "probe", "at most 32 probes");

  std::string stem = fs::path(name).filename().string();
  if (stem.size() > 5 && stem.ends_with(".toml")) stem.resize(stem.size() - 5);
  std::set<std::string> files;
  for (size_t i = 0; i < probes->size(); ++i) {
    const toml::table& t = *probes->get(i)->as_table();
    ProbeConfig p = ReadProbe(r, t, i, defaults, stem, stateDir);
    if (!p.flashPath.empty() && !files.insert(p.flashPath).second) {
      const auto* n = t.get("flash_file");
      r.Fail(n ? n->source() : t.source(), "probe[" + std::to_string(i) + "].flash_file",
             p.flashPath + " is already the flash of another probe");
    }
    config.probes.push_back(std::move(p));
  }
  return config;
}

}  // namespace probesim
