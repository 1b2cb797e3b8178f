#include <gtest/gtest.h>

#include <cmath>

#include "at_test_util.h"
#include "quantize.h"
#include "trace.h"

namespace {

const at::Rgb kWhite{255, 255, 255};

at::Drawing Trace(const at::Image& img, bool preserve = true) {
  at::CenterlineParams cp;
  cp.preserveWidth = preserve;
  return at::TraceCenterlines(at::IndexColors(img, 0, &kWhite), at::FitParams{}, cp);
}

at::Point End(const at::Contour& c) { return c.segs.empty() ? c.start : c.segs.back().end; }
double Dist(at::Point a, at::Point b) { return std::hypot(a.x - b.x, a.y - b.y); }

TEST(AutotraceCenterline, PlusTeeAndCircleTopology) {
  for (int w : {3, 6, 11, 20}) {
    const double o = w % 2 ? 0.5 : 0.0;
    at::Image plus = attest::Blank(200, 200);
    attest::Rect(plus, {0, 0, 0}, 100 + o - w / 2.0, 20, 100 + o + w / 2.0, 180);
    attest::Rect(plus, {0, 0, 0}, 20, 100 + o - w / 2.0, 180, 100 + o + w / 2.0);
    at::Drawing d = Trace(plus);
    // One path per stroke: the two strokes carry straight on through the crossing.
    ASSERT_EQ(d.shapes.size(), 2u) << "plus, width " << w;
    for (const at::Shape& s : d.shapes) {
      ASSERT_EQ(s.contours.size(), 1u);
      EXPECT_FALSE(s.contours[0].closed);
      EXPECT_TRUE(s.stroked);
      const at::Contour& c = s.contours[0];
      const at::Point mid{100 + o, 100 + o};
      // Straight through the middle: the middle lies on the line from end to end.
      const at::Point e = End(c);
      const double len = Dist(c.start, e);
      const double off = std::fabs((e.x - c.start.x) * (mid.y - c.start.y) - (e.y - c.start.y) * (mid.x - c.start.x)) / len;
      EXPECT_LT(off, 1.0) << "width " << w;
      EXPECT_GT(std::max(std::fabs(c.start.x - End(c).x), std::fabs(c.start.y - End(c).y)), 150 - w) << "width " << w;
      EXPECT_NEAR(s.width, w, 1.0);
    }

    at::Image tee = attest::Blank(200, 200);
    attest::Rect(tee, {0, 0, 0}, 20, 40 + o - w / 2.0, 180, 40 + o + w / 2.0);
    attest::Rect(tee, {0, 0, 0}, 100 + o - w / 2.0, 40, 100 + o + w / 2.0, 180);
    EXPECT_EQ(Trace(tee).shapes.size(), 2u) << "T, width " << w;

    at::Image ring = attest::Blank(200, 200);
    attest::Ring(ring, {0, 0, 0}, 100, 100, 60 - w / 2.0, 60 + w / 2.0);
    // Pinholes of one to four pixels in the stroke make no small loops of their own.
    if (w >= 6)
      for (int k = 0; k < 6; ++k) attest::Disc(ring, {255, 255, 255}, 100 + 60 * std::cos(k), 100 + 60 * std::sin(k), k % 2 ? 0.6 : 1.1);
    at::Drawing r = Trace(ring);
    ASSERT_EQ(r.shapes.size(), 1u) << "circle, width " << w;
    EXPECT_TRUE(r.shapes[0].contours[0].closed);
    EXPECT_NEAR(r.shapes[0].width, w, 1.0);
    // The centre-line runs along radius 60.
    EXPECT_NEAR(Dist(r.shapes[0].contours[0].start, {100, 100}), 60, 0.75);
  }
}

TEST(AutotraceCenterline, NoSpursAndNoHooksOnSquareEnds) {
  at::Image bar = attest::Blank(200, 80);
  attest::Paint(bar, {0, 0, 0}, [](double x, double y) {
    const double t = (x - 20) * 0.96 + (y - 20) * 0.28, n = -(x - 20) * 0.28 + (y - 20) * 0.96;
    return t >= 0 && t <= 160 && std::fabs(n) < 9;
  });
  at::Drawing d = Trace(bar);
  ASSERT_EQ(d.shapes.size(), 1u);
  const at::Contour& c = d.shapes[0].contours[0];
  // Both ends lie on the true centre-line, not bent toward a corner, and reach the bar's
  // flat ends instead of stopping half a stroke width short.
  double lo = 1e9, hi = -1e9;
  for (at::Point p : {c.start, End(c)}) {
    const double n = -(p.x - 20) * 0.28 + (p.y - 20) * 0.96;
    EXPECT_LT(std::fabs(n), 1.0);
    const double t = (p.x - 20) * 0.96 + (p.y - 20) * 0.28;
    lo = std::min(lo, t);
    hi = std::max(hi, t);
  }
  EXPECT_LT(lo, 1.5);
  EXPECT_GT(hi, 158.5);
  EXPECT_NEAR(d.shapes[0].width, 18, 1.0);
  // Without -preserve-width strokes are thin lines.
  EXPECT_EQ(Trace(bar, false).shapes[0].width, 1.0);
}

TEST(AutotraceCenterline, NoiseAndColours) {
  at::Image img = attest::Blank(120, 60);
  attest::Rect(img, {200, 0, 0}, 10, 10, 110, 15);
  attest::Rect(img, {0, 0, 200}, 10, 40, 110, 45);
  attest::Rect(img, {200, 0, 0}, 60, 30, 61, 31);  // a lone speck
  at::Drawing d = Trace(img);
  ASSERT_EQ(d.shapes.size(), 2u);  // the speck is noise
  EXPECT_NE(d.shapes[0].color, d.shapes[1].color);
  // An all-background picture gives an empty drawing.
  EXPECT_TRUE(Trace(attest::Blank(10, 10)).shapes.empty());
}

}  // namespace
