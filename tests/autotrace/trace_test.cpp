#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "at_test_util.h"
#include "fit.h"
#include "flatten.h"
#include "quantize.h"
#include "regions/boundary.h"
#include "trace.h"
#include "trace_drawing.h"

namespace {

std::vector<at::Point> SquarePoints(int x0, int y0, int size) {
  std::vector<at::Point> pts;
  for (int i = 0; i < size; ++i) pts.push_back({double(x0 + i), double(y0)});
  for (int i = 0; i < size; ++i) pts.push_back({double(x0 + size), double(y0 + i)});
  for (int i = 0; i < size; ++i) pts.push_back({double(x0 + size - i), double(y0 + size)});
  for (int i = 0; i < size; ++i) pts.push_back({double(x0), double(y0 + size - i)});
  return pts;
}

// Pixel-corner outline of a digital disc, walked around.
std::vector<at::Point> DiscOutline(double r) {
  at::Image img = attest::Blank(int(2 * r + 8), int(2 * r + 8));
  attest::Disc(img, {0, 0, 0}, r + 4, r + 4, r);
  const at::Rgb white{255, 255, 255};
  at::RegionMap map = at::BuildRegions(at::IndexColors(img, 0, &white));
  std::vector<at::Point> pts;
  for (const at::Chain& c : map.chains)
    for (const at::LatticePoint& p : c.points) pts.push_back({double(p.x), double(p.y)});
  return pts;
}

double Distance(const at::Point& a, const at::Point& b) { return std::hypot(a.x - b.x, a.y - b.y); }

TEST(AutotraceFit, CornerRules) {
  at::FitParams p;
  const auto square = SquarePoints(0, 0, 20);
  EXPECT_EQ(at::FindCorners(square, true, p), (std::vector<size_t>{0, 20, 40, 60}));
  at::FitParams blunt = p;
  blunt.cornerThreshold = 80;  // right angles are no longer candidates
  blunt.cornerAlwaysThreshold = 40;
  EXPECT_TRUE(at::FindCorners(square, true, blunt).empty());
  // A smooth disc has no corners.
  EXPECT_TRUE(at::FindCorners(DiscOutline(30), true, p).empty());
  // Two sharp turns two points apart: one corner unless both are always-corners.
  std::vector<at::Point> zig = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {5, 1}, {5, 2}, {5, 3}, {5, 4}, {5, 5}, {6, 5}, {7, 5}, {8, 5}, {9, 5}, {10, 5}};
  at::FitParams one = p;
  one.cornerSurround = 2;
  one.cornerAlwaysThreshold = 0;
  EXPECT_EQ(at::FindCorners(zig, false, one).size(), 2u);
  one.cornerSurround = 5;
  EXPECT_EQ(at::FindCorners(zig, false, one).size(), 1u);
  one.cornerAlwaysThreshold = 100;
  EXPECT_EQ(at::FindCorners(zig, false, one).size(), 2u);
  // Adjacent corners: the sharper one stays.
  std::vector<at::Point> pair = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {4, 1}, {3, 2}, {2, 2}, {1, 2}, {0, 2}};
  at::FitParams adj = p;
  adj.cornerSurround = 2;
  adj.cornerAlwaysThreshold = 180;
  const size_t before = at::FindCorners(pair, false, adj).size();
  adj.removeAdjacentCorners = true;
  EXPECT_LT(at::FindCorners(pair, false, adj).size(), before);
}

