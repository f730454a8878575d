// SPDX-License-Identifier: MIT
// Operator: the one narrow interface through which the core (probe commands, jobs, run control)
// reaches the operator. The Qt dialog, the zolt-flash command line and the tests implement it.
//
// Threads. Run control calls it on the thread that pressed RUN (the GUI thread in the dialog).
// Download, monitor and pin-toggle jobs call it from their own worker threads, several at once.
// Every operation is therefore callable from any thread, and an implementation carries the call
// to wherever its widgets live. Unless an operation says it blocks, it may return before the
// change is visible, but the effects of calls made by one thread are seen in the order made.
//
// Nothing here fails: an operation has no error result, and none throws.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zolt {

// The dialog's own fields that run control and the jobs read ("take in" from the controls).
struct DialogFields {
  int productIndex = 0;  // row of the Products list: 0 TARVIS, 1 KELDA, 2 VTN3300, 3 OKO, 4 SOLANT
  bool nandSelected = false;
  bool norSelected = true;
  bool verifyEnabled = true;
};

class Operator {
 public:
  virtual ~Operator() = default;

  // ---- Log view ---------------------------------------------------------------------------
  // Appends `text` unchanged (callers supply their own CR LF) at the end of the log and scrolls
  // to the last line. Texts of concurrent callers never interleave: each lands whole.
  // Does not block on the operator.
  virtual void Append(std::string_view text) = 0;

  // ---- Message boxes ----------------------------------------------------------------------
  // Modal box with an OK button and no icon, caption the application name. Blocks the calling
  // thread until the operator acknowledges it; other threads go on meanwhile.
  virtual void ShowMessage(std::string_view text) = 0;
  // The same with the caption "Error" (the library-bind failure box). Blocks likewise.
  virtual void ShowErrorMessage(std::string_view text) = 0;

  // ---- Main dialog fields and controls ----------------------------------------------------
  // UpdateData(TRUE): takes the controls' current state in and returns it. May block briefly
  // (a worker thread waits for the GUI thread to read its controls).
  virtual DialogFields TakeInDialogFields() = 0;
  // UpdateData(FALSE): pushes the dialog's fields back to its controls.
  virtual void RefreshDialogControls() = 0;

  // RUN/STOP button (control 1015). Text is "RUN" or "STOP".
  virtual std::string RunButtonText() = 0;
  virtual void SetRunButtonText(std::string_view text) = 0;
  virtual void EnableRunButton(bool enabled) = 0;
  // The "Products" and "Flash Type" frames, the Products list and the NAND and NOR buttons
  // (controls 1029, 1027, 1030, 1005, 1006), disabled together while a download runs.
  virtual void EnableRunSettingControls(bool enabled) = 0;

  // Progress bar (control 1018) and elapsed-time label (control 1016).
  virtual void SetProgressRange(int lower, int upper) = 0;
  virtual void SetProgressPos(int pos) = 0;
  virtual void SetProgressStep(int step) = 0;
  virtual void SetElapsedTimeText(std::string_view text) = 0;

  // ---- Nor Options page readers (each first takes the page's controls in) ----------------
  virtual int GetWidth() = 0;        // 8 or 16
  virtual int GetInterleave() = 0;   // 1 or 2
  virtual int GetNorType() = 0;      // 0..8
  virtual uint32_t GetOffset() = 0;  // the offset text read as hexadecimal

  // ---- File Selection page readers; slot is 0, 1 or 2 for image files #1..#3 -------------
  virtual bool IsImageEnabled(int slot) = 0;
  virtual std::string GetImagePath(int slot) = 0;  // the full path chosen, "" if none
  virtual uint32_t GetImageBlock(int slot) = 0;    // the "Blk No" text's leading decimal digits

  // ---- Pin Toggle page readers -------------------------------------------------------------
  virtual bool IsPinToggleEnabled() = 0;
  virtual int GetInterval() = 0;  // 1..500 ms

  // ---- Multi USB JTAG page -------------------------------------------------------------------
  virtual bool IsMultiDeviceEnabled() = 0;
  // Shows "YES"/"NO" per device index and clears the 48 sent-byte counts.
  virtual void ShowDeviceStates(const std::array<uint8_t, 16>& slots) = 0;
  // Called after every chunk a job sends (thousands of times a second with 16 probes): stores
  // the count at once and must be cheap; the display of "%d%%" may be coalesced, but when the
  // cell is drawn it reflects the latest count. `size` may be 0 (an empty file shows 100%).
  virtual void UpdateFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize) = 0;
  // Sum of all 48 sent-byte counts (64-bit so that 16 probes of large images cannot overflow).
  virtual uint64_t TotalSentBytes() = 0;

  // ---- Read Firmware Version page --------------------------------------------------------
  virtual void SetFirmwareVersion(std::string_view text) = 0;
  virtual void SetBootloaderVersion(std::string_view text) = 0;
};

}  // namespace zolt
