// SPDX-License-Identifier: MIT
// Base of the five option pages: a child window built from its dialog template, placed over the
// main dialog's tab control, with its controls found by id. Each page has its own data exchange:
// TakeIn copies the bound controls' state into the page's fields, Refresh copies the fields back.
// Controls bound only as control objects (lists, track bar) take part in neither.
//
// Threads: GUI thread only; the dialog's RunView carries the worker threads' calls here.
#pragma once

#include <QWidget>

#include "ui/dialog_builder.h"

namespace zolt::ui {

class TemplatePage : public QWidget {
  Q_OBJECT
 public:
  // Builds the controls of template `templateId` as a child of `parent`, at the template's place.
  // Like every dialog, a child page converts its own position and size with its own font's units.
  TemplatePage(int templateId, QWidget* parent);

  // Lays the page out again so that it fills `area` (in the parent's coordinates), the tab
  // control's page area: in the largest whole base units at which the whole template fits, at the
  // area's top, centred across it. Every control of the page then lies inside the area, whatever
  // the fonts; its own font's units would make the page 12 px taller than the area at ours.
  void PlaceIn(const QRect& area);

  const ControlMap& Controls() const { return built_.controls; }
  BaseUnits Units() const { return built_.units; }

  virtual void TakeIn() = 0;
  virtual void Refresh() = 0;

 private:
  const DialogTemplate& template_;
  BuiltDialog built_;
};

// The largest base units at which a template of `width` x `height` dialog units fits `size`.
BaseUnits UnitsToFit(int width, int height, QSize size);

}  // namespace zolt::ui
