// SPDX-License-Identifier: MIT
#include "ui/dialog_builder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTableWidget>
#include <QTextLayout>
#include <QValidator>
#include <algorithm>
#include <cmath>

#include "ui/app_icon.h"
#include "ui/dialog_fonts.h"
#include "ui/log_view.h"
#include "ui/percent_progress_bar.h"
#include "ui/push_like_button.h"
#include "ui/tab_control.h"

namespace zolt::ui {
namespace {

// A one-line edit without horizontal auto-scroll takes only as much text as it can show: a key
// press or paste that would push the text past the right edge is refused, as the native edit
// control refuses it. Text set by the program is taken whole.
class FitWidthValidator : public QValidator {
 public:
  explicit FitWidthValidator(QLineEdit* edit) : QValidator(edit), edit_(edit) {}

  State validate(QString& input, int&) const override {
    return edit_->fontMetrics().horizontalAdvance(input) <= TextWidth() ? Acceptable : Invalid;
  }

 private:
  // The width the edit draws its text in: its contents less the text margins and the two
  // pixels QLineEdit keeps free on each side, and one for the caret.
  int TextWidth() const {
    QStyleOptionFrame panel;
    panel.initFrom(edit_);
    panel.lineWidth =
        edit_->hasFrame() ? edit_->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, edit_) : 0;
    panel.features = QStyleOptionFrame::None;
    const QRect contents = edit_->style()->subElementRect(QStyle::SE_LineEditContents, &panel, edit_);
    const QMargins margins = edit_->textMargins();
    return contents.width() - margins.left() - margins.right() - 2 * 2 - 1;
  }

