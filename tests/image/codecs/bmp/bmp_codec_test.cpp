#include <gtest/gtest.h>

#include <cstring>

#include "image/codecs/bmp/bmp_builder.h"
#include "image/codecs/bmp/bmp_codec.h"
#include "image/core/image.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

using imagetest::BmpLayout;
using imagetest::BuildBmp;
using imagetest::PadRows;

struct Decoded {
  bool ok = false;
  std::string error;
};

Decoded DecodeBytes(const std::vector<uint8_t>& bytes, CxImage& out) {
  CxMemStream s(bytes.data(), bytes.size());
  Decoded d;
  d.ok = out.Decode(&s, FORMAT_BMP);
  d.error = out.LastErrorText();
  return d;
}

std::vector<RgbQuad> GreyPalette(int n) {
  std::vector<RgbQuad> p;
  for (int i = 0; i < n; ++i) {
    const uint8_t v = static_cast<uint8_t>(i * 10);
    p.push_back(RgbQuad{v, v, v, 0x55});
  }
  return p;
}

TEST(BmpDecode, HeaderVariants) {
  // Core header, 8 bits: 256 three-byte entries, fourth bytes 0.
  BmpLayout core;
  core.headerSize = 12;
  core.width = 3;
  core.height = 2;
  core.bitCount = 8;
  for (int i = 0; i < 256; ++i) core.palette.push_back(RgbQuad{uint8_t(i), uint8_t(255 - i), 7, 0});
  core.pixels = PadRows({{1, 2, 3}, {4, 5, 6}}, 4);
  CxImage img;
  ASSERT_TRUE(DecodeBytes(BuildBmp(core), img).ok);
  EXPECT_EQ(img.Bpp(), 8u);
  EXPECT_EQ(img.PaletteEntry(200), (RgbQuad{200, 55, 7, 0}));
  EXPECT_EQ(img.PaletteEntry(255), (RgbQuad{255, 0, 7, 0}));
  EXPECT_EQ(img.IndexAt(2, 1), 6);
  EXPECT_EQ(img.ResolutionX(), 96);  // core headers state none

  // 40-byte header with a short palette, reserved bytes cleared, resolution from the file.
  BmpLayout info;
  info.width = 2;
  info.height = 1;
  info.bitCount = 4;
  info.clrUsed = 3;
  info.palette = GreyPalette(3);
  info.xPelsPerMeter = 11811;
  info.yPelsPerMeter = 197;
  info.pixels = {0x12, 0, 0, 0};
  ASSERT_TRUE(DecodeBytes(BuildBmp(info), img).ok);
  EXPECT_EQ(img.ColoursUsed(), 16u);
  EXPECT_EQ(img.PaletteEntry(2), (RgbQuad{20, 20, 20, 0}));
  EXPECT_EQ(img.PaletteEntry(3), RgbQuad{});
  EXPECT_EQ(img.IndexAt(0, 0), 1);
  EXPECT_EQ(img.IndexAt(1, 0), 2);
  EXPECT_EQ(img.ResolutionX(), 300);
  EXPECT_EQ(img.ResolutionY(), 5);

  // 64-byte header: the 24 extra bytes are skipped.
  BmpLayout os2 = info;
  os2.headerSize = 64;
  ASSERT_TRUE(DecodeBytes(BuildBmp(os2), img).ok);
  EXPECT_EQ(img.IndexAt(1, 0), 2);

  // Later headers pass with one plane and an image size that is 0 or large enough; colours
  // used and top-down rows are accepted.
  BmpLayout v5;
  v5.headerSize = 124;
  v5.width = 2;
  v5.height = 2;
  v5.bitCount = 24;
  v5.sizeImage = 16;
  v5.pixels = PadRows({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}}, 8);
  ASSERT_TRUE(DecodeBytes(BuildBmp(v5), img).ok);
  EXPECT_EQ(img.ColourAt(1, 1), (RgbQuad{10, 11, 12, 0}));
  BmpLayout v5used = v5;
  v5used.clrUsed = 4;
  v5used.sizeImage = 0;
  v5used.height = -2;
  ASSERT_TRUE(DecodeBytes(BuildBmp(v5used), img).ok);
  EXPECT_EQ(img.ColourAt(1, 0), (RgbQuad{10, 11, 12, 0}));
  // An RLE palette file with a long header: the palette follows the whole header.
  BmpLayout v4rle;
  v4rle.headerSize = 108;
  v4rle.width = 2;
  v4rle.height = 1;
  v4rle.bitCount = 8;
  v4rle.compression = 1;
  v4rle.clrUsed = 2;
  v4rle.palette = {RgbQuad{1, 1, 1, 0}, RgbQuad{9, 8, 7, 0}};
  v4rle.pixels = {2, 1, 0, 1};
  ASSERT_TRUE(DecodeBytes(BuildBmp(v4rle), img).ok);
  EXPECT_EQ(img.ColourAt(1, 0), (RgbQuad{9, 8, 7, 0}));
  // Bit-field masks inside a V5 header.
  BmpLayout v5bf;
  v5bf.headerSize = 124;
  v5bf.width = 1;
  v5bf.height = 1;
  v5bf.bitCount = 32;
  v5bf.compression = 3;
  v5bf.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
  v5bf.pixels = {1, 2, 3, 0};
  ASSERT_TRUE(DecodeBytes(BuildBmp(v5bf), img).ok);
  EXPECT_EQ(img.ColourAt(0, 0), (RgbQuad{3, 2, 1, 0}));
  BmpLayout v5small = v5;
  v5small.sizeImage = 15;
  EXPECT_EQ(DecodeBytes(BuildBmp(v5small), img).error, "Error reading BMP info");
  BmpLayout v5planes = v5;
  v5planes.planes = 2;
  EXPECT_EQ(DecodeBytes(BuildBmp(v5planes), img).error, "Error reading BMP info");
  BmpLayout odd = v5;
  odd.headerSize = 20;
  EXPECT_EQ(DecodeBytes(BuildBmp(odd), img).error, "Error reading BMP info");

  // No file header: the info header starts at the first byte, data follows the palette.
  BmpLayout bare = info;
  bare.fileHeader = false;
  CxImage bareImg;
  ASSERT_TRUE(DecodeBytes(BuildBmp(bare), bareImg).ok);
  EXPECT_EQ(bareImg.IndexAt(1, 0), 2);

  EXPECT_EQ(DecodeBytes({'B', 'M', 0}, img).error, "Not a BMP");
}

