// SPDX-License-Identifier: MIT
// The main dialog's layout under one font set, named by ZOLT_UI_FONT_SET (ctest runs this once per
// set, each with a fontconfig file that lists only that set's fonts): every page inside the tab
// control's page area below the tab row, every control inside its page, all five tabs in view and
// answering the mouse, the dialog at its dialog-unit size, the NOR setting block unwrapped, and no
// static text clipped by its control (the about box's Hangul may come from a much taller font).
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QLabel>
#include <QRawFont>
#include <QTabBar>
#include <QTest>
#include <QTextLayout>
#include <QToolButton>

#include "ui/about_dialog.h"
#include "ui/control_ids.h"
#include "ui/dialog_fonts.h"
#include "ui/log_view.h"
#include "ui/programmer_dialog.h"
#include "ui/tab_control.h"
#include "ui/template_page.h"

namespace zolt::ui {
namespace {

QString FontSet() {
  return qEnvironmentVariable("ZOLT_UI_FONT_SET");
}

QString FamilyDrawing(const QString& text, const QFont& font) {
  QTextLayout layout(text, font);
  layout.beginLayout();
  layout.createLine();
  layout.endLayout();
  const QList<QGlyphRun> runs = layout.glyphRuns();
  return runs.isEmpty() ? QString() : runs.first().rawFont().familyName();
}

TEST(FontLayout, TheFontSetIsTheOneNamed) {
  const QStringList families = QFontDatabase::families();
  const QString set = FontSet();
  if (set.isEmpty()) GTEST_SKIP() << "no ZOLT_UI_FONT_SET";
  if (!families.contains(QStringLiteral("DejaVu Sans"))) GTEST_SKIP() << "fonts-dejavu is not installed";
  const QString hangul = FamilyDrawing(QStringLiteral("정보확인"), ResolveFont({FontSpec::Face::kGulim, 9}));
  if (set == QStringLiteral("baekmuk")) {
    if (!families.contains(QStringLiteral("Baekmuk Gulim"))) GTEST_SKIP() << "fonts-baekmuk is not installed";
    EXPECT_EQ(hangul, QStringLiteral("Baekmuk Gulim"));
  } else if (set == QStringLiteral("noto")) {
    if (!families.contains(QStringLiteral("Noto Sans CJK KR")))
      GTEST_SKIP() << "fonts-noto-cjk is not installed";
    EXPECT_FALSE(families.contains(QStringLiteral("Baekmuk Gulim")));
    EXPECT_EQ(hangul, QStringLiteral("Noto Sans CJK KR"));
  } else {
    for (const QString& korean : KoreanFamilies())
      EXPECT_FALSE(families.contains(korean)) << korean.toStdString();
    EXPECT_EQ(families.contains(QStringLiteral("DejaVu Sans Condensed")), set == QStringLiteral("none"));
  }
  std::printf("font set %s: Latin in %s, Hangul in %s\n", qPrintable(set),
              qPrintable(FamilyDrawing(QStringLiteral("Read Firmware Version"),
                                       ResolveFont({FontSpec::Face::kGulim, 9}))),
              qPrintable(hangul));
}

struct Shown {
  ProgrammerDialog d;
  Shown() {
    d.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
  }
  TabControl* Tabs() const { return d.PageTabs(); }
  QRect PageArea() const { return Tabs()->PageArea().translated(Tabs()->pos()); }
};

TEST(FontLayout, TheDialogHasItsDialogUnitSize) {
  Shown s;
  EXPECT_EQ(s.d.size(), DluToPixels(234, 374, kGulimLayoutUnits));
  EXPECT_EQ(s.Tabs()->geometry(), DluToPixels(DluRect{2, 45, 229, 139}, kGulimLayoutUnits));
}

TEST(FontLayout, EveryPageLiesInThePageAreaBelowTheTabRowWithEveryControlInside) {
  Shown s;
  const QRect area = s.PageArea();
  const int tabRowBottom = s.Tabs()->y() + s.Tabs()->tabBar()->height();
  for (int tab = 0; tab < ProgrammerDialog::kPageCount; ++tab) {
    TemplatePage* page = s.d.PageOfTab(tab);
    const QRect r = page->geometry();
    EXPECT_TRUE(area.contains(r)) << "tab " << tab << " page " << r.x() << "," << r.y() << " " << r.width()
                                  << "x" << r.height();
    EXPECT_GE(r.top(), tabRowBottom) << tab;
    // No strip of the area is left empty beyond the rounding of whole base units.
    EXPECT_LT(area.width() - r.width(), 223 / 4 + 1) << tab;
    EXPECT_LT(area.height() - r.height(), 118 / 8 + 1) << tab;
    for (QWidget* control : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      EXPECT_TRUE(page->rect().contains(control->geometry()))
          << "tab " << tab << " control " << control->objectName().toStdString();
    }
  }
}

TEST(FontLayout, AllFiveTabsAreInViewAndAClickOnEachShowsItsPage) {
  Shown s;
  QTabBar* bar = s.Tabs()->tabBar();
  for (QToolButton* arrow : bar->findChildren<QToolButton*>()) EXPECT_FALSE(arrow->isVisible());
  for (int tab = 0; tab < ProgrammerDialog::kPageCount; ++tab) {
    EXPECT_TRUE(bar->rect().contains(bar->tabRect(tab))) << tab;
    // The label fits its tab.
    EXPECT_GE(bar->tabRect(tab).width(), bar->fontMetrics().horizontalAdvance(bar->tabText(tab))) << tab;
  }
  std::printf("tabs: padding %d px, row %d px of %d px\n", s.Tabs()->TabPadding(),
              bar->tabRect(ProgrammerDialog::kPageCount - 1).right() + 1, bar->width());
  for (int tab : {4, 1, 3, 2, 0}) {
    const QPoint centre = bar->tabRect(tab).center();
    // Nothing lies over the tab: a click there reaches the tab bar.
    EXPECT_EQ(s.d.childAt(bar->mapTo(&s.d, centre)), bar) << tab;
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, centre);
    EXPECT_EQ(s.Tabs()->CurrentIndex(), tab);
    for (int i = 0; i < ProgrammerDialog::kPageCount; ++i) EXPECT_EQ(s.d.PageOfTab(i)->isVisible(), i == tab);
  }
}

TEST(FontLayout, TheNorSettingBlockDoesNotWrap) {
  Shown s;
  LogView* log = s.d.Log();
  const char* block[] = {"[Download to NOR FLASH]",
                         "  **** NOR FLASH SETTING ********************************",
                         "  **********************************************************"};
  for (const char* line : block) {
    EXPECT_LT(log->fontMetrics().horizontalAdvance(QString::fromLatin1(line)), log->viewport()->width())
        << line;
  }
  log->Append(QStringLiteral("  **********************************************************\r\n"));
  EXPECT_EQ(log->document()->documentLayout()->documentSize().height(), 2.0);  // that line and the empty last
}

TEST(FontLayout, EveryStaticTextIsAsTallAsItsLaidOutLine) {
  ProgrammerDialog main;
  AboutDialog about;
  int texts = 0;
  for (QWidget* dialog : {static_cast<QWidget*>(&main), static_cast<QWidget*>(&about)}) {
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
      if (label->text().isEmpty()) continue;
      // The line as QLabel draws it: Latin and Hangul may come from different fonts, and the
      // tallest of them sets the line; an underscore lies below its baseline.
      QTextLayout layout(label->text(), label->font());
      layout.beginLayout();
      const QTextLine line = layout.createLine();
      layout.endLayout();
      EXPECT_GE(label->height(), line.height()) << label->text().toStdString();
      ++texts;
    }
  }
  EXPECT_GT(texts, 10);
}

}  // namespace
}  // namespace zolt::ui
