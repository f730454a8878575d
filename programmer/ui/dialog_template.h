// SPDX-License-Identifier: MIT
// Dialog templates as data: every control of a dialog with its numeric id, kind, text, styles and
// rectangle in dialog units, in template order. The builder (dialog_builder.h) turns a template
// into widgets; the data itself lives in dialog_templates.cpp.
//
// Threads: the templates are immutable after static initialisation; any thread may read them.
#pragma once

#include <cstdint>
#include <vector>

namespace zolt::ui {

// Resource ids of the dialog templates.
inline constexpr int kAboutTemplate = 100;
inline constexpr int kMainTemplate = 102;
inline constexpr int kNorOptionsTemplate = 104;
inline constexpr int kFileSelectionTemplate = 105;
inline constexpr int kPinToggleTemplate = 106;
inline constexpr int kFirmwareVersionTemplate = 109;
inline constexpr int kMultiDeviceTemplate = 114;

// Id of controls that nobody looks up (labels, frames without a role).
inline constexpr int kStaticId = -1;

enum class ControlKind {
  kEdit,         // single- or multi-line edit box
  kGroupBox,     // frame with a title; draws only, takes no input
  kRadioButton,  // radio button (drawn as a push button with kPushLike)
  kPushButton,
  kStatic,  // static text
  kIcon,    // static icon (the application icon)
  kCheckBox,
  kComboBox,
  kTabControl,   // tab strip over which the pages lie
  kListView,     // report-style list
  kTrackBar,     // horizontal slider
  kProgressBar,  // the percentage progress bar
};

// Style flags of a control (a subset of what the native templates carry that matters here).
enum ControlStyle : uint32_t {
  kNoStyle = 0,
  kBorder = 1u << 0,         // thin border
  kVScroll = 1u << 1,        // vertical scroll bar
  kHScroll = 1u << 2,        // horizontal scroll bar
  kMultiline = 1u << 3,      // edit: several lines, words wrap
  kAutoHScroll = 1u << 4,    // edit: scrolls sideways while typing
  kReadOnly = 1u << 5,       // edit: cannot be typed into
  kRightAlign = 1u << 6,     // static text: right-aligned
  kCentred = 1u << 7,        // button text centred both ways
  kAuto = 1u << 8,           // check box / radio button checks itself when clicked
  kPushLike = 1u << 9,       // check box / radio button drawn as a push button
  kLeftText = 1u << 10,      // check box text on the left of the box
  kDropDownEdit = 1u << 11,  // combo box: drop-down list with an edit field
  kNoTicks = 1u << 12,       // track bar: no tick marks
  kReport = 1u << 13,        // list view: report view with columns
  kNoScroll = 1u << 14,      // list view: no scroll bars
  kDefaultButton = 1u << 15  // push button: the dialog's default button
};

// Rectangle in dialog units.
struct DluRect {
  int x, y, width, height;
};

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* text;  // UTF-8, "" when none
  uint32_t styles;
  DluRect rect;
  std::vector<const char*> items;  // a combo box's initial rows, in order
};

struct FontSpec {
  enum class Face { kGulim, kMsSansSerif };
  Face face;
  int pointSize;
};

struct DialogTemplate {
  int id;
  const char* caption;  // UTF-8, "" for the pages (no caption)
  FontSpec font;
  int width, height;  // client area in dialog units
  DluRect placement;  // position inside the parent for child pages (x, y); 0 for top-level dialogs
  std::vector<ControlTemplate> controls;

  // The control with `id`, or null.
  const ControlTemplate* Find(int id) const;
};

// The template with resource id `id`; aborts on an unknown id (a programming error).
const DialogTemplate& TemplateById(int id);

// String resource 101: the about entry of the dialog's menu.
inline constexpr const char* kAboutMenuText = "ZOLT_USB_JTAG 정보(&A)...";
// Caption of ordinary message boxes: the application name.
inline constexpr const char* kApplicationName = "ZOLT_USB_JTAG";

}  // namespace zolt::ui