TEST(BmpDecode, TopDownEqualsBottomUp) {
  BmpLayout up;
  up.width = 3;
  up.height = 3;
  up.bitCount = 8;
  up.palette = GreyPalette(256);
  up.pixels = PadRows({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, 4);
  BmpLayout down = up;
  down.height = -3;
  down.pixels = PadRows({{7, 8, 9}, {4, 5, 6}, {1, 2, 3}}, 4);
  CxImage a, b;
  ASSERT_TRUE(DecodeBytes(BuildBmp(up), a).ok);
  ASSERT_TRUE(DecodeBytes(BuildBmp(down), b).ok);
  EXPECT_EQ(b.Height(), 3u);
  EXPECT_EQ(std::memcmp(a.PixelArea(), b.PixelArea(), a.ImageSize()), 0);
}

TEST(BmpDecode, SixteenBitLayouts) {
  BmpLayout layout;
  layout.width = 3;
  layout.height = 1;
  layout.bitCount = 16;
  // 5-5-5: white, pure red, pure green in its top bit only.
  layout.pixels = {0xFF, 0x7F, 0x00, 0x7C, 0x00, 0x02, 0, 0};
  CxImage img;
  ASSERT_TRUE(DecodeBytes(BuildBmp(layout), img).ok);
  EXPECT_EQ(img.Bpp(), 24u);
  EXPECT_EQ(img.ColourAt(0, 0), (RgbQuad{248, 248, 248, 0}));
  EXPECT_EQ(img.ColourAt(1, 0), (RgbQuad{0, 0, 248, 0}));
  EXPECT_EQ(img.ColourAt(2, 0), (RgbQuad{0, 128, 0, 0}));

  // 5-6-5 bit fields: green keeps 6 bits.
  BmpLayout rgb565 = layout;
  rgb565.compression = 3;
  rgb565.masks = {0xF800, 0x07E0, 0x001F};
  rgb565.pixels = {0x20, 0x00, 0xE0, 0x07, 0x1F, 0xF8, 0, 0};  // lowest green, full green, red+blue
  ASSERT_TRUE(DecodeBytes(BuildBmp(rgb565), img).ok);
  EXPECT_EQ(img.ColourAt(0, 0), (RgbQuad{0, 4, 0, 0}));
  EXPECT_EQ(img.ColourAt(1, 0), (RgbQuad{0, 252, 0, 0}));
  EXPECT_EQ(img.ColourAt(2, 0), (RgbQuad{248, 0, 248, 0}));

  // Masks wider than a byte per channel never shift by a negative or oversized amount.
  BmpLayout wide = layout;
  wide.compression = 3;
  wide.masks = {0xFFFF, 0xFFFF, 0xFFFF};
  EXPECT_TRUE(DecodeBytes(BuildBmp(wide), img).ok);
}

TEST(BmpDecode, ThirtyTwoBitAlpha) {
  BmpLayout layout;
  layout.width = 2;
  layout.height = 1;
  layout.bitCount = 32;
  layout.pixels = {1, 2, 3, 0, 4, 5, 6, 0};
  CxImage img;
  ASSERT_TRUE(DecodeBytes(BuildBmp(layout), img).ok);
  EXPECT_EQ(img.Bpp(), 24u);
  ASSERT_TRUE(img.HasAlpha());
  EXPECT_EQ(img.AlphaGet(0, 0), 255);  // all fourth bytes 0: fully opaque
  EXPECT_EQ(img.AlphaGet(1, 0), 255);
  EXPECT_EQ(img.ColourAt(1, 0), (RgbQuad{4, 5, 6, 0}));

  layout.pixels = {1, 2, 3, 0, 4, 5, 6, 128};
  ASSERT_TRUE(DecodeBytes(BuildBmp(layout), img).ok);
  EXPECT_EQ(img.AlphaGet(0, 0), 0);
  EXPECT_EQ(img.AlphaGet(1, 0), 128);

  // Bit fields: channels found by mask position, no alpha plane.
  BmpLayout bf = layout;
  bf.compression = 3;
  bf.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
  ASSERT_TRUE(DecodeBytes(BuildBmp(bf), img).ok);
  EXPECT_FALSE(img.HasAlpha());
  EXPECT_EQ(img.ColourAt(0, 0), (RgbQuad{3, 2, 1, 0}));

  BmpLayout rle = layout;
  rle.compression = 1;
  EXPECT_EQ(DecodeBytes(BuildBmp(rle), img).error, "unknown compression");

  // A top-down 32-bit file flips its alpha plane with the pixels.
  BmpLayout down = layout;
  down.width = 1;
  down.height = -2;
  down.pixels = {9, 9, 9, 10, 8, 8, 8, 20};
  ASSERT_TRUE(DecodeBytes(BuildBmp(down), img).ok);
  EXPECT_EQ(img.AlphaGet(0, 1), 10);
  EXPECT_EQ(img.ColourAt(0, 1).blue, 9);
}

TEST(BmpDecode, UnusualDepthsAndCompression) {
  BmpLayout two;
  two.width = 4;
  two.height = 1;
  two.bitCount = 2;
  two.palette = GreyPalette(4);
  two.pixels = {0xFF, 0xFF, 0xFF, 0xFF};
  CxImage img;
  ASSERT_TRUE(DecodeBytes(BuildBmp(two), img).ok);
  EXPECT_EQ(img.Bpp(), 4u);
  EXPECT_EQ(img.IndexAt(0, 0), 0);  // no pixel data read
  EXPECT_EQ(img.PaletteEntry(3).red, 30);

  BmpLayout eight;
  eight.width = 1;
  eight.height = 1;
  eight.bitCount = 8;
  eight.compression = 3;
  eight.palette = GreyPalette(256);
  eight.pixels = {0, 0, 0, 0};
  EXPECT_EQ(DecodeBytes(BuildBmp(eight), img).error, "compression type not supported");

  BmpLayout rgb = eight;
  rgb.bitCount = 24;
  rgb.palette.clear();
  rgb.compression = 1;
  EXPECT_EQ(DecodeBytes(BuildBmp(rgb), img).error, "unknown compression");

  BmpLayout huge = rgb;
  huge.compression = 0;
  huge.width = 3000000;
  huge.height = 2000000;
  Decoded d = DecodeBytes(BuildBmp(huge), img);
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.error, "CXIMAGE_MAX_MEMORY exceeded");

  BmpLayout zero = rgb;
  zero.compression = 0;
  zero.width = 0;
  EXPECT_EQ(DecodeBytes(BuildBmp(zero), img).error,
            "CxImage::Create : width and height must be greater than zero");

  // A palette count far beyond the file is read as far as the file goes.
  BmpLayout pal = eight;
  pal.compression = 0;
  pal.clrUsed = 0xFFFFFFFF;
  EXPECT_TRUE(DecodeBytes(BuildBmp(pal), img).ok);
}

