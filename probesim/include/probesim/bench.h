// SPDX-License-Identifier: MIT
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
  // The probe's name in the bench file ("line-1"; "probe <index>" when it has none).
  virtual std::string Name() const { return {}; }
  virtual uint16_t VendorId() const = 0;   // 0x1F3A
  virtual uint16_t ProductId() const = 0;  // 0x16 unless the bench says otherwise
  virtual bool VisibleToPrimary() const = 0;
  virtual bool VisibleToLibusb0() const = 0;
  virtual uint8_t BusNumber() const = 0;
  virtual std::string PortPath() const = 0;  // e.g. "1.4"
  // Interface 0, alternate setting 0, in descriptor order.
  virtual std::vector<EndpointInfo> Endpoints() const = 0;
  // Opening fails (false) once the probe is unplugged, and when the board's flash file cannot be
  // had: it cannot be made (no space, no permission), or another process has the probe open.
  virtual bool Open() = 0;
  // Why the last Open on this probe failed, for the link library's trace: "probe[<index>]: flash
  // file <path>: in use by another process", for example. Empty when it did not fail, or failed
  // only because the probe is unplugged. Called on the thread that called Open.
  virtual std::string OpenFailure() { return {}; }
  virtual void Close() = 0;
  // Counts the times the probe left the bus (PROBESIM_CONTROL's unplug). A handle opened under an
  // earlier count is dead: its transfers fail as with no device, and its close leaves the probe's
  // later opens alone, as with a real device that was unplugged and plugged in again.
  virtual uint64_t Generation() const { return 0; }
  // Blocks at most `timeoutMs` (scaled by the bench's time scale in realistic timing).
  virtual TransferResult BulkWrite(uint8_t endpoint, const uint8_t* data, int length, unsigned timeoutMs) = 0;
  virtual TransferResult BulkRead(uint8_t endpoint, uint8_t* data, int length, unsigned timeoutMs) = 0;
  // `count` writes of `length` bytes each, taken one after the other from `data`, that the host
  // submitted together (all in flight at once): the probe takes them in order, as from BulkWrite
  // after BulkWrite, and stops at the first that does not complete whole. Returns how many did
  // (`count` when all did); *failed (when count is not reached) is the result of the one that
  // did not. In realistic timing the whole costs one transfer's latency plus the packets at the
  // bus's rate instead of one latency per write. By default one BulkWrite after another.
  virtual int BulkWriteChunks(uint8_t endpoint, const uint8_t* data, int length, int count,
                              unsigned timeoutMs, TransferResult* failed) {
    for (int i = 0; i < count; ++i) {
      const TransferResult result =
          BulkWrite(endpoint, data + static_cast<size_t>(i) * length, length, timeoutMs);
      if (result.status != TransferStatus::kOk || result.count != length) {
        *failed = result;
        return i;
      }
    }
    return count;
  }
};

class Bench {
 public:
  virtual ~Bench() = default;
  // Stops serving PROBESIM_CONTROL (docs/bench.md) and joins its thread; the destructor does it
  // too. Does nothing without a control channel or a second time.
  virtual void StopControl() {}
  // Probes in enumeration order.
  virtual size_t ProbeCount() const = 0;
  virtual BenchProbe& Probe(size_t index) = 0;
};

struct BenchLoadResult {
  std::unique_ptr<Bench> bench;  // null on error
  std::string error;             // "file:line: key: what is wrong" when bench is null
  // Things the bench could not do although it loaded (a PROBESIM_LOG it cannot write), for the
  // trace.
  std::vector<std::string> notes;
};

// Bench files larger than this are refused unread.
inline constexpr uint64_t kMaxBenchFileBytes = uint64_t{1} << 20;

// Reads a bench file. Never throws and never blocks on the path: it is opened without waiting
// and must be a regular file (not a FIFO, a device or a folder) of at most kMaxBenchFileBytes.
// Relative and default flash file paths resolve in PROBESIM_STATE_DIR, else in
// $XDG_STATE_HOME/zolt-probesim, else in $HOME/.local/state/zolt-probesim (XDG_STATE_HOME and HOME
// count only when absolute); without any of them such a path is refused. Nothing is written
// here: flash files and their folders are made when their probe is first opened. The bench's
// probes write PROBESIM_LOG (read from the environment here) while the Bench lives.
BenchLoadResult LoadBench(const std::string& path);
// Reads a bench description from TOML text; `name` stands for the file in messages and
// relative flash file paths are taken from `baseDir` (empty: as LoadBench).
BenchLoadResult LoadBenchFromString(const std::string& toml, const std::string& name,
                                    const std::string& baseDir);

}  // namespace probesim
