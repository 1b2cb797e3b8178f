#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "at_test_util.h"
#include "noise_removal.h"
#include "quantize.h"

namespace {

std::set<uint32_t> UsedIndices(const at::IndexedImage& img) { return {img.index.begin(), img.index.end()}; }

TEST(AutotraceColors, ReductionKeepsTheMainColoursAndTheBackground) {
  at::Image img = attest::Blank(60, 20);
  // Three clusters of near colours on white: reds, blues, and a sprinkling of near-whites.
  for (int x = 0; x < 20; ++x)
    for (int y = 0; y < 20; ++y) {
      const uint8_t j = static_cast<uint8_t>((x + y) % 5);
      attest::Rect(img, {static_cast<uint8_t>(200 + j), 10, 10}, x, y, x + 1, y + 1);
      attest::Rect(img, {10, 10, static_cast<uint8_t>(190 + j)}, x + 20, y, x + 21, y + 1);
      if ((x * 7 + y) % 3 == 0) attest::Rect(img, {250, 250, 250}, x + 40, y, x + 41, y + 1);
    }
  const at::Rgb white{255, 255, 255};
  at::IndexedImage q = at::IndexColors(img, 3, &white);
  EXPECT_LE(UsedIndices(q).size(), 3u);
  ASSERT_GE(q.background, 0);
  EXPECT_EQ(q.palette[static_cast<size_t>(q.background)], white);
  const at::Rgb red = q.palette[q.At(3, 3)], blue = q.palette[q.At(23, 3)];
  EXPECT_NEAR(red.r, 202, 3);
  EXPECT_LT(red.b, 20);
  EXPECT_NEAR(blue.b, 192, 3);
  EXPECT_NE(q.At(3, 3), q.At(23, 3));
  EXPECT_EQ(q.At(41, 0), static_cast<uint32_t>(q.background));  // near-white joined the background

  // Without reduction every colour stays, and the background is matched exactly.
  at::IndexedImage all = at::IndexColors(img, 0, &white);
  EXPECT_EQ(all.palette.size(), 12u);
  const at::Rgb absent{1, 2, 3};
  EXPECT_EQ(at::IndexColors(img, 0, &absent).background, -1);
  // Fewer colours than asked for: nothing changes.
  at::IndexedImage few = at::IndexColors(img, 64, nullptr);
  EXPECT_EQ(few.palette.size(), 12u);
}

TEST(AutotraceColors, ManyColoursAreBinnedAndStillReduced) {
  at::Image img = attest::Blank(300, 300);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 300; ++x) {
      const size_t i = (static_cast<size_t>(y) * 300 + x) * 3;
      img.rgb[i] = static_cast<uint8_t>(x);
      img.rgb[i + 1] = static_cast<uint8_t>(y);
      img.rgb[i + 2] = static_cast<uint8_t>((x * y) >> 8);
    }
  at::IndexedImage q = at::IndexColors(img, 16, nullptr);
  EXPECT_LE(UsedIndices(q).size(), 16u);
  EXPECT_GE(UsedIndices(q).size(), 8u);

  // Small vivid details on a shaded, muted picture, a few dozen pixels each in 90,000, keep
  // colours of their own instead of melting into the shades around them.
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 300; ++x) {
      const size_t i = (static_cast<size_t>(y) * 300 + x) * 3;
      img.rgb[i] = static_cast<uint8_t>(60 + x / 8);
      img.rgb[i + 1] = static_cast<uint8_t>(100 + y / 4);
      img.rgb[i + 2] = static_cast<uint8_t>(40 + (x * 7 + y * 3) % 30);
    }
  attest::Disc(img, {250, 140, 10}, 40, 250, 3.5);
  attest::Disc(img, {200, 20, 40}, 250, 40, 3.5);
  q = at::IndexColors(img, 16, nullptr);
  const at::Rgb orange = q.palette[q.At(40, 250)], red = q.palette[q.At(250, 40)];
  EXPECT_NEAR(orange.r, 250, 12);
  EXPECT_NEAR(orange.g, 140, 12);
  EXPECT_NEAR(orange.b, 10, 12);
  EXPECT_NEAR(red.r, 200, 12);
  EXPECT_NEAR(red.g, 20, 12);
  EXPECT_NEAR(red.b, 40, 12);
}