TEST(BmpDecode, TruncatedFileLeavesZeros) {
  BmpLayout layout;
  layout.width = 4;
  layout.height = 2;
  layout.bitCount = 24;
  layout.pixels = {1, 2, 3, 4, 5};  // far less than two rows
  CxImage img;
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(DecodeBytes(BuildBmp(layout), img).ok);
    EXPECT_EQ(img.ColourAt(0, 0), (RgbQuad{1, 2, 3, 0}));
    EXPECT_EQ(img.ColourAt(1, 0), (RgbQuad{4, 5, 0, 0}));
    EXPECT_EQ(img.ColourAt(3, 1), RgbQuad{});
  }
}

// RLE data after a 40-byte header and a 256-entry grey palette.
std::vector<uint8_t> RleFile(int width, int height, uint16_t bits, std::vector<uint8_t> data) {
  BmpLayout layout;
  layout.width = width;
  layout.height = height;
  layout.bitCount = bits;
  layout.compression = bits == 8 ? 1 : 2;
  layout.palette = GreyPalette(bits == 8 ? 256 : 16);
  layout.pixels = std::move(data);
  return BuildBmp(layout);
}

TEST(BmpDecode, Rle8RunsDeltasAndAbsolute) {
  CxImage img;
  // Row 0: a run of 6 on a 5-wide image stops at the row's stride (8 bytes), then an
  // absolute run of 3 (odd, padded), end of line, then a delta.
  const auto file = RleFile(5, 3, 8,
                            {12, 7,                     // run past the row end
                             0, 0,                      // end of line
                             0, 3, 1, 2, 3, 0,          // absolute 1 2 3 + pad
                             2, 9,                      // run of two 9s
                             0, 2, 1, 1,                // delta right 1, up 1
                             1, 4,                      // run of one 4 at (6, 2)
                             0, 1});
  ASSERT_TRUE(DecodeBytes(file, img).ok);
  for (uint32_t x = 0; x < 8; ++x) EXPECT_EQ(img.RowPointer(0)[x], 7) << x;
  EXPECT_EQ(img.RowPointer(1)[0], 1);
  EXPECT_EQ(img.RowPointer(1)[2], 3);
  EXPECT_EQ(img.RowPointer(1)[3], 9);
  EXPECT_EQ(img.RowPointer(1)[4], 9);
  EXPECT_EQ(img.RowPointer(2)[6], 4);  // padding byte inside the stride

  // A delta below the last row: later runs write into the row last pointed at.
  const auto below = RleFile(4, 2, 8, {1, 5, 0, 2, 0, 9, 2, 6, 0, 1});
  ASSERT_TRUE(DecodeBytes(below, img).ok);
  EXPECT_EQ(img.RowPointer(0)[0], 5);
  EXPECT_EQ(img.RowPointer(0)[1], 6);
  EXPECT_EQ(img.RowPointer(0)[2], 6);
  EXPECT_EQ(img.RowPointer(1)[0], 0);

  // Absolute run longer than the row: the extra bytes are read and dropped, the stream
  // stays in step.
  std::vector<uint8_t> longAbs = {0, 9};
  for (int i = 1; i <= 9; ++i) longAbs.push_back(static_cast<uint8_t>(i));
  longAbs.push_back(0);  // pad
  longAbs.insert(longAbs.end(), {0, 0, 1, 42, 0, 1});
  ASSERT_TRUE(DecodeBytes(RleFile(2, 2, 8, longAbs), img).ok);
  EXPECT_EQ(img.RowPointer(0)[3], 4);
  EXPECT_EQ(img.RowPointer(1)[0], 42);

  // Data that ends without an end-of-bitmap marker is not an error.
  ASSERT_TRUE(DecodeBytes(RleFile(3, 1, 8, {3, 8}), img).ok);
  EXPECT_EQ(img.IndexAt(2, 0), 8);

  // Data that ends inside an absolute run (here over the row a run already filled, past the
  // last row): the pixels it lacks are left as they were.
  ASSERT_TRUE(DecodeBytes(RleFile(4, 1, 8, {4, 5, 0, 0, 0, 3, 7}), img).ok);
  EXPECT_EQ(std::vector<uint8_t>(img.RowPointer(0), img.RowPointer(0) + 4),
            (std::vector<uint8_t>{7, 5, 5, 5}));
}

