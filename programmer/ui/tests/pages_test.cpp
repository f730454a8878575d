// SPDX-License-Identifier: MIT
// The option pages: NOR options, file selection, pin toggle, device list, and their text parsing.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QTest>

#include "ui/control_ids.h"
#include "ui/pages/file_selection_page.h"
#include "ui/pages/firmware_version_page.h"
#include "ui/pages/multi_device_page.h"
#include "ui/pages/nor_options_page.h"
#include "ui/pages/pin_toggle_page.h"
#include "ui/text_numbers.h"

namespace zolt::ui {
namespace {

TEST(TextNumbers, ParsesLikeTheStandardUnsignedConversion) {
  struct Case {
    const char* text;
    int base;
    uint32_t expected;
  } cases[] = {
      {"1f000", 16, 0x1f000},
      {"0x1f000", 16, 0x1f000},
      {"0X1F000", 16, 0x1f000},
      {"  1f000zz", 16, 0x1f000},
      {"", 16, 0},
      {"zz", 16, 0},
      {"0x", 16, 0},
      {"FFFFFFFF", 16, 0xFFFFFFFF},
      {"100000000", 16, 0xFFFFFFFF},
      {"12abc", 10, 12},
      {"", 10, 0},
      {" 7", 10, 7},
      {"abc", 10, 0},
      {"4294967296", 10, 0xFFFFFFFF},
      {"0x10", 10, 0},
      {"-1", 10, 0xFFFFFFFF},
      {"+5", 10, 5},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParseUnsigned(QString::fromLatin1(c.text), c.base), c.expected) << c.text;
}

TEST(TextNumbers, ShortenPathKeepsTheFirstFolderAndTheFileName) {
  struct Case {
    const char* path;
    const char* expected;
  } cases[] = {
      {"/home/op/images/boot.bin", "/home/.../boot.bin"},
      {"/data/fw/app.bin", "/data/.../app.bin"},
      {"/home/boot.bin", "/home/...boot.bin"},  // the first folder's '/' is the last one
      {"/boot.bin", "/...boot.bin"},
      {"images/fw/boot.bin", "images/.../boot.bin"},
      {"//boot.bin", "//...boot.bin"},
      {"boot.bin", "boot.bin"},
  };
  for (const Case& c : cases) EXPECT_EQ(ShortenPath(QString::fromUtf8(c.path)).toStdString(), c.expected);
}

// ---- Nor Options -----------------------------------------------------------------------------

void ChooseNorType(NorOptionsPage& page, int index) {
  page.NorTypeList()->setCurrentIndex(index);
  Q_EMIT page.NorTypeList()->activated(index);
}

TEST(NorOptionsPage, TypeChangeSelectsTheWidthButNeverTheInterleave) {
  QWidget host;
  NorOptionsPage page(&host);
  page.OnProductChanged(1);
  page.InterleaveList()->setCurrentIndex(1);
  const int expectedWidth[9] = {8, 8, 8, 16, 16, 16, 16, 16, 16};
  for (int type = 0; type < 9; ++type) {
    ChooseNorType(page, type);
    EXPECT_EQ(page.GetNorType(), type);
    EXPECT_EQ(page.GetWidth(), expectedWidth[type]) << page.NorTypeList()->currentText().toStdString();
    EXPECT_EQ(page.GetInterleave(), 2);
  }
  EXPECT_EQ(page.NorTypeList()->itemText(3), QStringLiteral("S29AL0004D"));
}

TEST(NorOptionsPage, AutoDetectComesWithTarvisAndThePreviousTypeComesBack) {
  QWidget host;
  NorOptionsPage page(&host);
  page.OnProductChanged(1);
  ChooseNorType(page, 4);  // S29AL008D
  page.WidthList()->setCurrentIndex(0);
  page.OnProductChanged(0);
  EXPECT_EQ(page.NorTypeList()->count(), 10);
  EXPECT_EQ(page.NorTypeList()->currentText(), QStringLiteral("AutoDetect"));
  EXPECT_EQ(page.GetWidth(), 8);
  EXPECT_EQ(page.GetInterleave(), 1);
  EXPECT_FALSE(page.NorTypeList()->isEnabled());
  EXPECT_EQ(page.GetNorType(), 4);  // the operator's choice is kept
  page.OnProductChanged(0);         // TARVIS again: still one AutoDetect
  EXPECT_EQ(page.NorTypeList()->count(), 10);

  page.OnProductChanged(1);
  EXPECT_EQ(page.NorTypeList()->count(), 9);
  EXPECT_EQ(page.NorTypeList()->currentText(), QStringLiteral("S29AL008D"));
  EXPECT_TRUE(page.NorTypeList()->isEnabled());
  EXPECT_TRUE(page.OffsetBox()->isEnabled());
  EXPECT_EQ(page.GetWidth(), 8);
  EXPECT_EQ(page.GetInterleave(), 1);
  page.OnProductChanged(7);  // no such row: nothing changes
  EXPECT_TRUE(page.NorTypeList()->isEnabled());
}

TEST(NorOptionsPage, TypedOffsetSurvivesEnablingDisablingAndTypeChanges) {
  QWidget host;
  NorOptionsPage page(&host);
  EXPECT_EQ(page.OffsetBox()->text(), QStringLiteral("0"));
  EXPECT_EQ(page.GetOffset(), 0u);
  page.OnProductChanged(1);
  page.OffsetBox()->setText(QStringLiteral("0x1f000"));
  EXPECT_EQ(page.GetOffset(), 0x1f000u);
  ChooseNorType(page, 6);
  page.DisableNorControls();
  page.OnProductChanged(0);
  page.OnProductChanged(2);
  page.EnableNorControls();
  page.Refresh();
  EXPECT_EQ(page.OffsetBox()->text(), QStringLiteral("0x1f000"));
  EXPECT_EQ(page.GetOffset(), 0x1f000u);
}

TEST(NorOptionsPage, TypedTextInTheListsStillGivesAValidWidth) {
  QWidget host;
  NorOptionsPage page(&host);
  page.OnProductChanged(1);
  page.WidthList()->setCurrentIndex(-1);
  page.WidthList()->setEditText(QStringLiteral("32"));
  EXPECT_EQ(page.GetWidth(), 8);
}

// ---- File Selection ---------------------------------------------------------------------------

QLineEdit* Edit(const TemplatePage& page, int id) {
  return page.Controls().Get<QLineEdit>(id);
}

TEST(FileSelectionPage, StartsWithSlotOneEnabled) {
  QWidget host;
  FileSelectionPage page(&host);
  const int blocks[3] = {kIdImageBlock1, kIdImageBlock2, kIdImageBlock3};
  const int opens[3] = {kIdImageOpen1, kIdImageOpen2, kIdImageOpen3};
  for (int s = 0; s < 3; ++s) {
    EXPECT_EQ(page.IsImageEnabled(s), s == 0) << s;
    EXPECT_EQ(page.GetImagePath(s), QString()) << s;
    EXPECT_EQ(page.GetImageBlock(s), uint32_t(s)) << s;
    EXPECT_EQ(Edit(page, blocks[s])->text(), QString::number(s));
    EXPECT_EQ(page.Controls().Find(opens[s])->isEnabled(), s == 0) << s;
  }
  EXPECT_FALSE(page.IsImageEnabled(3));
  EXPECT_EQ(page.GetImagePath(-1), QString());
}

TEST(FileSelectionPage, EnableBoxesSwitchTheSlotControlsAndKeepThePath) {
  QWidget host;
  FileSelectionPage page(&host);
  page.SetFileChooser([] { return QStringLiteral("/data/fw/app.bin"); });
  auto* enable2 = page.Controls().Get<QCheckBox>(kIdImageEnable2);
  enable2->click();
  EXPECT_TRUE(page.IsImageEnabled(1));
  for (int id : {kIdImageBlock2, kIdImagePath2, kIdImageOpen2})
    EXPECT_TRUE(page.Controls().Find(id)->isEnabled());
  page.Controls().Get<QPushButton>(kIdImageOpen2)->click();
  EXPECT_EQ(Edit(page, kIdImagePath2)->text(), QStringLiteral("/data/.../app.bin"));
  EXPECT_EQ(page.GetImagePath(1), QStringLiteral("/data/fw/app.bin"));

  enable2->click();
  EXPECT_FALSE(page.IsImageEnabled(1));
  for (int id : {kIdImageBlock2, kIdImagePath2, kIdImageOpen2})
    EXPECT_FALSE(page.Controls().Find(id)->isEnabled());
  EXPECT_EQ(page.GetImagePath(1), QStringLiteral("/data/fw/app.bin"));
}

TEST(FileSelectionPage, TypedTextNeverChangesThePathOfARun) {
  QWidget host;
  FileSelectionPage page(&host);
  EXPECT_EQ(QString::fromLatin1(FileSelectionPage::kFilter),
            QStringLiteral("Binary File(*.bin);;All Files(*.*)"));
  Edit(page, kIdImagePath1)->setText(QStringLiteral("/tmp/typed.bin"));
  EXPECT_EQ(page.GetImagePath(0), QString());

  page.SetFileChooser([] { return QStringLiteral("/home/op/images/boot.bin"); });
  page.OnOpenImage(0);
  Edit(page, kIdImagePath1)->setText(QStringLiteral("/tmp/other.bin"));
  EXPECT_EQ(page.GetImagePath(0), QStringLiteral("/home/op/images/boot.bin"));

  page.SetFileChooser([] { return QString(); });  // cancelled: nothing changes
  page.OnOpenImage(0);
  EXPECT_EQ(page.GetImagePath(0), QStringLiteral("/home/op/images/boot.bin"));
  EXPECT_EQ(Edit(page, kIdImagePath1)->text(), QStringLiteral("/tmp/other.bin"));
}

TEST(FileSelectionPage, BlockNumberIsTheLeadingDigits) {
  QWidget host;
  FileSelectionPage page(&host);
  Edit(page, kIdImageBlock1)->setText(QStringLiteral("12abc"));
  EXPECT_EQ(page.GetImageBlock(0), 12u);
  Edit(page, kIdImageBlock1)->setText(QString());
  EXPECT_EQ(page.GetImageBlock(0), 0u);
}

TEST(FileSelectionPage, BlockNumberBoxTakesOnlyWhatItCanShowWhilePathBoxesScroll) {
  QWidget host;
  FileSelectionPage page(&host);
  const QString digits = QStringLiteral("12345678901234567890");
  QLineEdit* block = Edit(page, kIdImageBlock1);
  block->clear();
  QTest::keyClicks(block, digits);
  EXPECT_FALSE(block->text().isEmpty());
  EXPECT_LT(block->text().size(), digits.size());
  EXPECT_TRUE(digits.startsWith(block->text())) << block->text().toStdString();
  EXPECT_EQ(page.GetImageBlock(0), block->text().toUInt());

  QLineEdit* path = Edit(page, kIdImagePath1);
  QTest::keyClicks(path, digits + digits);
  EXPECT_EQ(path->text(), digits + digits);
  // Text the program sets is kept whole.
  block->setText(digits);
  EXPECT_EQ(block->text(), digits);
}

// ---- Pin Toggle, Firmware Version ----------------------------------------------------------------

TEST(PinTogglePage, StartsOffWithA100MsInterval) {
  QWidget host;
  PinTogglePage page(&host);
  EXPECT_FALSE(page.IsPinToggleEnabled());
  EXPECT_EQ(page.GetInterval(), 100);
  page.IntervalSlider()->setValue(0);
  EXPECT_EQ(page.GetInterval(), 1);
  page.IntervalSlider()->setValue(900);
  EXPECT_EQ(page.GetInterval(), 500);
  page.Controls().Get<QCheckBox>(kIdPinToggleBox)->click();
  EXPECT_TRUE(page.IsPinToggleEnabled());
}

TEST(FirmwareVersionPage, ShowsQuestionMarksUntilAJobWrites) {
  QWidget host;
  FirmwareVersionPage page(&host);
  EXPECT_EQ(page.FirmwareVersion(), QStringLiteral("?"));
  page.SetFirmwareVersion(QStringLiteral("2.12"));
  page.SetBootloaderVersion(QStringLiteral("2.20"));
  EXPECT_EQ(page.Controls().Get<QLabel>(kIdFirmwareText)->text(), QStringLiteral("2.12"));
  EXPECT_EQ(page.Controls().Get<QLabel>(kIdBootloaderText)->text(), QStringLiteral("2.20"));
}

// ---- Multi USB JTAG ----------------------------------------------------------------------------

TEST(MultiDevicePage, DeviceListCells) {
  QWidget host;
  MultiDevicePage page(&host);
  EXPECT_TRUE(page.IsMultiDeviceEnabled());
  QTableWidget* list = page.DeviceList();
  ASSERT_EQ(list->rowCount(), 4);
  ASSERT_EQ(list->columnCount(), 8);
  EXPECT_EQ(list->horizontalHeaderItem(0)->text(), QStringLiteral("Device"));
  EXPECT_EQ(list->horizontalHeaderItem(7)->text(), QStringLiteral("Stat"));
  EXPECT_EQ(list->columnWidth(0), 50);
  EXPECT_EQ(list->columnWidth(1), 45);
  EXPECT_EQ(list->item(0, 0)->text(), QStringLiteral("[  0]"));
  EXPECT_EQ(list->item(1, 2)->text(), QStringLiteral("[  5]"));
  EXPECT_EQ(list->item(3, 6)->text(), QStringLiteral("[ 15]"));
  EXPECT_EQ(page.StateCell(6), QString());

  std::array<uint8_t, 16> slots{};
  slots[0] = 1;
  slots[6] = 1;
  page.StoreFileProgress(9, 0, 500, 1000);  // progress of an earlier run, not yet drawn
  page.ShowDeviceStates(slots);
  EXPECT_EQ(list->item(0, 1)->text(), QStringLiteral("YES"));
  EXPECT_EQ(list->item(1, 5)->text(), QStringLiteral("YES"));
  for (int d = 0; d < 16; ++d) {
    if (d == 0 || d == 6) continue;
    EXPECT_EQ(page.StateCell(d), QStringLiteral("NO")) << d;
  }
  EXPECT_EQ(page.TotalSentBytes(), 0u);
  page.FlushProgress();
  EXPECT_EQ(page.StateCell(9), QStringLiteral("NO"));
}

TEST(MultiDevicePage, ProgressCellsShowTheLatestCountOfTheCurrentFile) {
  QWidget host;
  MultiDevicePage page(&host);
  page.StoreFileProgress(6, 0, 100, 1000);
  page.StoreFileProgress(6, 0, 999, 1000);
  EXPECT_EQ(page.StateCell(6), QString());  // drawn by the next refresh, not per call
  page.FlushProgress();
  EXPECT_EQ(page.StateCell(6), QStringLiteral("99%"));
  page.StoreFileProgress(6, 1, 0, 0);  // an empty file
  page.FlushProgress();
  EXPECT_EQ(page.StateCell(6), QStringLiteral("100%"));
  page.UpdateFileProgress(3, 2, 0xFFFFFFFFu, 0xFFFFFFFFu);  // no 32-bit overflow in sent x 100
  EXPECT_EQ(page.StateCell(3), QStringLiteral("100%"));
  page.StoreFileProgress(16, 0, 5, 5);  // out of range: ignored
  page.StoreFileProgress(0, 3, 5, 5);
  EXPECT_EQ(page.TotalSentBytes(), 999ull + 0xFFFFFFFFull);
}

TEST(MultiDevicePage, TotalSentBytesDoesNotWrapAt32Bits) {
  QWidget host;
  MultiDevicePage page(&host);
  for (int d = 0; d < 16; ++d) {
    for (int f = 0; f < 3; ++f) page.StoreFileProgress(d, f, 0x80000000u, 0x80000000u);
  }
  EXPECT_EQ(page.TotalSentBytes(), 48ull * 0x80000000ull);
}

}  // namespace
}  // namespace zolt::ui
