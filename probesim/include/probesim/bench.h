// The virtual probe bench: USB JTAG probes, their firmware, target boards and flash chips in
// software, described by a TOML bench file. libVorlink.so serves both of its transports from a
// Bench when VORLINK_BENCH names a bench file; tests may also drive a Bench directly.
//
// This library shares no source with programmer/: it implements the probe's side of the
// protocol on its own, so that it cannot agree with a programmer mistake by construction.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace probesim {

enum class EndpointType : uint8_t { kControl = 0, kIsochronous = 1, kBulk = 2, kInterrupt = 3 };

struct EndpointInfo {
  uint8_t address;  // bit 7 set: IN
  EndpointType type;
  uint16_t maxPacketSize;
};

enum class TransferStatus {
  kOk,        // `count` bytes moved
  kTimeout,   // nothing (or only `count` bytes) moved before the time-out
  kNoDevice,  // the probe is unplugged (fault) or not open
  kError      // any other transfer error (stall, bad endpoint)
};

struct TransferResult {
  TransferStatus status;
  int count;
};

// One probe as the USB host sees it. Thread-safe with respect to other probes; calls for one
// probe come from one thread at a time (the link library's rule).
class BenchProbe {
 public:
  virtual ~BenchProbe() = default;
  virtual uint16_t VendorId() const = 0;   // 0x1F3A
  virtual uint16_t ProductId() const = 0;  // 0x16 unless the bench says otherwise
  virtual bool VisibleToPrimary() const = 0;
  virtual bool VisibleToLibusb0() const = 0;
  virtual uint8_t BusNumber() const = 0;
  virtual std::string PortPath() const = 0;  // e.g. "1.4"
  // Interface 0, alternate setting 0, in descriptor order.
  virtual std::vector<EndpointInfo> Endpoints() const = 0;
  // Opening fails (false) once the probe is unplugged.
  virtual bool Open() = 0;
  virtual void Close() = 0;
  // Blocks at most `timeoutMs` (scaled by the bench's time scale in realistic timing).
  virtual TransferResult BulkWrite(uint8_t endpoint, const uint8_t* data, int length, unsigned timeoutMs) = 0;
  virtual TransferResult BulkRead(uint8_t endpoint, uint8_t* data, int length, unsigned timeoutMs) = 0;
};

class Bench {
 public:
  virtual ~Bench() = default;
  // Probes in enumeration order.
  virtual size_t ProbeCount() const = 0;
  virtual BenchProbe& Probe(size_t index) = 0;
};

struct BenchLoadResult {
  std::unique_ptr<Bench> bench;  // null on error
  std::string error;             // "file:line: key: what is wrong" when bench is null
};

// Reads a bench file. Never throws. Relative and default flash file paths resolve in
// PROBESIM_STATE_DIR, else in $XDG_STATE_HOME/zolt-probesim (~/.local/state/zolt-probesim).
// Flash files are made at first use, not here. The bench's probes write PROBESIM_LOG (read
// from the environment here) while the Bench lives.
BenchLoadResult LoadBench(const std::string& path);
// Reads a bench description from TOML text; `name` stands for the file in messages and
// relative flash file paths are taken from `baseDir` (empty: as LoadBench).
BenchLoadResult LoadBenchFromString(const std::string& toml, const std::string& name, const std::string& baseDir);

}  // namespace probesim