TEST(BmpDecode, Rle4Nibbles) {
  CxImage img;
  // Run of 5 nibbles from 0xAB, absolute 3 nibbles 1 2 3 (2 data bytes, even: no pad).
  const auto file = RleFile(8, 2, 4, {5, 0xAB, 0, 3, 0x12, 0x30, 0, 0, 3, 0xCD, 0, 1});
  ASSERT_TRUE(DecodeBytes(file, img).ok);
  const int expected0[] = {0xA, 0xB, 0xA, 0xB, 0xA, 1, 2, 3};
  for (int x = 0; x < 8; ++x) EXPECT_EQ(img.IndexAt(x, 0), expected0[x]) << x;
  EXPECT_EQ(img.IndexAt(0, 1), 0xC);
  EXPECT_EQ(img.IndexAt(1, 1), 0xD);
  EXPECT_EQ(img.IndexAt(2, 1), 0xC);

  // Absolute run of 5 nibbles uses 3 data bytes: one padding byte follows.
  const auto padded = RleFile(6, 1, 4, {0, 5, 0x12, 0x34, 0x50, 0xEE, 2, 0x77, 0, 1});
  ASSERT_TRUE(DecodeBytes(padded, img).ok);
  EXPECT_EQ(img.IndexAt(4, 0), 5);
  EXPECT_EQ(img.IndexAt(5, 0), 7);

  // A run far past the last row's end stops at the end of the pixel storage.
  const auto longRun = RleFile(2, 1, 4, {255, 0x99, 255, 0x99, 0, 1});
  ASSERT_TRUE(DecodeBytes(longRun, img).ok);
  EXPECT_EQ(img.RowPointer(0)[3], 0x99);

  // Data that ends inside an absolute run: unlike 8-bit pixels, the nibbles it lacks are
  // written as 0 (here over the row a run already filled, past the last row).
  ASSERT_TRUE(DecodeBytes(RleFile(6, 1, 4, {6, 0x55, 0, 0, 0, 3, 0x78}), img).ok);
  const int truncated[] = {7, 8, 0, 0, 5, 5};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(img.IndexAt(x, 0), truncated[x]) << x;
}

