// SPDX-License-Identifier: MIT
#include "ui/pages/nor_options_page.h"

#include <QComboBox>
#include <QLineEdit>

#include "probe/nor_type_table.h"
#include "ui/control_ids.h"
#include "ui/text_numbers.h"

namespace zolt::ui {

NorOptionsPage::NorOptionsPage(QWidget* parent) : TemplatePage(kNorOptionsTemplate, parent) {
  // The offset field follows the box as the operator types, so no refresh can bring back an old text.
  connect(OffsetBox(), &QLineEdit::textChanged, this, [this](const QString& text) { offsetText_ = text; });
  // Only the operator's choices count as a NOR type change, not the page's own selections.
  connect(NorTypeList(), &QComboBox::activated, this, &NorOptionsPage::OnNorTypeChanged);
  Refresh();
  NorTypeList()->setCurrentIndex(0);
  WidthList()->setCurrentIndex(0);
  InterleaveList()->setCurrentIndex(0);
  selectedNorType_ = 0;
}

QComboBox* NorOptionsPage::NorTypeList() const {
  return Controls().Get<QComboBox>(kIdNorTypeList);
}
QComboBox* NorOptionsPage::WidthList() const {
  return Controls().Get<QComboBox>(kIdWidthList);
}
QComboBox* NorOptionsPage::InterleaveList() const {
  return Controls().Get<QComboBox>(kIdInterleaveList);
}
QLineEdit* NorOptionsPage::OffsetBox() const {
  return Controls().Get<QLineEdit>(kIdOffsetBox);
}

void NorOptionsPage::TakeIn() {
  offsetText_ = OffsetBox()->text();
}

void NorOptionsPage::Refresh() {
  if (OffsetBox()->text() != offsetText_) OffsetBox()->setText(offsetText_);
}

uint32_t NorOptionsPage::GetOffset() const {
  return ParseUnsigned(OffsetBox()->text(), 16);
}

QString NorOptionsPage::OffsetText() const {
  return OffsetBox()->text();
}

int NorOptionsPage::GetWidth() const {
  const int index = WidthList()->currentIndex();
  return 8 << (index == 1 ? 1 : 0);
}

int NorOptionsPage::GetInterleave() const {
  const int index = InterleaveList()->currentIndex();
  return 1 << (index == 1 ? 1 : 0);
}

void NorOptionsPage::OnNorTypeChanged(int index) {
  selectedNorType_ = index;
  if (index >= 0 && index < kNorTypes)
    WidthList()->setCurrentIndex(zolt::kNorTypes[index].width == 8 ? 0 : 1);
  Refresh();
}

void NorOptionsPage::OnProductChanged(int productRow) {
  QComboBox* types = NorTypeList();
  if (productRow == 0) {
    if (types->count() == kNorTypes) {
      types->addItem(QString::fromLatin1(kAutoDetectName));
      types->setCurrentIndex(kNorTypes);
    }
    WidthList()->setCurrentIndex(0);
    InterleaveList()->setCurrentIndex(0);
    SetNorControlsEnabled(false);
  } else if (productRow >= 1 && productRow <= 4) {
    if (types->count() == kNorTypes + 1) {
      types->removeItem(kNorTypes);
      types->setCurrentIndex(selectedNorType_);
    }
    SetNorControlsEnabled(true);
  }
  Refresh();
}

void NorOptionsPage::DisableNorControls() {
  SetNorControlsEnabled(false);
  Refresh();
}

void NorOptionsPage::EnableNorControls() {
  SetNorControlsEnabled(true);
  Refresh();
}

void NorOptionsPage::SetNorControlsEnabled(bool enabled) {
  OffsetBox()->setEnabled(enabled);
  NorTypeList()->setEnabled(enabled);
  WidthList()->setEnabled(enabled);
  InterleaveList()->setEnabled(enabled);
}

}  // namespace zolt::ui