  QLineEdit* edit_;
};

QWidget* CreateControl(const ControlTemplate& c, QWidget* parent) {
  const QString text = QString::fromUtf8(c.text);
  switch (c.kind) {
    case ControlKind::kEdit: {
      if (c.styles & kMultiline) {
        auto* edit = new LogView(parent);
        edit->setReadOnly(c.styles & kReadOnly);
        edit->setVerticalScrollBarPolicy((c.styles & kVScroll) ? Qt::ScrollBarAlwaysOn
                                                               : Qt::ScrollBarAlwaysOff);
        edit->setHorizontalScrollBarPolicy((c.styles & kHScroll) ? Qt::ScrollBarAlwaysOn
                                                                 : Qt::ScrollBarAlwaysOff);
        edit->setLineWrapMode((c.styles & (kHScroll | kAutoHScroll)) ? QPlainTextEdit::NoWrap
                                                                     : QPlainTextEdit::WidgetWidth);
        return edit;
      }
      auto* edit = new QLineEdit(text, parent);
      edit->setReadOnly(c.styles & kReadOnly);
      edit->setFrame(c.styles & kBorder);
      if (!(c.styles & kAutoHScroll)) edit->setValidator(new FitWidthValidator(edit));
      return edit;
    }
    case ControlKind::kGroupBox: {
      auto* box = new QGroupBox(text, parent);
      box->setAttribute(Qt::WA_TransparentForMouseEvents);
      box->setFocusPolicy(Qt::NoFocus);
      return box;
    }
    case ControlKind::kRadioButton: {
      if (c.styles & kPushLike) return new PushLikeRadioButton(text, parent);
      auto* radio = new QRadioButton(text, parent);
      radio->setAutoExclusive(false);
      return radio;
    }
    case ControlKind::kPushButton: {
      auto* button = new QPushButton(text, parent);
      // Only a button the template marks as default is one; Qt would otherwise make the first
      // auto-default button of a shown dialog its default and draw it so.
      button->setAutoDefault(c.styles & kDefaultButton);
      button->setDefault(c.styles & kDefaultButton);
      return button;
    }
    case ControlKind::kStatic: {
      auto* label = new QLabel(text, parent);
      label->setAlignment(((c.styles & kRightAlign) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
      return label;
    }
    case ControlKind::kIcon: {
      auto* label = new QLabel(parent);
      label->setPixmap(AppIcon().pixmap(32, 32));
      return label;
    }
    case ControlKind::kCheckBox: {
      auto* box = new QCheckBox(text, parent);
      if (c.styles & kLeftText) box->setLayoutDirection(Qt::RightToLeft);
      return box;
    }
    case ControlKind::kComboBox: {
      auto* combo = new QComboBox(parent);
      combo->setEditable(c.styles & kDropDownEdit);
      // Typed text never becomes a row of the list.
      combo->setInsertPolicy(QComboBox::NoInsert);
      for (const char* item : c.items) combo->addItem(QString::fromUtf8(item));
      combo->setCurrentIndex(-1);
      return combo;
    }
    case ControlKind::kTabControl:
      return new TabControl(parent);
    case ControlKind::kListView: {
      auto* list = new QTableWidget(parent);
      list->verticalHeader()->hide();
      list->setEditTriggers(QAbstractItemView::NoEditTriggers);
      list->setSelectionBehavior(QAbstractItemView::SelectRows);
      list->setSelectionMode(QAbstractItemView::SingleSelection);
      if (c.styles & kNoScroll) {
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      }
      list->horizontalHeader()->setSectionsClickable(false);
      list->horizontalHeader()->setHighlightSections(false);
      list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      return list;
    }
    case ControlKind::kTrackBar: {
      auto* slider = new QSlider(Qt::Horizontal, parent);
      slider->setTickPosition((c.styles & kNoTicks) ? QSlider::NoTicks : QSlider::TicksBelow);
      return slider;
    }
    case ControlKind::kProgressBar: {
      auto* bar = new PercentProgressBar(parent);
      bar->setFrameStyle((c.styles & kBorder) ? (QFrame::Box | QFrame::Plain) : QFrame::NoFrame);
      bar->setLineWidth(1);
      return bar;
    }
  }
  return new QWidget(parent);
}

// The height of the label's text laid out in its font, fallback fonts included. (A line is laid
// out when the next one is created or the layout ends, so its height is read after that.)
int TextLineHeight(const QLabel& label) {
  int height = label.fontMetrics().lineSpacing();
  QTextLayout layout(label.text(), label.font());
  layout.beginLayout();
  while (layout.createLine().isValid()) {
  }
  layout.endLayout();
  for (int i = 0; i < layout.lineCount(); ++i)
    height = std::max(height, static_cast<int>(std::ceil(layout.lineAt(i).height())));
  return height;
}

}  // namespace

BaseUnits TemplateUnits(const DialogTemplate& t) {
  return LayoutUnits(t.font, ResolveFont(t.font));
}

void LayOutDialog(QWidget* container, const DialogTemplate& t, BuiltDialog& built, BaseUnits units) {
  built.units = units;
  container->setFixedSize(DluToPixels(t.width, t.height, units));
  for (auto& [w, c] : built.placed) {
    QRect r = DluToPixels(c->rect, units);
    if (c->kind == ControlKind::kComboBox) r.setHeight(std::min(r.height(), w->sizeHint().height()));
    if (c->kind == ControlKind::kIcon) r.setSize(QSize(32, 32));
    // A one-line static text as tall as the font would clip underscores and descenders that
    // outline fonts draw below their nominal height; native statics draw unclipped. The line is
    // measured as laid out, since Hangul drawn in a fallback font (Noto Sans CJK KR is much taller
    // than Baekmuk Gulim) pushes the baseline of the whole line down.
    if (c->kind == ControlKind::kStatic)
      r.setHeight(std::max(r.height(), TextLineHeight(*static_cast<QLabel*>(w)) + 2));
    w->setGeometry(r);
  }
}

BuiltDialog BuildDialog(QWidget* container, const DialogTemplate& t) {
  BuiltDialog built{ResolveFont(t.font), {}, {}, {}};
  container->setFont(built.font);

  std::vector<QWidget*> frames;
  for (const ControlTemplate& c : t.controls) {
    QWidget* w = CreateControl(c, container);
    w->setFont(built.font);
    built.placed.emplace_back(w, &c);
    if (c.id != kStaticId) {
      w->setObjectName(QStringLiteral("control%1").arg(c.id));
      built.controls.Add(c.id, w);
    }
    if (c.kind == ControlKind::kGroupBox) frames.push_back(w);
  }
  for (QWidget* frame : frames) frame->lower();
  LayOutDialog(container, t, built, LayoutUnits(t.font, built.font));
  return built;
}

}  // namespace zolt::ui