// Without a colour count the colours are the ones a person sees: anti-aliasing and blur
// make no colours of their own, a scan gets paper and ink as dark as the ink, and a picture
// without in-between shades keeps every colour exactly.
TEST(AutotraceColors, SeenColoursOfArtScansAndPixelArt) {
  at::Image art = attest::Blank(120, 120);
  attest::PaintSmooth(art, {200, 40, 30}, [](double x, double y) { return std::hypot(x - 50, y - 55) < 30.3; });
  attest::PaintSmooth(art, {30, 60, 170}, [](double x, double y) { return std::fabs(x - 95) < 6.2 && y > 10 && y < 110; });
  at::IndexedImage seen;
  EXPECT_TRUE(at::IndexSeenColors(art, nullptr, seen));
  ASSERT_EQ(seen.palette.size(), 3u);
  EXPECT_EQ(seen.palette[seen.At(50, 55)], (at::Rgb{200, 40, 30}));
  EXPECT_EQ(seen.palette[seen.At(95, 60)], (at::Rgb{30, 60, 170}));
  // An edge pixel goes to the side that covers more of it.
  EXPECT_EQ(seen.palette[seen.At(50, 85)], (at::Rgb{255, 255, 255}));  // centre 30.5 from the disc's
  EXPECT_EQ(seen.palette[seen.At(50, 84)], (at::Rgb{200, 40, 30}));

  // A scan: grey strokes two pixels wide, blurred, on noisy off-white paper.
  at::Image scan = attest::Blank(200, 100, {240, 238, 232});
  for (int k = 0; k < 8; ++k) attest::Rect(scan, {30, 30, 30}, 10 + 24 * k, 10, 12 + 24 * k, 90);
  attest::Rect(scan, {30, 30, 30}, 10, 49, 190, 51);
  at::Image blurred = scan;
  uint32_t seed = 7;
  for (int y = 1; y + 1 < 100; ++y)
    for (int x = 1; x + 1 < 200; ++x)
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) sum += scan.rgb[((y + dy) * 200 + x + dx) * 3 + c] * (dx || dy ? 1 : 4);
        seed = seed * 1103515245u + 12345u;
        blurred.rgb[(y * 200 + x) * 3 + c] = static_cast<uint8_t>(std::clamp(sum / 12 + int(seed >> 28) - 8, 0, 255));
      }
  EXPECT_TRUE(at::IndexSeenColors(blurred, nullptr, seen));
  ASSERT_EQ(seen.palette.size(), 2u);
  const at::Rgb ink = seen.palette[seen.At(11, 30)], paper = seen.palette[seen.At(20, 30)];
  EXPECT_LE(0.299 * ink.r + 0.587 * ink.g + 0.114 * ink.b, 80);
  EXPECT_GE(paper.g, 225);

  // Pixel art: blocks of exact colours, including shades next to each other.
  at::Image sprite = attest::Blank(64, 64, {120, 200, 240});
  const at::Rgb shades[4] = {{250, 200, 40}, {230, 160, 30}, {200, 120, 20}, {40, 40, 60}};
  for (int k = 0; k < 4; ++k) attest::Rect(sprite, shades[k], 8 + 8 * k, 16, 16 + 8 * k, 48);
  EXPECT_FALSE(at::IndexSeenColors(sprite, nullptr, seen));
  EXPECT_EQ(seen.palette.size(), 5u);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(seen.palette[seen.At(12 + 8 * k, 30)], shades[k]);
}

TEST(AutotraceColors, DespeckleMergesSmallSpotsOnly) {
  at::Image img = attest::Blank(40, 40);
  attest::Rect(img, {0, 0, 0}, 5, 5, 7, 7);      // 4 pixels
  attest::Rect(img, {0, 0, 0}, 20, 20, 30, 30);  // 100 pixels
  attest::Rect(img, {250, 250, 250}, 24, 24, 25, 25);  // a pinhole in the square
  at::IndexedImage q = at::IndexColors(img, 0, nullptr);
  at::IndexedImage keep = q;
  at::Despeckle(keep, 0, 2.0);
  EXPECT_EQ(keep.index, q.index);
  // The bounded flood fill finds the same specks as labelling does.
  at::IndexedImage tiny = q, fewer = q;
  at::MergeTinySpecks(tiny, 4, 2.0);
  at::MergeTinySpecks(fewer, 3, 2.0);
  at::Despeckle(q, 2, 2.0);
  EXPECT_EQ(tiny.index, q.index);
  EXPECT_EQ(fewer.palette[fewer.At(5, 5)], (at::Rgb{0, 0, 0}));
  EXPECT_EQ(fewer.palette[fewer.At(24, 24)], (at::Rgb{0, 0, 0}));
  EXPECT_EQ(q.palette[q.At(5, 5)], (at::Rgb{255, 255, 255}));
  EXPECT_EQ(q.palette[q.At(24, 24)], (at::Rgb{0, 0, 0}));
  EXPECT_EQ(q.palette[q.At(21, 21)], (at::Rgb{0, 0, 0}));
}

}  // namespace
