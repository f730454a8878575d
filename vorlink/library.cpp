// SPDX-License-Identifier: MIT
// The exports of libVorlink.so (the four entry points, DeviceLocation and WriteChunks) and the library's
// load-time initialisation.
//
// At load: VORLINK_TRACE, when set, opens the trace file (one line on stderr when it cannot be,
// the only thing the library ever writes there). VORLINK_BENCH, when set, serves both
// transports from the bench file it names (a bench that cannot be loaded leaves the library
// with no probe, and the error goes to the trace; PROBESIM_CONTROL then names the bench's control
// socket). Otherwise the primary transport is
// libusb-1.0 and the libusb0 transport is libusb 0.1; LinkMode starts as the primary transport,
// or as libusb0 when libusb-1.0 cannot be initialised.
//
// Nothing is torn down at unload or exit: a job thread may still be inside a call while the
// process ends, and the records are not closed on unload.
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "bench_transport.h"
#include "bench_transport_loader.h"
#include "link.h"
#include "null_primary_transport.h"
#include "trace.h"
#include "usb01_transport.h"
#include "usb1_primary_transport.h"
#include "vorlink.h"

namespace vorlink {
namespace {

struct LibraryState {
  std::unique_ptr<probesim::Bench> bench;
  std::unique_ptr<PrimaryTransport> primary;
  std::unique_ptr<Libusb0Transport> libusb0;
  std::unique_ptr<Link> link;
};

Trace* OpenTrace() {
  const char* path = std::getenv("VORLINK_TRACE");
  if (!path || !*path) return nullptr;
  std::string error;
  std::unique_ptr<Trace> trace = Trace::Open(path, &error);
  if (!trace) {
    // There is no trace to note it in; the operator asked for one, so say once why there is none.
    const std::string line =
        "libVorlink.so: VORLINK_TRACE '" + std::string(path) + "': " + error + "; no trace is written\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
  }
  return trace.release();
}

LibraryState* Load(Trace* trace) {
  auto* state = new LibraryState;
  LinkMode mode = LinkMode::kPrimary;
  const char* benchPath = std::getenv("VORLINK_BENCH");
  if (benchPath && *benchPath) {
    LoadedBench loaded = LoadBenchFile(benchPath);
    if (trace) {
      if (!loaded.bench) trace->Note("bench error: " + loaded.error);
      for (const std::string& note : loaded.notes) trace->Note("bench: " + note);
    }
    state->bench = std::move(loaded.bench);
    // Why a bench probe did not open (its flash file) goes to the trace.
    DiagnosticSink diagnostics;
    if (trace) diagnostics = [trace](const std::string& text) { trace->Note(text); };
    // Both transports reach the same probes: one probe's claim counts for both.
    auto uses = std::make_shared<BenchProbeUses>();
    state->primary = std::make_unique<BenchPrimaryTransport>(state->bench.get(), diagnostics, uses);
    state->libusb0 = std::make_unique<BenchLibusb0Transport>(state->bench.get(), diagnostics, uses);
  } else {
    // Why a real probe could not be opened (permissions, a claimed interface) goes to the trace.
    DiagnosticSink diagnostics;
    if (trace) diagnostics = [trace](const std::string& text) { trace->Note(text); };
    state->primary = Usb1PrimaryTransport::Create(diagnostics);
    if (!state->primary) {
      // The transport has already noted libusb's error.
      if (trace) trace->Note("libusb0 serves device index 0");
      state->primary = std::make_unique<NullPrimaryTransport>();
      mode = LinkMode::kLibusb0;
    }
    state->libusb0 = std::make_unique<Usb01Transport>(diagnostics);
  }
  state->link = std::make_unique<Link>(*state->primary, *state->libusb0, mode);
  return state;
}

// Both are set before any export can be called and never change afterwards.
Trace* const g_trace = OpenTrace();
LibraryState* const g_state = Load(g_trace);

// The bench's PROBESIM_CONTROL thread is the one thread the library starts: it is stopped and
// joined when the library is unloaded or the process exits (defined after g_state, so destroyed
// before it would be). The bench itself stays, like every record.
struct ControlStopper {
  ~ControlStopper() {
    if (g_state->bench) g_state->bench->StopControl();
  }
} g_controlStopper;

}  // namespace
}  // namespace vorlink

using vorlink::g_state;
using vorlink::g_trace;

extern "C" {

int OpenDevice(int productId, int deviceIndex) {
  const int result = g_state->link->OpenDevice(productId, deviceIndex);
  if (g_trace) [[unlikely]] {
    g_trace->OpenDevice(deviceIndex, productId, result, g_state->link->Mode() == vorlink::LinkMode::kLibusb0);
  }
  return result;
}

int Write(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs) {
  if (g_trace) [[unlikely]] {
    int count = 0;
    const int result = g_state->link->Write(deviceIndex, buffer, length, &count, timeoutMs);
    if (transferred) *transferred = count;
    g_trace->Transfer("Write", deviceIndex, length, count, timeoutMs, result, buffer, length);
    return result;
  }
  return g_state->link->Write(deviceIndex, buffer, length, transferred, timeoutMs);
}

int Read(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs) {
  if (g_trace) [[unlikely]] {
    int count = 0;
    const int result = g_state->link->Read(deviceIndex, buffer, length, &count, timeoutMs);
    if (transferred) *transferred = count;
    g_trace->Transfer("Read", deviceIndex, length, count, timeoutMs, result, buffer,
                      count < length ? count : length);
    return result;
  }
  return g_state->link->Read(deviceIndex, buffer, length, transferred, timeoutMs);
}

int WriteChunks(int deviceIndex, unsigned char* buffer, int length, int count, int timeoutMs, int* completed,
                int* failedResult, int* failedTransferred) {
  if (g_trace) [[unlikely]] {
    int attempted = 0;
    const int result = g_state->link->WriteChunks(deviceIndex, buffer, length, count, timeoutMs, completed,
                                                  failedResult, failedTransferred, &attempted);
    // Out-pointers the call refused as null are read as 0 for the trace.
    const int done = completed ? *completed : 0;
    const int failedWith = failedResult ? *failedResult : 0;
    const int failedCount = failedTransferred ? *failedTransferred : 0;
    g_trace->Chunks(deviceIndex, length, count, timeoutMs, result, done, failedWith, failedCount, buffer,
                    attempted);
    return result;
  }
  return g_state->link->WriteChunks(deviceIndex, buffer, length, count, timeoutMs, completed, failedResult,
                                    failedTransferred);
}

void Close(int deviceIndex) {
  g_state->link->Close(deviceIndex);
  if (g_trace) [[unlikely]]
    g_trace->Close(deviceIndex);
}

int DeviceLocation(int deviceIndex, char* buffer, int size) {
  const int result = g_state->link->DeviceLocation(deviceIndex, buffer, size);
  if (g_trace) [[unlikely]]
    g_trace->Location(deviceIndex, size, result, buffer != nullptr && size > 0 ? buffer : nullptr);
  return result;
}

}  // extern "C"
