#include <gtest/gtest.h>

#include "image/core/image.h"
#include "image/io/format.h"

namespace {

RgbQuad Rgb(uint8_t r, uint8_t g, uint8_t b) { return RgbQuad{b, g, r, 0}; }

// A one-row 24-bit image of the colours.
void RowOf(CxImage& img, std::initializer_list<RgbQuad> colours) {
  img.Create(static_cast<uint32_t>(colours.size()), 1, 24, FORMAT_PNG);
  uint32_t x = 0;
  for (const RgbQuad& c : colours) img.PutColour(x++, 0, c);
}

TEST(Reduce, ThresholdEdgeValues) {
  CxImage img;
  RowOf(img, {Rgb(255, 255, 255), Rgb(241, 241, 241), Rgb(240, 240, 240), Rgb(0, 0, 0)});
  img.SetResolutionX(300);
  img.SetFrameCount(4);
  ASSERT_TRUE(img.ApplyThreshold(240));
  EXPECT_EQ(img.Bpp(), 1u);
  EXPECT_EQ(img.IndexAt(0, 0), 1);
  EXPECT_EQ(img.IndexAt(1, 0), 1);
  EXPECT_EQ(img.IndexAt(2, 0), 0);  // equal to the level is black
  EXPECT_EQ(img.IndexAt(3, 0), 0);
  EXPECT_EQ(img.PaletteEntry(0), Rgb(0, 0, 0));
  EXPECT_EQ(img.PaletteEntry(1), Rgb(255, 255, 255));
  // The result carries a fresh image's attributes.
  EXPECT_EQ(img.ResolutionX(), 96);
  EXPECT_EQ(img.FrameCount(), 0);
  EXPECT_EQ(img.FormatType(), 0u);

  CxImage primaries;
  RowOf(primaries, {Rgb(255, 0, 0), Rgb(0, 255, 0), Rgb(0, 0, 255)});
  ASSERT_TRUE(primaries.ApplyThreshold(128));
  EXPECT_EQ(primaries.IndexAt(0, 0), 0);  // grey 76
  EXPECT_EQ(primaries.IndexAt(1, 0), 1);  // grey 149
  EXPECT_EQ(primaries.IndexAt(2, 0), 0);  // grey 29

  CxImage level254;
  RowOf(level254, {Rgb(255, 255, 255), Rgb(255, 255, 254)});
  ASSERT_TRUE(level254.ApplyThreshold(254));
  EXPECT_EQ(level254.IndexAt(0, 0), 1);
  EXPECT_EQ(level254.IndexAt(1, 0), 0);
}

// The split straight from colours, and from palette indices through their grey values,
// agrees with the grey picture split pixel by pixel: every width round the runs of eight
// and sixteen pixels, pixels near the level, colour, grey ramp and palette pictures.
TEST(Reduce, ThresholdMatchesTheGreyPicturePixelByPixel) {
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<uint8_t>(seed >> 16);
  };
  for (const uint32_t bpp : {24u, 8u}) {
    for (const bool ramp : {true, false}) {
      if (bpp == 24 && !ramp) continue;
      for (uint32_t width = 1; width <= 41; ++width) {
        const uint8_t level = static_cast<uint8_t>(11 + (width * 37) % 244);
        CxImage picture(width, 3, bpp);
        if (bpp == 8) {
          for (uint32_t i = 0; i < 256; ++i) {
            const uint8_t v = static_cast<uint8_t>(i);
            if (ramp) picture.SetPaletteEntry(v, v, v, v);
            else picture.SetPaletteEntry(v, next(), next(), next());
          }
        }
        for (uint32_t y = 0; y < 3; ++y) {
          uint8_t* row = picture.RowPointer(y);
          // Row 0 random, row 1 all near the level, row 2 white runs broken by one pixel.
          for (uint32_t i = 0; i < width * (bpp / 8); ++i) {
            const uint8_t near = static_cast<uint8_t>(level - 1 + next() % 3);
            row[i] = y == 0 ? next() : y == 1 ? near : (i % 13 == 5 ? near : 255);
          }
        }
        CxImage grey(picture, true, false, false);
        ASSERT_TRUE(grey.ConvertToGrey());
        ASSERT_TRUE(picture.ApplyThreshold(level));
        ASSERT_EQ(picture.Bpp(), 1u);
        for (uint32_t y = 0; y < 3; ++y) {
          for (uint32_t x = 0; x < width; ++x) {
            ASSERT_EQ(picture.IndexAt(x, y), grey.IndexAt(x, y) > level ? 1 : 0)
                << bpp << " bits, ramp " << ramp << ", width " << width << ", at " << x << "," << y;
          }
        }
      }
    }
  }
}

