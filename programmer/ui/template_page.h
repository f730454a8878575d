// Base of the five option pages: a child window built from its dialog template, placed over the
// main dialog's tab control, with its controls found by id. Each page has its own data exchange:
// TakeIn copies the bound controls' state into the page's fields, Refresh copies the fields back.
// Controls bound only as control objects (lists, track bar) take part in neither.
//
// Threads: GUI thread only; the dialog's Operator carries the worker threads' calls here.
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

  const ControlMap& Controls() const { return built_.controls; }
  BaseUnits Units() const { return built_.units; }

  virtual void TakeIn() = 0;
  virtual void Refresh() = 0;

 private:
  BuiltDialog built_;
};

}  // namespace zolt::ui
