// SPDX-License-Identifier: MIT
// Numeric control ids of the dialog templates. Ids repeat between templates (1052 is the NOR
// offset box on one page and the first image path box on another); a lookup is always per dialog.
#pragma once

namespace zolt::ui {

// Main dialog, template 102.
inline constexpr int kIdLogView = 1000;
inline constexpr int kIdNandButton = 1005;
inline constexpr int kIdNorButton = 1006;
inline constexpr int kIdRunButton = 1015;
inline constexpr int kIdElapsedTime = 1016;
inline constexpr int kIdProgressBar = 1018;
inline constexpr int kIdVerifyBox = 1022;
inline constexpr int kIdProductList = 1027;
inline constexpr int kIdProductsFrame = 1029;
inline constexpr int kIdFlashTypeFrame = 1030;
inline constexpr int kIdRunFrame = 1039;
inline constexpr int kIdPageTabs = 1059;

// About box, template 100.
inline constexpr int kIdOk = 1;

// Nor Options page, template 104.
inline constexpr int kIdOffsetBox = 1052;
inline constexpr int kIdNorTypeList = 1071;
inline constexpr int kIdWidthList = 1072;
inline constexpr int kIdInterleaveList = 1073;
inline constexpr int kIdOffsetLabel = 1074;
inline constexpr int kIdNorTypeLabel = 1075;
inline constexpr int kIdWidthLabel = 1076;
inline constexpr int kIdInterleaveLabel = 1077;
inline constexpr int kIdNorFrame = 1078;

// File Selection page, template 105.
inline constexpr int kIdImageEnable1 = 1050;
inline constexpr int kIdImageEnable2 = 1051;
inline constexpr int kIdImageEnable3 = 1061;
inline constexpr int kIdImagePath1 = 1052;
inline constexpr int kIdImagePath2 = 1054;
inline constexpr int kIdImagePath3 = 1055;
inline constexpr int kIdImageOpen1 = 1062;
inline constexpr int kIdImageOpen2 = 1063;
inline constexpr int kIdImageOpen3 = 1064;
inline constexpr int kIdImageBlock1 = 1065;
inline constexpr int kIdImageBlock2 = 1066;
inline constexpr int kIdImageBlock3 = 1067;
inline constexpr int kIdImageFrame1 = 1068;
inline constexpr int kIdImageFrame2 = 1069;
inline constexpr int kIdImageFrame3 = 1070;

// Pin Toggle page, template 106.
inline constexpr int kIdPinToggleFrame = 1079;
inline constexpr int kIdPinToggleBox = 1082;
inline constexpr int kIdIntervalSlider = 1083;
inline constexpr int kIdIntervalLabel = 1084;

// Read Firmware Version page, template 109.
inline constexpr int kIdFirmwareLabel = 1085;
inline constexpr int kIdFirmwareText = 1086;
inline constexpr int kIdFirmwareFrame = 1087;
inline constexpr int kIdBootloaderLabel = 1089;
inline constexpr int kIdBootloaderText = 1090;

// Multi USB JTAG page, template 114.
inline constexpr int kIdMultiDeviceBox = 1091;
inline constexpr int kIdDeviceList = 1101;

}  // namespace zolt::ui
