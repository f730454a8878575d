// SPDX-License-Identifier: MIT
// Builds the widgets of a dialog template inside a container and finds them again by control id.
//
// Threads: GUI thread only. Never blocks. Building cannot fail for the program's own templates;
// a lookup of an id the template does not hold returns null.
#pragma once

#include <QFont>
#include <QWidget>
#include <map>
#include <utility>
#include <vector>

#include "ui/dialog_template.h"
#include "ui/dialog_units.h"

namespace zolt::ui {

// Control id -> widget, for one dialog or page.
class ControlMap {
 public:
  void Add(int id, QWidget* widget) { widgets_[id] = widget; }
  QWidget* Find(int id) const {
    auto it = widgets_.find(id);
    return it == widgets_.end() ? nullptr : it->second;
  }
  // The control with `id` as a `T`, or null when absent or of another kind.
  template <class T>
  T* Get(int id) const {
    return qobject_cast<T*>(Find(id));
  }

 private:
  std::map<int, QWidget*> widgets_;
};

struct BuiltDialog {
  QFont font;
  BaseUnits units;
  ControlMap controls;
  // Every control, labels included, with its template entry, in template order.
  std::vector<std::pair<QWidget*, const ControlTemplate*>> placed;
};

// Sets the template's font on `container`, creates every control as a child of it at its
// rectangle converted to pixels, in template order, and fixes the container's size to the
// template's client area. Group boxes are put below their siblings and let clicks through, as
// native group boxes do. Combo boxes get the height of their closed field (the template's height
// includes the drop-down list). A one-line edit without horizontal auto-scroll refuses typed text
// that would not fit in it.
BuiltDialog BuildDialog(QWidget* container, const DialogTemplate& t);

// Places the built controls and sizes the container again, in `units` instead of the template's.
void LayOutDialog(QWidget* container, const DialogTemplate& t, BuiltDialog& built, BaseUnits units);

// Base units a template is laid out in (dialog_fonts.h).
BaseUnits TemplateUnits(const DialogTemplate& t);

}  // namespace zolt::ui