TEST(AutotraceFit, LinesCurvesAndTolerances) {
  at::FitParams p;
  p.errorThreshold = 0.25;  // what the program passes for -error-threshold 2
  // A square: four straight sides through its exact corners.
  at::Contour sq = at::FitPoints(SquarePoints(3, 4, 20), true, p);
  ASSERT_EQ(sq.segs.size(), 4u);
  for (const at::Segment& s : sq.segs) EXPECT_TRUE(s.line);
  EXPECT_NEAR(sq.start.x, 3, 1e-9);
  EXPECT_NEAR(sq.start.y, 4, 1e-9);
  // A disc of radius 30: a few curves, never far from the true circle (the digital disc's
  // edge lies about on radius 30).
  const auto disc = DiscOutline(30);
  at::Contour c = at::FitPoints(disc, true, p);
  EXPECT_GE(c.segs.size(), 3u);
  EXPECT_LE(c.segs.size(), 10u);
  at::Point prev = c.start;
  for (const at::Segment& s : c.segs) {
    EXPECT_FALSE(s.line);
    for (int k = 0; k <= 8; ++k) {
      const double t = k / 8.0, u = 1 - t;
      const at::Point q{u * u * u * prev.x + 3 * u * u * t * s.c1.x + 3 * u * t * t * s.c2.x + t * t * t * s.end.x,
                        u * u * u * prev.y + 3 * u * u * t * s.c1.y + 3 * u * t * t * s.c2.y + t * t * t * s.end.y};
      EXPECT_NEAR(Distance(q, {34, 34}), 30, 0.6);
    }
    prev = s.end;
  }
  // A looser error threshold needs fewer pieces; a huge line threshold flattens the disc.
  at::FitParams loose = p;
  loose.errorThreshold = 1.5;
  EXPECT_LT(at::FitPoints(disc, true, loose).segs.size(), c.segs.size());
  // A straight run with a pixel of jitter is one line; with a tighter line threshold it is not.
  std::vector<at::Point> jagged;
  for (int i = 0; i <= 32; ++i) jagged.push_back({double(i), i % 4 == 1 ? 0.7 : i % 4 == 3 ? -0.7 : 0.0});
  at::FitParams raw = p;
  raw.filterIterations = 0;
  at::Contour straight = at::FitPoints(jagged, false, raw);
  ASSERT_EQ(straight.segs.size(), 1u);
  EXPECT_TRUE(straight.segs[0].line);
  raw.lineThreshold = 0.3;
  EXPECT_FALSE(at::FitPoints(jagged, false, raw).segs[0].line);
  // Open lists keep their end points exactly.
  std::vector<at::Point> arc;
  for (int i = 0; i <= 40; ++i) arc.push_back({20 * std::cos(i * 0.05) + 0.3 * (i % 2), 20 * std::sin(i * 0.05)});
  at::Contour open = at::FitPoints(arc, false, p);
  EXPECT_EQ(open.start.x, arc.front().x);
  EXPECT_EQ(open.segs.back().end.y, arc.back().y);
  // Reversal retraces the same path.
  at::Contour back = at::Reverse(open);
  EXPECT_EQ(back.start.x, open.segs.back().end.x);
  EXPECT_EQ(back.segs.back().end.x, open.start.x);
}

TEST(AutotraceFit, PixelOutlinesComeOutSmoothAndFew) {
  const at::Rgb white{255, 255, 255};
  at::FitParams p;
  p.errorThreshold = 0.25;
  // A disc is a handful of curves and no facets; a slanted bar is its four straight sides,
  // each one line however many stair steps its pixels make.
  at::Image img = attest::Blank(300, 200);
  attest::Disc(img, {0, 0, 0}, 80, 100, 60);
  attest::Paint(img, {0, 0, 0}, [](double x, double y) {
    const double t = (x - 170) * 0.8 + (y - 30) * 0.6, n = -(x - 170) * 0.6 + (y - 30) * 0.8;
    return t >= 0 && t <= 150 && std::fabs(n) < 8;
  });
  at::Drawing d = at::TraceOutlines(at::IndexColors(img, 0, &white), p);
  ASSERT_EQ(d.shapes.size(), 2u);
  for (const at::Shape& s : d.shapes) {
    ASSERT_EQ(s.contours.size(), 1u);
    const at::Contour& c = s.contours[0];
    size_t curves = 0;
    for (const at::Segment& seg : c.segs) curves += !seg.line;
    if (std::fabs(c.start.x - 80) < 62) {  // the disc
      EXPECT_LE(c.segs.size(), 12u);
      EXPECT_EQ(curves, c.segs.size());
    } else {
      EXPECT_EQ(c.segs.size(), 4u);
      EXPECT_EQ(curves, 0u);
    }
  }
}

