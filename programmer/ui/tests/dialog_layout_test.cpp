// SPDX-License-Identifier: MIT
// The dialog layer: dialog units, fonts, templates and the builder.
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QGroupBox>
#include <QPushButton>
#include <QRawFont>
#include <QTextLayout>
#include <set>

#include "ui/about_dialog.h"
#include "ui/control_ids.h"
#include "ui/dialog_fonts.h"
#include "ui/dialog_units.h"
#include "ui/programmer_dialog.h"
#include "ui/template_page.h"

namespace zolt::ui {
namespace {

TEST(DialogUnits, MulDivRoundsHalvesAwayFromZero) {
  struct Case {
    int a, b, c, expected;
  } cases[] = {{1, 6, 4, 2}, {3, 6, 4, 5}, {2, 7, 4, 4}, {5, 13, 8, 8}, {-3, 6, 4, -5}, {234, 7, 4, 410}};
  for (const Case& c : cases) EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;
}

TEST(DialogUnits, EachEdgeIsConvertedOnItsOwn) {
  const BaseUnits units{7, 13};
  // Two controls that touch in dialog units touch in pixels, whatever the rounding.
  const QRect left = DluToPixels(DluRect{1, 1, 3, 3}, units);
  const QRect right = DluToPixels(DluRect{4, 4, 3, 3}, units);
  EXPECT_EQ(left.right() + 1, right.left());
  EXPECT_EQ(left.bottom() + 1, right.top());
}

TEST(DialogUnits, BaseUnitsFollowTheWindowsRule) {
  const QFont font = ResolveFont({FontSpec::Face::kGulim, 9});
  const QFontMetrics metrics(font);
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  const BaseUnits units = BaseUnitsOf(font);
  EXPECT_EQ(units.x, (letters / 26 + 1) / 2);
  EXPECT_EQ(units.y, metrics.height());
}

// The family that draws `text` in `font` (the first of them, for text of one script).
QString FamilyDrawing(const QString& text, const QFont& font) {
  QTextLayout layout(text, font);
  layout.beginLayout();
  layout.createLine();
  layout.endLayout();
  const QList<QGlyphRun> runs = layout.glyphRuns();
  return runs.isEmpty() ? QString() : runs.first().rawFont().familyName();
}

TEST(DialogFonts, GulimDrawsLatinInALatinFamilyAndHangulInAKoreanOne) {
  const QFont font = ResolveFont({FontSpec::Face::kGulim, 9});
  EXPECT_EQ(font.pixelSize(), 12);  // 9 pt at 96 dpi
  const QString latin = FamilyDrawing(QStringLiteral("Read Firmware Version"), font);
  EXPECT_TRUE(LatinFamilies(FontSpec::Face::kGulim).contains(latin, Qt::CaseInsensitive))
      << latin.toStdString();
  const QString hangul = FamilyDrawing(QStringLiteral("정보확인"), font);
  EXPECT_TRUE(KoreanFamilies().contains(hangul, Qt::CaseInsensitive)) << hangul.toStdString();
  EXPECT_EQ(ResolveFont({FontSpec::Face::kMsSansSerif, 8}).pixelSize(), 11);
}

TEST(DialogFonts, TheGulimLayoutUnitsAreBaekmukGulims) {
  if (!QFontDatabase::families().contains(QStringLiteral("Baekmuk Gulim")))
    GTEST_SKIP() << "no Baekmuk Gulim";
  QFont baekmuk(QStringLiteral("Baekmuk Gulim"));
  baekmuk.setPixelSize(12);
  const BaseUnits measured = BaseUnitsOf(baekmuk);
  EXPECT_EQ(measured.x, kGulimLayoutUnits.x);
  EXPECT_EQ(measured.y, kGulimLayoutUnits.y);
  // Whatever font draws the text, the Gulim templates are laid out in these units.
  const BaseUnits units = TemplateUnits(TemplateById(kMainTemplate));
  EXPECT_EQ(units.x, 8);
  EXPECT_EQ(units.y, 12);
}

TEST(DialogTemplates, IdsAreUniqueWithinEachTemplateAndEveryControlIsBuilt) {
  for (int id : {kAboutTemplate, kMainTemplate, kNorOptionsTemplate, kFileSelectionTemplate,
                 kPinToggleTemplate, kFirmwareVersionTemplate, kMultiDeviceTemplate}) {
    const DialogTemplate& t = TemplateById(id);
    std::set<int> seen;
    QWidget container;
    const BuiltDialog built = BuildDialog(&container, t);
    for (const ControlTemplate& c : t.controls) {
      if (c.id == kStaticId) continue;
      EXPECT_TRUE(seen.insert(c.id).second) << "template " << id << " repeats " << c.id;
      ASSERT_NE(built.controls.Find(c.id), nullptr) << "template " << id << " control " << c.id;
      // Every control lies inside its dialog.
      EXPECT_TRUE(QRect(QPoint(0, 0), container.size()).contains(built.controls.Find(c.id)->geometry()))
          << "template " << id << " control " << c.id;
    }
  }
}

TEST(MainDialogLayout, ClientAreaIs234By374DialogUnitsAtItsFont) {
  ProgrammerDialog dialog;
  const BaseUnits units = kGulimLayoutUnits;
  EXPECT_EQ(dialog.size(), QSize(MulDiv(234, units.x, 4), MulDiv(374, units.y, 8)));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("ZOLT USB JTAG Programmer (Ver 2.0.00)"));
  EXPECT_EQ(dialog.Controls().Find(kIdLogView)->geometry(), DluToPixels(DluRect{2, 189, 229, 142}, units));
  EXPECT_EQ(dialog.Controls().Find(kIdProgressBar)->geometry(), DluToPixels(DluRect{2, 350, 229, 19}, units));
  EXPECT_FALSE(dialog.windowIcon().isNull());
}

TEST(MainDialogLayout, FramesDrawnOverButtonsLetClicksThrough) {
  ProgrammerDialog dialog;
  // The RUN button lies inside frame 1039, which the template creates after it.
  const QRect run = dialog.RunButton()->geometry();
  EXPECT_EQ(dialog.childAt(run.center()), dialog.RunButton());
  const QRect nand = dialog.NandButton()->geometry();
  EXPECT_EQ(dialog.childAt(nand.center()), dialog.NandButton());
}

TEST(MainDialogLayout, PagesLieWithinTheTabPanel) {
  ProgrammerDialog dialog;
  const QRect tabs = dialog.Controls().Find(kIdPageTabs)->geometry();
  for (int tab = 0; tab < ProgrammerDialog::kPageCount; ++tab) {
    const QRect page = dialog.PageOfTab(tab)->geometry();
    EXPECT_TRUE(tabs.contains(page)) << tab;
    EXPECT_FALSE(page.intersects(dialog.Controls().Find(kIdLogView)->geometry())) << tab;
  }
}

TEST(AboutBox, ShowsTheKoreanTemplate) {
  AboutDialog about;
  EXPECT_EQ(about.windowTitle(), QStringLiteral("ZOLT_USB_JTAG 정보"));
  auto* ok = about.Controls().Get<QPushButton>(kIdOk);
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), QStringLiteral("확인"));
  EXPECT_EQ(about.size(), DluToPixels(235, 55, kGulimLayoutUnits));
}

}  // namespace
}  // namespace zolt::ui