TEST(Reduce, ThresholdIgnoresAlphaAndKeepsBitonalImages) {
  CxImage img;
  RowOf(img, {Rgb(255, 255, 255), Rgb(0, 0, 0)});
  ASSERT_TRUE(img.AlphaCreate());
  img.AlphaSet(0, 0, 0);
  ASSERT_TRUE(img.SelectionCreate());
  ASSERT_TRUE(img.ApplyThreshold(240));
  EXPECT_EQ(img.IndexAt(0, 0), 1);
  EXPECT_FALSE(img.HasAlpha());
  EXPECT_FALSE(img.HasSelection());

  CxImage bitonal(2, 1, 1);
  bitonal.SetPaletteEntry(0, 255, 255, 255);  // inverted palette stays as it is
  bitonal.PutIndex(1, 0, 1);
  bitonal.SetResolutionX(72);
  ASSERT_TRUE(bitonal.ApplyThreshold(240));
  EXPECT_EQ(bitonal.PaletteEntry(0), Rgb(255, 255, 255));
  EXPECT_EQ(bitonal.IndexAt(1, 0), 1);
  EXPECT_EQ(bitonal.ResolutionX(), 72);

  CxImage empty;
  EXPECT_FALSE(empty.ApplyThreshold(1));
  EXPECT_FALSE(empty.ConvertToGrey());
  EXPECT_FALSE(empty.DecreaseBpp(1));
}

TEST(Reduce, GreyConversionOfPaletteImages) {
  CxImage eight(2, 1, 8);
  eight.SetPaletteEntry(7, 200, 100, 50);
  eight.SetPaletteEntry(3, 10, 20, 30);
  eight.PutIndex(0, 0, 7);
  eight.PutIndex(1, 0, 3);
  eight.SetTransparentIndex(7);
  ASSERT_TRUE(eight.ConvertToGrey());
  EXPECT_EQ(eight.TransparentIndex(), 124);
  EXPECT_EQ(eight.IndexAt(0, 0), 124);
  EXPECT_EQ(eight.IndexAt(1, 0), (306 * 10 + 601 * 20 + 117 * 30) >> 10);
  EXPECT_TRUE(eight.IsGreyRamp());

  CxImage four(3, 1, 4);
  four.SetPaletteEntry(1, 255, 0, 0);
  four.SetPaletteEntry(2, 255, 255, 255);
  four.PutIndex(0, 0, 1);
  four.PutIndex(1, 0, 2);
  four.SetResolutionY(200);
  ASSERT_TRUE(four.ConvertToGrey());
  EXPECT_EQ(four.Bpp(), 8u);
  EXPECT_EQ(four.IndexAt(0, 0), 76);
  EXPECT_EQ(four.IndexAt(1, 0), 255);
  EXPECT_EQ(four.IndexAt(2, 0), 0);
  EXPECT_EQ(four.ResolutionY(), 200);  // attributes survive the grey conversion
}

TEST(Reduce, DecreaseBppToBitonal) {
  CxImage grey(3, 1, 8);
  grey.SetGreyPalette();
  grey.PutIndex(0, 0, 127);
  grey.PutIndex(1, 0, 128);
  grey.PutIndex(2, 0, 255);
  grey.SetResolutionX(600);
  grey.SetFrameCount(2);
  ASSERT_TRUE(grey.DecreaseBpp(1, false, nullptr, 0));
  EXPECT_EQ(grey.Bpp(), 1u);
  EXPECT_EQ(grey.IndexAt(0, 0), 0);
  EXPECT_EQ(grey.IndexAt(1, 0), 1);
  EXPECT_EQ(grey.IndexAt(2, 0), 1);
  EXPECT_EQ(grey.ResolutionX(), 600);  // unlike the threshold step
  EXPECT_EQ(grey.FrameCount(), 2);

  CxImage colour;
  RowOf(colour, {Rgb(128, 128, 127), Rgb(128, 128, 126)});
  ASSERT_TRUE(colour.DecreaseBpp(1));
  EXPECT_EQ(colour.IndexAt(0, 0), 1);  // sum 383
  EXPECT_EQ(colour.IndexAt(1, 0), 0);  // sum 382

  CxImage bitonal(1, 1, 1);
  EXPECT_FALSE(bitonal.DecreaseBpp(8));
  EXPECT_STREQ(bitonal.LastErrorText(), "DecreaseBpp: target BPP greater than source BPP");
  EXPECT_TRUE(bitonal.DecreaseBpp(1));
}

}  // namespace
