// SPDX-License-Identifier: MIT
// FileSelectionPage (template 105, tab "File Selection"): up to three image files, each with an
// enable box ("En"), a block number box and a path box that shows the shortened path.
//
// Threads: GUI thread only. Nothing blocks except OnOpenImage (the modal file dialog).
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <functional>

#include "ui/template_page.h"

namespace zolt::ui {

class FileSelectionPage : public TemplatePage {
  Q_OBJECT
 public:
  static constexpr int kSlots = 3;
  // The file-open dialog's filter.
  static constexpr const char* kFilter = "Binary File(*.bin);;All Files(*.*)";

  explicit FileSelectionPage(QWidget* parent);

  // Slot 0..2 (#1..#3); each takes the controls in first. A slot outside 0..2 reads as disabled,
  // empty and 0.
  bool IsImageEnabled(int slot);
  QString GetImagePath(int slot);    // the full path chosen with the slot's open button, "" if none
  uint32_t GetImageBlock(int slot);  // the block number text's leading decimal digits
  QString BlockText(int slot);       // the block number text as typed

  // The open button's handler: takes in, asks for a file, and on a choice stores the full path
  // and shows its short form. A cancelled dialog changes nothing.
  void OnOpenImage(int slot);
  // The enable box's handler: enables or disables the slot's block, path and open controls.
  void OnImageEnableClicked(int slot);

  // Replaces the file-open dialog (tests); returns the chosen path or "" for cancel.
  void SetFileChooser(std::function<QString()> chooser) { chooser_ = std::move(chooser); }

  void TakeIn() override;
  void Refresh() override;

 private:
  void EnableSlotControls(int slot, bool enabled);

  std::array<QString, kSlots> imageText_{};
  std::array<QString, kSlots> imagePath_{};
  std::array<QString, kSlots> blockText_{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")};
  std::array<bool, kSlots> imageEnabled_{true, false, false};
  std::function<QString()> chooser_;
};

}  // namespace zolt::ui