// With defaults an anti-aliased picture is traced along its ramps: the edge runs where the
// ramp crosses half-way, a circle is a few curves on the true circle, and a dot of 3 pixels
// and a line of 2 survive.
TEST(AutotraceFit, AntiAliasedEdgesAreFollowedBetweenPixels) {
  at::Image img = attest::Blank(160, 120);
  const at::Rgb ink{20, 20, 90};
  attest::PaintSmooth(img, ink, [](double x, double y) { return std::hypot(x - 60.2, y - 55.7) < 40.3; });
  attest::PaintSmooth(img, ink, [](double x, double y) { return std::hypot(x - 130.4, y - 20.6) < 1.5; });
  attest::PaintSmooth(img, ink, [](double x, double y) { return std::fabs(x - 140.3) < 1.0 && y > 40 && y < 110; });
  at::Options options;
  at::Drawing d;
  std::string error;
  ASSERT_TRUE(at::TraceDrawing(img, options, d, error)) << error;
  size_t discs = 0, dots = 0, lines = 0;
  for (const at::Shape& s : d.shapes) {
    if (!(s.color == ink)) continue;
    ASSERT_EQ(s.contours.size(), 1u);
    const at::Contour& c = s.contours[0];
    std::vector<at::Point> pts;
    at::FlattenContour(c, 0.01, pts);
    double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
    for (const at::Point& p : pts) {
      x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
    }
    if (x1 - x0 > 60) {
      ++discs;
      size_t curves = 0;
      for (const at::Segment& seg : c.segs) curves += !seg.line;
      EXPECT_LE(c.segs.size(), 8u);
      EXPECT_EQ(curves, c.segs.size());
      for (const at::Point& p : pts) EXPECT_NEAR(std::hypot(p.x - 60.2, p.y - 55.7), 40.3, 0.2);
    } else if (y1 - y0 > 50) {
      ++lines;
      EXPECT_NEAR(x1 - x0, 2.0, 0.5);
    } else {
      ++dots;
      EXPECT_NEAR(x1 - x0, 3.0, 0.8);
    }
  }
  EXPECT_EQ(discs, 1u);
  EXPECT_EQ(dots, 1u);
  EXPECT_EQ(lines, 1u);
}

TEST(AutotraceRegions, NeighboursShareOneBoundary) {
  at::Image img = attest::Blank(30, 20);
  attest::Rect(img, {255, 0, 0}, 5, 5, 15, 15);
  attest::Rect(img, {0, 0, 255}, 15, 5, 25, 15);
  const at::Rgb white{255, 255, 255};
  at::IndexedImage idx = at::IndexColors(img, 0, &white);
  at::RegionMap map = at::BuildRegions(idx);
  // Each chain is used once forwards by the region that traced it, and once backwards
  // when the region on its other side is traced too.
  std::map<uint32_t, int> forward, backward;
  for (const at::Region& r : map.regions)
    for (const at::Cycle& c : r.cycles)
      for (const at::ChainRef& ref : c.chains) ++(ref.reversed ? backward : forward)[ref.chain];
  int shared = 0;
  for (size_t k = 0; k < map.chains.size(); ++k) {
    EXPECT_EQ(forward[uint32_t(k)], 1);
    const at::Chain& ch = map.chains[k];
    const bool otherTraced = ch.right != at::kOutside && map.regions[ch.right].traced;
    EXPECT_EQ(backward[uint32_t(k)], otherTraced ? 1 : 0);
    shared += otherTraced;
  }
  EXPECT_EQ(shared, 1);  // the seam between red and blue, from (15,5) to (15,15)
  // The shape drawn first strokes the seam underneath the other (so that no paper shows
  // through their anti-aliased edges); the one drawn on top needs no underlay.
  const at::Drawing d = at::TraceOutlines(idx, at::FitParams{});
  ASSERT_EQ(d.shapes.size(), 2u);
  ASSERT_EQ(d.shapes[0].underlay.size(), 1u);
  EXPECT_TRUE(d.shapes[1].underlay.empty());
  const at::Contour& under = d.shapes[0].underlay[0];
  ASSERT_FALSE(under.segs.empty());
  EXPECT_FALSE(under.closed);
  const double y0 = std::min(under.start.y, under.segs.back().end.y), y1 = std::max(under.start.y, under.segs.back().end.y);
  EXPECT_EQ(under.start.x, 15);
  EXPECT_EQ(y0, 5);
  EXPECT_EQ(y1, 15);
}

