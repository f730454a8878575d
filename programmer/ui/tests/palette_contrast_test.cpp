// SPDX-License-Identifier: MIT
// Readability whatever the palette: the progress bar's text on both its parts, and the chosen
// flash-type button against the other, measured as contrast ratios on what is drawn.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <cstdio>
#include <string>
#include <tuple>

#include "ui/colour_contrast.h"
#include "ui/percent_progress_bar.h"
#include "ui/programmer_dialog.h"

namespace zolt::ui {
namespace {

TEST(ColourContrast, RatiosAndReadableColours) {
  EXPECT_NEAR(ContrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
  EXPECT_NEAR(ContrastRatio(Qt::red, Qt::red), 1.0, 1e-9);
  EXPECT_NEAR(ContrastRatio(QColor(0, 0, 255), Qt::white), 8.59, 0.01);
  struct Case {
    QColor text, fill;
    bool kept;  // already readable: returned as it is
  } cases[] = {
      {QColor(25, 25, 25), QColor(42, 130, 218), false},      // a dark palette's base on its highlight
      {QColor(42, 130, 218), Qt::white, false},               // that highlight on the white bar
      {QColor(48, 140, 198), Qt::white, false},               // the light palette's highlight
      {QColor(255, 255, 255), QColor(0, 0, 128), true},       // white on navy
      {QColor(128, 128, 128), QColor(119, 119, 119), false},  // grey on grey: only black or white do
      {QColor(255, 255, 0), QColor(255, 255, 0), false},
  };
  for (const Case& c : cases) {
    const QColor readable = ReadableOn(c.text, c.fill);
    EXPECT_GE(ContrastRatio(readable, c.fill), kReadableContrast) << c.text.name().toStdString();
    EXPECT_EQ(readable == c.text, c.kept) << c.text.name().toStdString();
  }
}

QPalette DarkPalette() {
  QPalette p;
  p.setColor(QPalette::Window, QColor(53, 53, 53));
  p.setColor(QPalette::WindowText, Qt::white);
  p.setColor(QPalette::Base, QColor(25, 25, 25));
  p.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
  p.setColor(QPalette::Text, Qt::white);
  p.setColor(QPalette::Button, QColor(53, 53, 53));
  p.setColor(QPalette::ButtonText, Qt::white);
  p.setColor(QPalette::Light, QColor(80, 80, 80));
  p.setColor(QPalette::Midlight, QColor(66, 66, 66));
  p.setColor(QPalette::Dark, QColor(35, 35, 35));
  p.setColor(QPalette::Mid, QColor(44, 44, 44));
  p.setColor(QPalette::Shadow, QColor(20, 20, 20));
  p.setColor(QPalette::Highlight, QColor(42, 130, 218));
  p.setColor(QPalette::HighlightedText, QColor(25, 25, 25));
  return p;
}

// A button's face as the eye sees it: the mean of a patch beside its centred text, halfway
// down, clear of its bevel (styles may dither a face).
QColor Face(const QImage& image) {
  int r = 0, g = 0, b = 0, n = 0;
  for (int y = image.height() / 2 - 2; y < image.height() / 2 + 2; ++y) {
    for (int x = 4; x < 8; ++x, ++n) {
      const QColor c = image.pixelColor(x, y);
      r += c.red(), g += c.green(), b += c.blue();
    }
  }
  return QColor(r / n, g / n, b / n);
}

// Pixels of `image` at least `ratio` apart from `fill`: the ink of text drawn readably on it.
int Ink(const QImage& image, const QColor& fill, double ratio) {
  int n = 0;
  for (int y = 2; y < image.height() - 2; ++y)
    for (int x = 2; x < image.width() - 2; ++x)
      n += ContrastRatio(image.pixelColor(x, y), fill) >= ratio ? 1 : 0;
  return n;
}

TEST(PaletteContrast, BarTextAndChosenFlashTypeStandOutInEveryPalette) {
  const QString savedStyle = QApplication::style()->name();
  const QPalette savedPalette = QApplication::palette();
  struct Case {
    const char* name;
    const char* style;
    QPalette palette;
  } cases[] = {
      {"Windows, application palette", "Windows", savedPalette},
      {"Fusion, its standard palette", "Fusion", QPalette()},
      {"Fusion, dark", "Fusion", DarkPalette()},
      {"Windows, dark", "Windows", DarkPalette()},
  };
  for (Case& c : cases) {
    QApplication::setStyle(QStyleFactory::create(QString::fromLatin1(c.style)));
    const bool standard = std::string(c.name).find("standard") != std::string::npos;
    QApplication::setPalette(standard ? QApplication::style()->standardPalette() : c.palette);
    ProgrammerDialog d;
    d.show();
    PercentProgressBar* bar = d.ProgressBar();
    const double onBar = ContrastRatio(bar->DrawnTextOnBarColour(), bar->BarColour());
    const double onBackground = ContrastRatio(bar->DrawnTextOnBackgroundColour(), bar->BackgroundColour());
    EXPECT_GE(onBar, kReadableContrast) << c.name;
    EXPECT_GE(onBackground, kReadableContrast) << c.name;
    // What is drawn: "100%" in the readable colour on the bar, "0%" likewise on the background.
    for (int pos : {100, 0}) {
      bar->SetPos(pos);
      const QImage image = bar->grab().toImage();
      const QColor fill = pos == 100 ? bar->BarColour() : bar->BackgroundColour();
      // The glyphs' cores reach the text colour; only the antialiased edges lie between.
      EXPECT_GT(Ink(image, fill, 3.0), 10) << c.name << " at " << pos;
    }

    const QImage chosen = d.NorButton()->grab().toImage();
    const QImage other = d.NandButton()->grab().toImage();
    ASSERT_TRUE(d.NorButton()->isChecked());
    const QColor chosenFace = Face(chosen);
    const QColor otherFace = Face(other);
    const double faces = ContrastRatio(chosenFace, otherFace);
    const double label = ContrastRatio(d.NorButton()->palette().color(QPalette::ButtonText), chosenFace);
    // 3:1 is the guidelines' contrast for parts of controls; text 4.5:1.
    EXPECT_GE(faces, kControlContrast)
        << c.name << ": " << chosenFace.name().toStdString() << " vs " << otherFace.name().toStdString();
    EXPECT_GE(label, kReadableContrast) << c.name;
    std::printf("%-30s bar text %.2f:1 on bar, %.2f:1 on background; flash type faces %.2f:1, label %.2f:1\n",
                c.name, onBar, onBackground, faces, label);
  }
  QApplication::setStyle(QStyleFactory::create(savedStyle));
  QApplication::setPalette(savedPalette);
}

}  // namespace
}  // namespace zolt::ui
