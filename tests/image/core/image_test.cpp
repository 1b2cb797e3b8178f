#include <gtest/gtest.h>

#include <cstring>

#include "image/core/image.h"
#include "image/io/format.h"

namespace {

RgbQuad Rgb(uint8_t r, uint8_t g, uint8_t b) { return RgbQuad{b, g, r, 0}; }

TEST(ImageCreate, SizesRoundingAndZeroedStorage) {
  CxImage img;
  ASSERT_NE(img.Create(3, 2, 1, FORMAT_BMP), nullptr);
  EXPECT_EQ(img.Stride(), 4u);
  EXPECT_EQ(img.ImageSize(), 8u);
  EXPECT_EQ(img.ColoursUsed(), 2u);
  EXPECT_EQ(img.PaletteEntry(0), RgbQuad{});
  EXPECT_EQ(img.PaletteEntry(1), RgbQuad{});
  for (uint32_t i = 0; i < img.ImageSize(); ++i) EXPECT_EQ(img.PixelArea()[i], 0);
  // The block's own header mirrors the member header.
  BitmapInfoHeader inBlock;
  std::memcpy(&inBlock, img.PixelArea() - 40 - 8, sizeof(inBlock));
  EXPECT_EQ(inBlock.biWidth, 3);
  EXPECT_EQ(inBlock.biSizeImage, 8u);

  ASSERT_NE(img.Create(1, 1, 2), nullptr);
  EXPECT_EQ(img.Bpp(), 4u);
  EXPECT_EQ(img.ColoursUsed(), 16u);
  ASSERT_NE(img.Create(1, 1, 16), nullptr);
  EXPECT_EQ(img.Bpp(), 24u);
  EXPECT_EQ(img.ColoursUsed(), 0u);
  ASSERT_NE(img.Create(5, 1, 32), nullptr);
  EXPECT_EQ(img.Bpp(), 24u);
  EXPECT_EQ(img.Stride(), 16u);
  ASSERT_NE(img.Create(2, 1, 6), nullptr);
  EXPECT_EQ(img.Bpp(), 8u);
}

TEST(ImageCreate, LimitsAndMessages) {
  CxImage img;
  EXPECT_EQ(img.Create(0, 5, 8), nullptr);
  EXPECT_STREQ(img.LastErrorText(), "CxImage::Create : width and height must be greater than zero");
  EXPECT_EQ(img.Create(5, 0, 8), nullptr);

  ASSERT_NE(img.Create(16384, 16384, 8), nullptr);  // exactly the limit
  EXPECT_EQ(img.ImageSize(), 268435456u);
  EXPECT_EQ(img.Create(16384, 16385, 8), nullptr);
  EXPECT_STREQ(img.LastErrorText(), "CXIMAGE_MAX_MEMORY exceeded");
  EXPECT_FALSE(img.HasPixels());
  img.SetLastError("");
  EXPECT_EQ(img.Create(65536, 65536, 24), nullptr);
  EXPECT_STREQ(img.LastErrorText(), "CXIMAGE_MAX_MEMORY exceeded");
  // A very tall 1-pixel-wide bitonal image passes the area rule but its padded rows would
  // take 32 times the limit.
  img.SetLastError("");
  EXPECT_EQ(img.Create(1, 0x7FFFFFFF, 1), nullptr);
  EXPECT_STREQ(img.LastErrorText(), "CXIMAGE_MAX_MEMORY exceeded");
  EXPECT_EQ(img.Create(0xFFFFFFFFu, 0xFFFFFFFFu, 24), nullptr);

  // The size check every decoder uses: the limit itself passes, a byte more does not, and
  // factors whose plain product wraps to a small number are refused.
  EXPECT_EQ(CheckedSize({16384, 16384}), 268435456u);
  EXPECT_EQ(CheckedSize({16384, 16384, 1, 0}), 0u);
  EXPECT_FALSE(CheckedSize({268435457}));
  EXPECT_FALSE(CheckedSize({uint64_t{1} << 32, uint64_t{1} << 32, 16}));
  EXPECT_FALSE(CheckedSize({3, 2}, 5));
}

TEST(ImageAttributes, ResolutionAndDefaults) {
  CxImage img;
  EXPECT_EQ(img.ResolutionX(), 96);
  EXPECT_EQ(img.Header().biXPelsPerMeter, 3780);
  EXPECT_EQ(img.TransparentIndex(), -1);
  EXPECT_EQ(img.JpegQuality(), 90);
  img.SetResolutionX(0);
  EXPECT_EQ(img.ResolutionX(), 96);
  EXPECT_EQ(img.Header().biXPelsPerMeter, 3780);
  img.SetResolutionY(-5);
  EXPECT_EQ(img.ResolutionY(), 96);
  ASSERT_NE(img.Create(2, 2, 8), nullptr);
  img.SetResolutionX(300);
  img.SetResolutionY(150);
  EXPECT_EQ(img.Header().biXPelsPerMeter, 11811);
  EXPECT_EQ(img.Header().biYPelsPerMeter, 5906);
  BitmapInfoHeader inBlock;
  std::memcpy(&inBlock, img.PixelArea() - 40 - 1024, sizeof(inBlock));
  EXPECT_EQ(inBlock.biXPelsPerMeter, 11811);
  img.SetResolutionX(0x7FFFFFFF);  // pixels per metre saturate instead of wrapping
  EXPECT_EQ(img.Header().biXPelsPerMeter, 0x7FFFFFFF);

  EXPECT_TRUE(img.SetType(FORMAT_PNG));
  EXPECT_FALSE(img.SetType(16));
  EXPECT_EQ(img.FormatType(), 0u);
  img.SetCodecOptions(7, FORMAT_TIF);
  EXPECT_EQ(img.CodecOptions(FORMAT_TIF), 7u);
  img.SetTransparentIndex(300);  // not below the colours used
  EXPECT_EQ(img.TransparentIndex(), 0);
  img.SetTransparentIndex(-1);
  EXPECT_EQ(img.TransparentIndex(), -1);
  img.SetTransparentColour(RgbQuad{1, 2, 3, 4});
  EXPECT_EQ(img.TransparentColour(), (RgbQuad{1, 2, 3, 0}));
}

TEST(ImagePalette, NearestColourRulesAndCache) {
  CxImage img(1, 1, 1);
  img.SetStandardPalette();
  EXPECT_EQ(img.NearestIndex(Rgb(128, 128, 128)), 1);
  EXPECT_EQ(img.NearestIndex(Rgb(127, 127, 127)), 0);
  EXPECT_EQ(img.NearestIndex(Rgb(255, 0, 0)), 0);  // r + g + b < 383
  EXPECT_EQ(img.NearestIndex(Rgb(255, 128, 0)), 1);

  // Equal distance keeps the lower index.
  img.SetPaletteEntry(0, 0, 0, 0);
  img.SetPaletteEntry(1, 2, 2, 2);
  EXPECT_EQ(img.NearestIndex(Rgb(1, 1, 1)), 0);
  // A palette change clears the cached answer.
  img.SetPaletteEntry(1, 1, 1, 1);
  EXPECT_EQ(img.NearestIndex(Rgb(1, 1, 1)), 1);

  // Colours important limits the search.
  CxImage eight(1, 1, 8);
  eight.SetGreyPalette();
  EXPECT_EQ(eight.NearestIndex(Rgb(200, 200, 200)), 200);
  eight.SetColoursImportant(100);
  eight.SetPaletteEntry(5, 5, 5, 5);  // clears the cache
  EXPECT_EQ(eight.NearestIndex(Rgb(200, 200, 200)), 99);
  eight.SetColoursImportant(5000);  // larger than the palette: whole palette
  eight.SetPaletteEntry(5, 5, 5, 5);
  EXPECT_EQ(eight.NearestIndex(Rgb(200, 200, 200)), 200);

  CxImage none;
  EXPECT_EQ(none.NearestIndex(Rgb(9, 9, 9)), 0);
}

TEST(ImagePalette, GreyRampsAndEntries) {
  CxImage four(1, 1, 4);
  four.SetGreyPalette();
  EXPECT_EQ(four.PaletteEntry(1).red, 17);
  EXPECT_EQ(four.PaletteEntry(15).blue, 255);
  EXPECT_FALSE(four.IsGreyRamp());
  CxImage two(1, 1, 1);
  two.SetGreyPalette();
  EXPECT_EQ(two.PaletteEntry(1).green, 255);
  EXPECT_FALSE(two.IsGreyRamp());  // entry 1 would have to be (1, 1, 1)
  CxImage eight(1, 1, 8);
  eight.SetGreyPalette();
  EXPECT_TRUE(eight.IsGreyRamp());

  EXPECT_EQ(eight.PaletteEntry(255).red, 255);
  CxImage rgb(1, 1, 24);
  EXPECT_EQ(rgb.PaletteEntries(), nullptr);
  rgb.SetPaletteEntry(0, 1, 2, 3);  // no palette: nothing happens
  EXPECT_EQ(rgb.PaletteEntry(0), RgbQuad{});
  const uint8_t triples[] = {10, 20, 30, 40, 50, 60};
  two.ReplacePaletteRgb(triples, 200);  // only as many entries as the palette has
  EXPECT_EQ(two.PaletteEntry(1), (RgbQuad{60, 50, 40, 0}));
  EXPECT_FALSE(two.AlphaPaletteUsed());
  two.SetPaletteEntry(0, 1, 1, 1, 9);
  EXPECT_TRUE(two.AlphaPaletteUsed());
}

TEST(ImagePixels, IndexAndColourAccess) {
  CxImage img(10, 3, 4);
  img.PutIndex(0, 0, 0xA);
  img.PutIndex(1, 0, 0x5);
  EXPECT_EQ(img.RowPointer(0)[0], 0xA5);
  EXPECT_EQ(img.IndexAt(1, 0), 5);
  img.PutIndex(10, 0, 3);  // outside: nothing
  EXPECT_EQ(img.IndexAt(-1, 0), 0xA5);  // outside without transparency: the first byte
  img.SetTransparentIndex(5);
  EXPECT_EQ(img.IndexAt(-1, 0), 5);
  EXPECT_EQ(img.IndexAt(0, 3), 5);
  EXPECT_EQ(img.RowPointer(3), nullptr);

  CxImage bits(9, 1, 1);
  bits.RowPointer(0)[0] = 0x0F;
  bits.PutIndex(0, 0, 1);
  bits.PutIndex(7, 0, 0);
  EXPECT_EQ(bits.RowPointer(0)[0], 0x8E);
  bits.PutIndex(8, 0, 3);  // only the low bit counts
  EXPECT_EQ(bits.RowPointer(0)[1], 0x80);
  EXPECT_EQ(bits.IndexAt(8, 0), 1);

  CxImage rgb(2, 2, 24);
  rgb.PutColour(1, 1, Rgb(10, 20, 30));
  EXPECT_EQ(rgb.ColourAt(1, 1), (RgbQuad{30, 20, 10, 0}));
  EXPECT_EQ(rgb.ColourAt(5, 5), rgb.ColourAt(0, 0));  // outside: pixel (0, 0)
  ASSERT_TRUE(rgb.AlphaCreate());
  rgb.PutColour(1, 1, RgbQuad{1, 2, 3, 77}, true);
  EXPECT_EQ(rgb.ColourAt(1, 1, true).reserved, 77);
  EXPECT_EQ(rgb.ColourAt(1, 1, false).reserved, 0);

  CxImage pal(2, 1, 8);
  pal.SetGreyPalette();
  pal.PutColour(0, 0, Rgb(40, 40, 41));
  EXPECT_EQ(pal.IndexAt(0, 0), 40);
  pal.FillBytes(7);
  EXPECT_EQ(pal.IndexAt(1, 0), 7);
  bits.FillBytes(3);
  EXPECT_EQ(bits.RowPointer(0)[0], 0xFF);
  img.FillBytes(0x13);
  EXPECT_EQ(img.RowPointer(0)[0], 0x33);
}

TEST(ImageAlpha, PlanesAndOperations) {
  CxImage img(3, 2, 24);
  EXPECT_FALSE(img.HasAlpha());
  EXPECT_EQ(img.AlphaGet(0, 0), 0);
  ASSERT_TRUE(img.AlphaCreate());
  EXPECT_EQ(img.AlphaGet(2, 1), 255);
  img.AlphaSet(0, 0, 10);
  img.AlphaSet(3, 0, 10);  // outside
  img.AlphaInvert();
  EXPECT_EQ(img.AlphaGet(0, 0), 245);
  EXPECT_EQ(img.AlphaGet(1, 0), 0);
  img.AlphaFlip();
  EXPECT_EQ(img.AlphaGet(0, 1), 245);
  img.AlphaMirror();
  EXPECT_EQ(img.AlphaGet(2, 1), 245);

  CxImage grey(3, 2, 8);
  grey.SetGreyPalette();
  grey.PutIndex(1, 1, 99);
  CxImage target(3, 2, 24);
  ASSERT_TRUE(target.AlphaFromGrey(grey));
  EXPECT_EQ(target.AlphaGet(1, 1), 99);
  CxImage small(2, 2, 24);
  EXPECT_FALSE(small.AlphaCopy(img));
  EXPECT_FALSE(small.AlphaFromGrey(grey));

  EXPECT_TRUE(img.SelectionIsInside(0, 0));
  ASSERT_TRUE(img.SelectionCreate());
  EXPECT_FALSE(img.SelectionIsInside(0, 0));
  img.SelectionSet(0, 0, 1);
  EXPECT_TRUE(img.SelectionIsInside(0, 0));
  img.SelectionDelete();
  EXPECT_EQ(img.Info().selectionBox.left, 3);
  EXPECT_EQ(img.Info().selectionBox.bottom, 2);
}

TEST(ImageOwnership, TakeOverViewsAndCopies) {
  CxImage source(4, 4, 8, FORMAT_GIF);
  source.PutIndex(1, 1, 42);
  source.AlphaCreate();
  CxImage target;
  ASSERT_TRUE(target.TakeOver(source));
  EXPECT_FALSE(source.HasPixels());
  EXPECT_EQ(source.Width(), 0u);
  EXPECT_EQ(source.Height(), 0u);
  EXPECT_FALSE(source.HasAlpha());
  EXPECT_EQ(target.IndexAt(1, 1), 42);
  EXPECT_EQ(target.FormatType(), FORMAT_GIF);
  EXPECT_TRUE(target.HasAlpha());

  {
    CxImage view;
    view.BorrowView(target);
    EXPECT_TRUE(view.IsView());
    EXPECT_EQ(view.IndexAt(1, 1), 42);
    EXPECT_FALSE(view.FreeStorage());
    EXPECT_FALSE(view.FreeFrames());
    EXPECT_EQ(view.Create(2, 2, 8), nullptr);  // a view cannot re-create
    CxImage copyOfView(view, true, true, true);
    EXPECT_TRUE(copyOfView.IsView());
  }
  EXPECT_EQ(target.IndexAt(1, 1), 42);  // still intact after the views are gone
  EXPECT_TRUE(target.HasAlpha());

  CxImage copy(target, true, true, true);
  EXPECT_FALSE(copy.IsView());
  EXPECT_EQ(copy.IndexAt(1, 1), 42);
  EXPECT_TRUE(copy.HasAlpha());
  copy.PutIndex(1, 1, 7);
  EXPECT_EQ(target.IndexAt(1, 1), 42);
  CxImage noPixels(target, false, false, false);
  EXPECT_TRUE(noPixels.HasPixels());
  EXPECT_EQ(noPixels.IndexAt(1, 1), 0);
  EXPECT_FALSE(noPixels.HasAlpha());

  // CopyAttributes only fills an image without a block.
  target.SetResolutionX(123);
  CxImage attrs;
  attrs.CopyAttributes(target);
  EXPECT_EQ(attrs.ResolutionX(), 123);
  EXPECT_FALSE(attrs.IsView());
  ASSERT_NE(attrs.Create(1, 1, 8), nullptr);
  attrs.CopyAttributes(copy);
  EXPECT_EQ(attrs.ResolutionX(), 123);
}

TEST(ImageOwnership, FramesMoveWithTakeOver) {
  CxImage multi(2, 2, 8);
  ASSERT_TRUE(multi.FrameArrayCreate(3));
  EXPECT_EQ(multi.FrameCount(), 3);
  EXPECT_TRUE(multi.FrameStore(1, new CxImage(multi, true, false, false)));
  EXPECT_FALSE(multi.FrameStore(3, new CxImage(2, 2, 8)));  // out of range: deleted
  EXPECT_NE(multi.FrameAt(1), nullptr);
  EXPECT_EQ(multi.FrameAt(0), nullptr);
  CxImage target;
  ASSERT_TRUE(target.TakeOver(multi, true));
  EXPECT_EQ(target.FrameArraySize(), 3);
  EXPECT_EQ(target.FrameCount(), 3);
  EXPECT_EQ(multi.FrameArraySize(), 0);
  // A frame count larger than the array never makes FreeFrames read past it.
  target.SetFrameCount(50);
  EXPECT_TRUE(target.FreeFrames());
  EXPECT_EQ(target.FrameCount(), 0);
}

TEST(ImageGeometry, FlipMirrorAndQuarterTurns) {
  // 70 x 3 crosses a 64-pixel tile edge.
  for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
    SCOPED_TRACE(bpp);
    const uint32_t w = 70, h = 3;
    CxImage img(w, h, bpp);
    ASSERT_TRUE(img.HasPixels());
    ASSERT_TRUE(img.AlphaCreate());
    const uint32_t modulo = bpp == 1 ? 2 : 16;
    auto value = [&](uint32_t x, uint32_t y) { return static_cast<uint8_t>((x * 7 + y * 3) % modulo); };
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        if (bpp == 24) img.PutColour(x, y, RgbQuad{value(x, y), 0, 0, 0});
        else img.PutIndex(x, y, value(x, y));
        img.AlphaSet(x, y, static_cast<uint8_t>(x + y));
      }
    auto at = [&](const CxImage& i, uint32_t x, uint32_t y) {
      return bpp == 24 ? i.ColourAt(x, y).blue : i.IndexAt(x, y);
    };

