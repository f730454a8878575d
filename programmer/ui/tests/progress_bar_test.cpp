// SPDX-License-Identifier: MIT
// PercentProgressBar painted into images, and when it repaints.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTest>

#include "ui/percent_progress_bar.h"

namespace zolt::ui {
namespace {

// Distinct colours so that every pixel tells what was drawn there: the bar and the text over the
// unfilled part in blue, the unfilled part white, the text over the bar yellow.
const QColor kBlue(0, 0, 255), kWhite(255, 255, 255), kYellow(255, 255, 0);

bool IsYellowish(QRgb p) {
  return qRed(p) > 180 && qGreen(p) > 180 && qBlue(p) < 90;
}
bool IsWhitish(QRgb p) {
  return qRed(p) > 180 && qGreen(p) > 180 && qBlue(p) > 180;
}
bool IsBluish(QRgb p) {
  return qBlue(p) > 180 && qRed(p) < 90 && qGreen(p) < 90;
}

struct Fixture {
  QWidget host;
  PercentProgressBar* bar;
  Fixture() {
    QPalette palette = host.palette();
    palette.setColor(QPalette::Highlight, kBlue);
    palette.setColor(QPalette::Base, kYellow);
    host.setPalette(palette);
    bar = new PercentProgressBar(&host);
    bar->setFrameStyle(QFrame::Box | QFrame::Plain);
    bar->setLineWidth(1);
    QFont big = bar->font();
    big.setPixelSize(16);
    bar->setFont(big);
    bar->resize(202, 24);  // client area 200 x 22
    bar->SetBackgroundColour(kWhite);
    bar->SetShowText(true);
  }
  // The bar's own painting only, over black (no window background).
  QImage Paint() {
    QImage image(bar->size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    bar->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
  }
  // Counts the client pixels in columns [x0, x1) that satisfy `test`.
  template <class Test>
  static int Count(const QImage& image, int x0, int x1, Test test) {
    int n = 0;
    for (int y = 1; y < image.height() - 1; ++y) {
      for (int x = x0; x < x1; ++x) n += test(image.pixel(x, y)) ? 1 : 0;
    }
    return n;
  }
};

TEST(PercentProgressBar, AtTheLowerBoundNothingIsFilledAndTheTextIsOnBackground) {
  Fixture f;
  f.bar->SetPos(0);
  const QImage image = f.Paint();
  EXPECT_TRUE(IsWhitish(image.pixel(1, 1)));
  EXPECT_TRUE(IsWhitish(image.pixel(200, 22)));
  EXPECT_EQ(Fixture::Count(image, 1, 201, IsYellowish), 0);
  EXPECT_GT(Fixture::Count(image, 80, 121, IsBluish), 10);  // "0%" in the middle
  EXPECT_EQ(f.bar->Percent(), 0);
}

TEST(PercentProgressBar, AtTheUpperBoundAllIsFilledAndTheTextIsOnTheBar) {
  Fixture f;
  f.bar->SetPos(100);
  const QImage image = f.Paint();
  EXPECT_TRUE(IsBluish(image.pixel(1, 1)));
  EXPECT_TRUE(IsBluish(image.pixel(200, 22)));
  EXPECT_EQ(Fixture::Count(image, 1, 201, IsWhitish), 0);
  EXPECT_GT(Fixture::Count(image, 80, 121, IsYellowish), 10);  // "100%"
}

TEST(PercentProgressBar, ABarEndingMidTextSplitsTheTextInTwoColours) {
  Fixture f;
  f.bar->SetRange(0, 200);
  f.bar->SetPos(100);  // the fill ends at client x 100, the middle of the centred "50%"
  const QImage image = f.Paint();
  const int split = 1 + 100;
  // Left of the split: blue bar with yellow text; right of it: white with blue text.
  EXPECT_EQ(Fixture::Count(image, 1, split, IsWhitish), 0);
  EXPECT_GT(Fixture::Count(image, split - 20, split, IsYellowish), 5);
  EXPECT_EQ(Fixture::Count(image, split, 201, IsYellowish), 0);
  EXPECT_GT(Fixture::Count(image, split, split + 20, IsBluish), 5);
}

TEST(PercentProgressBar, PercentTruncatesExactly) {
  Fixture f;
  struct Case {
    int lower, upper, pos, percent;
  } cases[] = {{0, 1000, 999, 99}, {0, 100, 29, 29}, {0, 100, 57, 57},
               {0, 100, 150, 150}, {10, 20, 15, 50}, {0, 100, -5, -5}};
  for (const Case& c : cases) {
    f.bar->SetRange(c.lower, c.upper);
    f.bar->SetPos(c.pos);
    EXPECT_EQ(f.bar->Percent(), c.percent) << c.pos << " of " << c.lower << ".." << c.upper;
  }
  // Beyond the range the bar is drawn full or empty, never outside its client area.
  f.bar->SetRange(0, 100);
  f.bar->SetPos(150);
  EXPECT_TRUE(IsBluish(f.Paint().pixel(200, 1)));
  f.bar->SetPos(-5);
  EXPECT_TRUE(IsWhitish(f.Paint().pixel(1, 22)));
}

TEST(PercentProgressBar, EmptyRangePaintsNothingAndDoesNotFail) {
  Fixture f;
  f.bar->SetRange(5, 5);
  EXPECT_EQ(f.bar->SetPos(5), 0);
  EXPECT_EQ(f.bar->Percent(), 0);
  const QImage image = f.Paint();
  EXPECT_EQ(image.pixel(100, 12), QColor(Qt::black).rgb());
}

class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

TEST(PercentProgressBar, RepaintsOnlyWhenTheFilledWidthChanges) {
  Fixture f;
  f.host.resize(300, 100);
  f.host.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.host));
  QApplication::processEvents();
  PaintCounter counter;
  f.bar->installEventFilter(&counter);
  f.bar->SetRange(0, 1000);

  EXPECT_EQ(f.bar->SetPos(500), 0);  // 100 px
  EXPECT_EQ(counter.paints, 1);
  EXPECT_EQ(f.bar->SetPos(501), 500);  // still 100 px: no paint
  EXPECT_EQ(counter.paints, 1);
  EXPECT_EQ(f.bar->SetStep(7), 1);  // the step is only stored
  EXPECT_EQ(counter.paints, 1);

  f.bar->resize(302, 24);
  QApplication::processEvents();
  const int afterResize = counter.paints;
  f.bar->SetPos(501);  // unchanged position, but the width on record was dropped by the resize
  EXPECT_EQ(counter.paints, afterResize + 1);
}

}  // namespace
}  // namespace zolt::ui