TEST(BmpEncode, BitonalFileBytes) {
  CxImage img(10, 2, 1, FORMAT_BMP);
  img.SetPaletteEntry(0, 0, 0, 0);
  img.SetPaletteEntry(1, 255, 255, 255);
  img.SetResolutionX(150);
  img.SetResolutionY(300);
  img.PutIndex(0, 0, 1);
  img.PutIndex(9, 0, 1);
  img.PutIndex(8, 1, 1);
  CxMemStream out;
  ASSERT_TRUE(img.Encode(&out, FORMAT_BMP));
  const auto& b = out.Data();
  ASSERT_EQ(b.size(), 62u + 8u);
  auto u32 = [&](size_t o) { return LoadU32LE(&b[o]); };
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  EXPECT_EQ(u32(2), 70u);
  EXPECT_EQ(u32(6), 0u);
  EXPECT_EQ(u32(10), 62u);
  EXPECT_EQ(u32(14), 40u);
  EXPECT_EQ(u32(18), 10u);
  EXPECT_EQ(u32(22), 2u);
  EXPECT_EQ(LoadU16LE(&b[26]), 1);
  EXPECT_EQ(LoadU16LE(&b[28]), 1);
  EXPECT_EQ(u32(30), 0u);
  EXPECT_EQ(u32(34), 8u);
  EXPECT_EQ(u32(38), 5906u);
  EXPECT_EQ(u32(42), 11811u);
  EXPECT_EQ(u32(46), 2u);
  EXPECT_EQ(u32(50), 0u);
  EXPECT_EQ(u32(54), 0u);
  EXPECT_EQ(u32(58), 0x00FFFFFFu);
  const uint8_t rows[] = {0x80, 0x40, 0, 0, 0x00, 0x80, 0, 0};
  EXPECT_EQ(std::memcmp(&b[62], rows, 8), 0);

  // Round trip.
  CxImage back;
  CxMemStream in(b.data(), b.size());
  ASSERT_TRUE(back.Decode(&in, FORMAT_BMP));
  EXPECT_EQ(back.IndexAt(9, 0), 1);
  EXPECT_EQ(back.ResolutionY(), 300);
}