    CxImage flipped(img, true, true, true);
    ASSERT_TRUE(flipped.FlipRows(true, true));
    EXPECT_EQ(at(flipped, 5, 0), value(5, 2));
    EXPECT_EQ(flipped.AlphaGet(5, 0), 5 + 2);

    CxImage mirrored(img, true, true, true);
    ASSERT_TRUE(mirrored.MirrorColumns(false, true));
    for (uint32_t x = 0; x < w; ++x) ASSERT_EQ(at(mirrored, x, 1), value(w - 1 - x, 1));
    EXPECT_EQ(mirrored.AlphaGet(0, 0), w - 1);

    CxImage left(img, true, true, true);
    ASSERT_TRUE(left.TurnLeft());
    ASSERT_EQ(left.Width(), h);
    ASSERT_EQ(left.Height(), w);
    for (uint32_t y = 0; y < w; ++y)
      for (uint32_t x = 0; x < h; ++x) {
        ASSERT_EQ(at(left, x, y), value(y, h - 1 - x));
        ASSERT_EQ(left.AlphaGet(x, y), y + h - 1 - x);
      }

    CxImage right(img, true, true, true);
    CxImage destination;
    ASSERT_TRUE(right.TurnRight(&destination));
    EXPECT_TRUE(right.HasPixels());  // the source stays when a destination is named
    for (uint32_t y = 0; y < w; ++y)
      for (uint32_t x = 0; x < h; ++x) ASSERT_EQ(at(destination, x, y), value(w - 1 - y, x));
  }
}

}  // namespace
