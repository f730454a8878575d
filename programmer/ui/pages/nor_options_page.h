// SPDX-License-Identifier: MIT
// NorOptionsPage (template 104, tab "Nor Options"): NOR flash offset, NOR type, data width and
// interleave. For TARVIS (product row 0) the NOR type list gains a tenth entry "AutoDetect" and
// all four controls are disabled; the main dialog also disables them while NAND is chosen.
//
// Threads: GUI thread only. Nothing blocks; nothing fails.
#pragma once

#include <QString>
#include <cstdint>

#include "probe/nor_type_table.h"
#include "ui/template_page.h"

class QComboBox;
class QLineEdit;

namespace zolt::ui {

class NorOptionsPage : public TemplatePage {
  Q_OBJECT
 public:
  static constexpr int kNorTypes = kNorTypeCount;
  explicit NorOptionsPage(QWidget* parent);

  // The offset box's current text read as hexadecimal (leading "0x" allowed).
  uint32_t GetOffset() const;
  // The offset box's current text, as typed.
  QString OffsetText() const;
  // The NOR type last chosen by the operator, 0..8.
  int GetNorType() const { return selectedNorType_; }
  // 8 << the width list's selection (8 or 16), 1 << the interleave list's selection (1 or 2).
  // Typed text can leave a list without a selection; it then reads as its first entry.
  int GetWidth() const;
  int GetInterleave() const;

  // The main dialog's product row changed: row 0 adds and selects "AutoDetect", selects "8" and
  // "1" and disables the controls; rows 1..4 remove it, select the operator's last NOR type again
  // and enable the controls; other rows change nothing.
  void OnProductChanged(int productRow);
  void DisableNorControls();
  void EnableNorControls();
  // The NOR type list's selection changed (by the operator): remember it and select the width
  // the type needs ("8" for rows 0..2, "16" for rows 3..8).
  void OnNorTypeChanged(int index);

  QComboBox* NorTypeList() const;
  QComboBox* WidthList() const;
  QComboBox* InterleaveList() const;
  QLineEdit* OffsetBox() const;

  void TakeIn() override;
  // Writes the offset text only if it differs from the box, so typed text is never overwritten.
  void Refresh() override;

 private:
  void SetNorControlsEnabled(bool enabled);

  int selectedNorType_ = 0;
  QString offsetText_ = QStringLiteral("0");
};

}  // namespace zolt::ui