TEST(BmpEncode, AlphaGivesThirtyTwoBits) {
  CxImage img(3, 2, 24);
  img.PutColour(2, 1, RgbQuad{1, 2, 3, 0});
  ASSERT_TRUE(img.AlphaCreate());
  img.AlphaSet(2, 1, 77);
  img.AlphaSet(0, 0, 5);
  CxMemStream out;
  ASSERT_TRUE(img.Encode(&out, FORMAT_BMP));
  const auto& b = out.Data();
  ASSERT_EQ(b.size(), 14u + 40u + 24u);
  EXPECT_EQ(LoadU32LE(&b[2]), 78u);
  EXPECT_EQ(LoadU16LE(&b[28]), 32);
  EXPECT_EQ(LoadU32LE(&b[34]), 24u);
  EXPECT_EQ(b[54 + 3], 5);                  // first pixel of the bottom row
  EXPECT_EQ(b[54 + 12 + 8], 1);             // (2, 1): blue
  EXPECT_EQ(b[54 + 12 + 11], 77);           // its alpha
  CxImage back;
  CxMemStream in(b.data(), b.size());
  ASSERT_TRUE(back.Decode(&in, FORMAT_BMP));
  EXPECT_EQ(back.AlphaGet(2, 1), 77);
  EXPECT_EQ(back.ColourAt(2, 1), (RgbQuad{1, 2, 3, 0}));
}

}  // namespace
