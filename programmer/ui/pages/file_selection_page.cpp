// SPDX-License-Identifier: MIT
#include "ui/pages/file_selection_page.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>

#include "ui/control_ids.h"
#include "ui/text_numbers.h"

namespace zolt::ui {
namespace {

constexpr int kEnableIds[3] = {kIdImageEnable1, kIdImageEnable2, kIdImageEnable3};
constexpr int kBlockIds[3] = {kIdImageBlock1, kIdImageBlock2, kIdImageBlock3};
constexpr int kPathIds[3] = {kIdImagePath1, kIdImagePath2, kIdImagePath3};
constexpr int kOpenIds[3] = {kIdImageOpen1, kIdImageOpen2, kIdImageOpen3};

bool ValidSlot(int slot) {
  return slot >= 0 && slot < FileSelectionPage::kSlots;
}

}  // namespace

FileSelectionPage::FileSelectionPage(QWidget* parent) : TemplatePage(kFileSelectionTemplate, parent) {
  chooser_ = [this] {
    return QFileDialog::getOpenFileName(this, QString(), QString(), QString::fromLatin1(kFilter));
  };
  for (int s = 0; s < kSlots; ++s) {
    connect(Controls().Get<QPushButton>(kOpenIds[s]), &QPushButton::clicked, this,
            [this, s] { OnOpenImage(s); });
    connect(Controls().Get<QCheckBox>(kEnableIds[s]), &QCheckBox::clicked, this,
            [this, s] { OnImageEnableClicked(s); });
  }
  Refresh();
  // Slots #2 and #3 start disabled.
  EnableSlotControls(1, false);
  EnableSlotControls(2, false);
}

void FileSelectionPage::TakeIn() {
  for (int s = 0; s < kSlots; ++s) {
    imageText_[s] = Controls().Get<QLineEdit>(kPathIds[s])->text();
    blockText_[s] = Controls().Get<QLineEdit>(kBlockIds[s])->text();
    imageEnabled_[s] = Controls().Get<QCheckBox>(kEnableIds[s])->isChecked();
  }
}

void FileSelectionPage::Refresh() {
  for (int s = 0; s < kSlots; ++s) {
    auto* path = Controls().Get<QLineEdit>(kPathIds[s]);
    if (path->text() != imageText_[s]) path->setText(imageText_[s]);
    auto* block = Controls().Get<QLineEdit>(kBlockIds[s]);
    if (block->text() != blockText_[s]) block->setText(blockText_[s]);
    Controls().Get<QCheckBox>(kEnableIds[s])->setChecked(imageEnabled_[s]);
  }
}

bool FileSelectionPage::IsImageEnabled(int slot) {
  if (!ValidSlot(slot)) return false;
  TakeIn();
  return imageEnabled_[slot];
}

QString FileSelectionPage::GetImagePath(int slot) {
  if (!ValidSlot(slot)) return {};
  TakeIn();
  return imagePath_[slot];
}

uint32_t FileSelectionPage::GetImageBlock(int slot) {
  if (!ValidSlot(slot)) return 0;
  TakeIn();
  return ParseUnsigned(blockText_[slot], 10);
}

QString FileSelectionPage::BlockText(int slot) {
  if (!ValidSlot(slot)) return {};
  TakeIn();
  return blockText_[slot];
}

void FileSelectionPage::OnOpenImage(int slot) {
  if (!ValidSlot(slot)) return;
  TakeIn();
  const QString chosen = chooser_ ? chooser_() : QString();
  if (chosen.isEmpty()) return;
  imagePath_[slot] = chosen;
  imageText_[slot] = ShortenPath(chosen);
  Refresh();
}

void FileSelectionPage::OnImageEnableClicked(int slot) {
  if (!ValidSlot(slot)) return;
  TakeIn();
  EnableSlotControls(slot, imageEnabled_[slot]);
  Refresh();
}

void FileSelectionPage::EnableSlotControls(int slot, bool enabled) {
  Controls().Find(kBlockIds[slot])->setEnabled(enabled);
  Controls().Find(kPathIds[slot])->setEnabled(enabled);
  Controls().Find(kOpenIds[slot])->setEnabled(enabled);
}

}  // namespace zolt::ui
