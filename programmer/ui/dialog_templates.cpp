// SPDX-License-Identifier: MIT
// The dialog templates of the program, as the native resource script gave them.
#include <cstdlib>

#include "probe/nor_type_table.h"
#include "probe/products.h"
#include "ui/control_ids.h"
#include "ui/dialog_template.h"

namespace zolt::ui {
namespace {

using K = ControlKind;
constexpr FontSpec kGulim9{FontSpec::Face::kGulim, 9};
constexpr FontSpec kSans8{FontSpec::Face::kMsSansSerif, 8};
// The pages lie over the tab control's client area.
constexpr DluRect kPagePlacement{4, 59, 223, 118};

// The Products list's rows, from the product table.
std::vector<const char*> ProductRows() {
  std::vector<const char*> rows;
  for (const ProductSettings& product : kProducts) rows.push_back(product.name);
  return rows;
}

// The Nor Type list's rows, as the list spells them.
std::vector<const char*> NorTypeRows() {
  std::vector<const char*> rows;
  for (const NorTypeNames& type : kNorTypes) rows.push_back(type.listName);
  return rows;
}

DialogTemplate MainDialog() {
  return {kMainTemplate,
          "ZOLT USB JTAG Programmer (Ver 2.0.00)",
          kGulim9,
          234,
          374,
          {0, 0, 234, 374},
          {
              {kIdLogView, K::kEdit, "", kMultiline | kBorder | kVScroll, {2, 189, 229, 142}, {}},
              {kIdProductsFrame, K::kGroupBox, "Products", kNoStyle, {2, 2, 63, 39}, {}},
              {kIdFlashTypeFrame, K::kGroupBox, "Flash Type", kNoStyle, {68, 2, 95, 39}, {}},
              {kIdNandButton, K::kRadioButton, "NAND", kAuto | kPushLike, {74, 17, 35, 15}, {}},
              {kIdNorButton, K::kRadioButton, "NOR", kAuto | kPushLike, {121, 17, 32, 15}, {}},
              {kIdRunButton, K::kPushButton, "RUN", kCentred, {180, 9, 37, 28}, {}},
              {kIdElapsedTime, K::kStatic, "00 : 00", kRightAlign, {195, 336, 33, 10}, {}},
              {kIdProgressBar, K::kProgressBar, "", kBorder, {2, 350, 229, 19}, {}},
              {kIdVerifyBox, K::kCheckBox, "Verify", kAuto, {5, 336, 63, 10}, {}},
              {kIdProductList, K::kComboBox, "", kDropDownEdit | kVScroll, {11, 16, 45, 69}, ProductRows()},
              {kIdRunFrame, K::kGroupBox, "", kNoStyle, {166, 2, 65, 39}, {}},
              {kIdPageTabs, K::kTabControl, "", kNoStyle, {2, 45, 229, 139}, {}},
          }};
}

DialogTemplate AboutBox() {
  return {kAboutTemplate,
          "ZOLT_USB_JTAG 정보",
          kGulim9,
          235,
          55,
          {0, 0, 235, 55},
          {
              {kStaticId, K::kIcon, "", kNoStyle, {11, 17, 20, 20}, {}},
              {kStaticId, K::kStatic, "ZOLT_USB_JTAG 버전 1.2", kNoStyle, {40, 10, 119, 8}, {}},
              {kStaticId, K::kStatic, "Linux 판 (Qt 6)", kNoStyle, {40, 25, 119, 8}, {}},
              {kIdOk, K::kPushButton, "확인", kDefaultButton, {178, 7, 50, 14}, {}},
          }};
}

DialogTemplate NorOptionsPage() {
  return {kNorOptionsTemplate,
          "",
          kSans8,
          223,
          118,
          kPagePlacement,
          {
              {kIdNorFrame, K::kGroupBox, "NOR Flash Options", kNoStyle, {2, 3, 217, 59}, {}},
              {kIdOffsetLabel, K::kStatic, "Offset : 0x", kNoStyle, {11, 19, 34, 8}, {}},
              {kIdOffsetBox, K::kEdit, "", kBorder | kAutoHScroll, {51, 17, 40, 14}, {}},
              {kIdNorTypeLabel, K::kStatic, "Nor Type :", kNoStyle, {11, 40, 34, 8}, {}},
              {kIdNorTypeList, K::kComboBox, "", kDropDownEdit | kVScroll, {51, 37, 61, 121}, NorTypeRows()},
              {kIdWidthLabel, K::kStatic, "Width :", kNoStyle, {139, 19, 23, 8}, {}},
              {kIdWidthList, K::kComboBox, "", kDropDownEdit | kVScroll, {166, 17, 30, 46}, {"8", "16"}},
              {kIdInterleaveLabel, K::kStatic, "Interleave :", kNoStyle, {125, 40, 37, 8}, {}},
              {kIdInterleaveList, K::kComboBox, "", kDropDownEdit | kVScroll, {166, 37, 30, 49}, {"1", "2"}},
          }};
}

DialogTemplate FileSelectionPage() {
  DialogTemplate t{kFileSelectionTemplate, "", kSans8, 223, 118, kPagePlacement, {}};
  const int groups[3] = {kIdImageFrame1, kIdImageFrame2, kIdImageFrame3};
  const int enables[3] = {kIdImageEnable1, kIdImageEnable2, kIdImageEnable3};
  const int blocks[3] = {kIdImageBlock1, kIdImageBlock2, kIdImageBlock3};
  const int paths[3] = {kIdImagePath1, kIdImagePath2, kIdImagePath3};
  const int opens[3] = {kIdImageOpen1, kIdImageOpen2, kIdImageOpen3};
  const char* groupTexts[3] = {"Image File #1", "Image File #2", "Image File #3"};
  const char* openTexts[3] = {"Open1", "Open2", "Open3"};
  const int groupY[3] = {3, 42, 81};
  const int boxY[3] = {18, 57, 95};   // enable boxes and labels
  const int editY[3] = {16, 55, 93};  // block number and path boxes
  const int openY[3] = {14, 53, 91};
  for (int s = 0; s < 3; ++s) {
    t.controls.push_back({groups[s], K::kGroupBox, groupTexts[s], kNoStyle, {2, groupY[s], 218, 36}, {}});
    t.controls.push_back({enables[s], K::kCheckBox, "En", kAuto | kLeftText, {3, boxY[s], 20, 10}, {}});
    t.controls.push_back({kStaticId, K::kStatic, "Blk No:", kNoStyle, {26, boxY[s], 24, 10}, {}});
    t.controls.push_back({blocks[s], K::kEdit, "", kBorder, {52, editY[s], 22, 14}, {}});
    t.controls.push_back({paths[s], K::kEdit, "", kBorder | kAutoHScroll, {78, editY[s], 104, 14}, {}});
    t.controls.push_back({opens[s], K::kPushButton, openTexts[s], kNoStyle, {185, openY[s], 30, 18}, {}});
  }
  return t;
}

DialogTemplate PinTogglePage() {
  return {kPinToggleTemplate,
          "",
          kSans8,
          223,
          118,
          kPagePlacement,
          {
              {kIdPinToggleFrame, K::kGroupBox, "Pin Toggle Options", kNoStyle, {1, 3, 218, 55}, {}},
              {kIdPinToggleBox, K::kCheckBox, "Enble Pin Toggling", kAuto, {17, 17, 76, 10}, {}},
              {kIdIntervalSlider, K::kTrackBar, "", kNoTicks, {95, 32, 100, 15}, {}},
              {kIdIntervalLabel, K::kStatic, "Interval of pin toggling", kNoStyle, {17, 35, 74, 8}, {}},
          }};
}

DialogTemplate MultiDevicePage() {
  return {kMultiDeviceTemplate,
          "",
          kSans8,
          223,
          118,
          kPagePlacement,
          {
              {kIdMultiDeviceBox, K::kCheckBox, "Enable Multi Device", kAuto, {72, 11, 74, 10}, {}},
              {kIdDeviceList, K::kListView, "", kReport | kNoScroll | kBorder, {0, 30, 220, 85}, {}},
          }};
}

DialogTemplate FirmwareVersionPage() {
  return {kFirmwareVersionTemplate,
          "",
          kSans8,
          223,
          118,
          kPagePlacement,
          {
              {kIdFirmwareFrame, K::kGroupBox, "Firmware Version", kNoStyle, {1, 0, 219, 50}, {}},
              {kIdFirmwareLabel, K::kStatic, "USB JTAG Firmware Version :", kNoStyle, {13, 14, 99, 8}, {}},
              {kIdFirmwareText, K::kStatic, "?", kNoStyle, {117, 14, 60, 8}, {}},
              {kIdBootloaderLabel, K::kStatic, "Bootloader Version :", kNoStyle, {45, 30, 67, 8}, {}},
              {kIdBootloaderText, K::kStatic, "?", kNoStyle, {117, 30, 60, 8}, {}},
          }};
}

}  // namespace

const ControlTemplate* DialogTemplate::Find(int controlId) const {
  for (const auto& c : controls) {
    if (c.id == controlId && controlId != kStaticId) return &c;
  }
  return nullptr;
}

const DialogTemplate& TemplateById(int id) {
  static const DialogTemplate kMain = MainDialog();
  static const DialogTemplate kAbout = AboutBox();
  static const DialogTemplate kNor = NorOptionsPage();
  static const DialogTemplate kFiles = FileSelectionPage();
  static const DialogTemplate kPins = PinTogglePage();
  static const DialogTemplate kMulti = MultiDevicePage();
  static const DialogTemplate kFirmware = FirmwareVersionPage();
  switch (id) {
    case kMainTemplate:
      return kMain;
    case kAboutTemplate:
      return kAbout;
    case kNorOptionsTemplate:
      return kNor;
    case kFileSelectionTemplate:
      return kFiles;
    case kPinToggleTemplate:
      return kPins;
    case kMultiDeviceTemplate:
      return kMulti;
    case kFirmwareVersionTemplate:
      return kFirmware;
    default:
      std::abort();
  }
}

}  // namespace zolt::ui