TEST(AutotraceRegions, HolesAreCutOnlyWhereBackgroundShows) {
  const at::Rgb white{255, 255, 255};
  // Black ring around white background, and a red disc inside a second ring's hole.
  at::Image img = attest::Blank(100, 50);
  attest::Ring(img, {0, 0, 0}, 25, 25, 10, 20);
  attest::Ring(img, {0, 0, 0}, 75, 25, 10, 20);
  attest::Disc(img, {255, 0, 0}, 75, 25, 10.5);
  at::RegionMap map = at::BuildRegions(at::IndexColors(img, 0, &white));
  int cut = 0, filled = 0;
  for (const at::Region& r : map.regions)
    for (const at::Cycle& c : r.cycles)
      if (c.hole) (c.cut ? cut : filled)++;
  EXPECT_EQ(cut, 1);
  EXPECT_EQ(filled, 1);
  // In the drawing the filled ring comes before the disc painted over its hole.
  at::Drawing d = at::TraceOutlines(at::IndexColors(img, 0, &white), at::FitParams{});
  ASSERT_EQ(d.shapes.size(), 3u);
  EXPECT_EQ(d.shapes.back().color, (at::Rgb{255, 0, 0}));
  // Without a background every colour is traced, white included.
  EXPECT_EQ(at::TraceOutlines(at::IndexColors(img, 0, nullptr), at::FitParams{}).shapes.size(), 5u);
}

TEST(AutotraceRegions, DiagonalsJoinTheDarkerColour) {
  // A checkerboard 2x2 of black and white: the black pixels join across the diagonal.
  at::Image img = attest::Blank(2, 2);
  attest::Rect(img, {0, 0, 0}, 0, 0, 1, 1);
  attest::Rect(img, {0, 0, 0}, 1, 1, 2, 2);
  std::vector<uint32_t> label;
  EXPECT_EQ(at::LabelRegions(at::IndexColors(img, 0, nullptr), label), 3u);
  EXPECT_EQ(label[0], label[3]);
  EXPECT_NE(label[1], label[2]);
  const at::Rgb white{255, 255, 255};
  at::Drawing d = at::TraceOutlines(at::IndexColors(img, 0, &white), at::FitParams{});
  ASSERT_EQ(d.shapes.size(), 1u);
  EXPECT_EQ(d.shapes[0].contours.size(), 1u);  // one outline through the shared corner

  // Labelling in place over the index gives the same regions, numbered alike, on a busy
  // picture full of crossing diagonals, U shapes and runs that join late.
  at::Image busy = attest::Blank(61, 37);
  const at::Rgb colours[3] = {{0, 0, 0}, {200, 0, 0}, {255, 255, 255}};
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 61; ++x)
      attest::Rect(busy, colours[(x * 7 + y * 13 + (x * y) % 5 + (x / 9 + y / 6) % 2) % 3], x, y, x + 1, y + 1);
  at::IndexedImage idx = at::IndexColors(busy, 0, &white);
  const uint32_t count = at::LabelRegions(idx, label);
  at::IndexedImage inPlace = idx;
  const std::vector<uint32_t> regionColour = at::LabelRegionsInPlace(inPlace);
  ASSERT_EQ(regionColour.size(), count);
  EXPECT_EQ(inPlace.index, label);
  for (size_t i = 0; i < label.size(); ++i) ASSERT_EQ(regionColour[label[i]], idx.index[i]) << i;
}

}  // namespace
