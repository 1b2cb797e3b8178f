// TGA decoding from files the tests build byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image/codec_test_util.h"
#include "image/codecs/tga/tga_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct TgaFields {
  uint8_t idLength = 0;
  uint8_t colourMapType = 0;
  uint8_t imageType = 3;
  uint16_t colourMapFirst = 0;
  uint16_t colourMapLength = 0;
  uint8_t colourMapEntrySize = 0;
  uint16_t width = 2;
  uint16_t height = 2;
  uint8_t depth = 8;
  uint8_t descriptor = 0;
};

void Put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

// Header, then whatever follows it (identification field, colour map, pixels).
Bytes TgaFile(const TgaFields& f, const Bytes& rest) {
  Bytes b(18 + rest.size(), 0);
  std::copy(rest.begin(), rest.end(), b.begin() + 18);
  b[0] = f.idLength;
  b[1] = f.colourMapType;
  b[2] = f.imageType;
  Put16(b, 3, f.colourMapFirst);
  Put16(b, 5, f.colourMapLength);
  b[7] = f.colourMapEntrySize;
  Put16(b, 8, 3);   // origin: not used
  Put16(b, 10, 4);
  Put16(b, 12, f.width);
  Put16(b, 14, f.height);
  b[16] = f.depth;
  b[17] = f.descriptor;
  return b;
}

using codectest::At;
using codectest::Decode;
using codectest::ExpectRgb;
using codectest::Result;

std::string Fails(const Bytes& file, int32_t escape = 0) { return codectest::Fails<CxImageTGA>(file, escape); }

TEST(TgaDecode, FailureMessages) {
  CxImageTGA none;
  EXPECT_FALSE(none.Decode(nullptr));

  const TgaFields f;  // 2 x 2 grey, 8 bits
  const Bytes good = TgaFile(f, {1, 2, 3, 4});
  EXPECT_EQ(Fails(good), "(decoded)");
  EXPECT_EQ(Fails(Bytes(good.begin(), good.begin() + 17)), "Not a TGA");

  for (uint8_t type : {0, 4, 8, 12, 32}) {
    TgaFields t = f;
    t.imageType = type;
    EXPECT_EQ(Fails(TgaFile(t, {})), "Unknown TGA image type") << int(type);
  }
  TgaFields bad = f;
  bad.width = 0;
  EXPECT_EQ(Fails(TgaFile(bad, {})), "bad TGA header");
  bad = f;
  bad.height = 0;
  EXPECT_EQ(Fails(TgaFile(bad, {})), "bad TGA header");
  for (uint8_t depth : {0, 1, 4, 12, 17, 48}) {
    bad = f;
    bad.depth = depth;
    EXPECT_EQ(Fails(TgaFile(bad, {})), "bad TGA header") << int(depth);
  }
  bad = f;
  bad.colourMapType = 1;
  bad.colourMapLength = 257;
  EXPECT_EQ(Fails(TgaFile(bad, {})), "bad TGA header");

  // The end of the data before a line starts fails; inside the last line it does not.
  EXPECT_EQ(Fails(TgaFile(f, {1})), "corrupted TGA");
  CxImageTGA lastLineShort;
  ASSERT_TRUE(Decode(TgaFile(f, {1, 2, 3}), lastLineShort).ok);
  EXPECT_EQ(lastLineShort.IndexAt(0, 1), 3);
  EXPECT_EQ(lastLineShort.IndexAt(1, 1), 0);

  EXPECT_EQ(Fails(good, 1), "Cancelled");
}

TEST(TgaDecode, ProbeAndDispatch) {
  TgaFields f;
  f.width = 640;
  f.height = 480;
  f.depth = 32;
  f.imageType = 10;
  CxImageTGA probe;
  EXPECT_TRUE(Decode(TgaFile(f, {}), probe, -1).ok);
  EXPECT_EQ(probe.Width(), 640u);
  EXPECT_EQ(probe.Height(), 480u);
  EXPECT_EQ(probe.FormatType(), FORMAT_TGA);
  EXPECT_FALSE(probe.HasPixels());

  const Bytes file = TgaFile(TgaFields{}, {1, 2, 3, 4});
  CxMemStream s(file.data(), file.size());
  CxImage image;
  ASSERT_TRUE(image.Decode(&s, FORMAT_TGA));
  EXPECT_EQ(image.FormatType(), FORMAT_TGA);
  EXPECT_EQ(image.IndexAt(1, 1), 4);
}

TEST(TgaDecode, OriginBits) {
  TgaFields f;  // grey: the index is the value
  CxImageTGA bottomUp;
  ASSERT_TRUE(Decode(TgaFile(f, {1, 2, 3, 4}), bottomUp).ok);
  EXPECT_EQ(bottomUp.IndexAt(0, 0), 1);
  EXPECT_EQ(bottomUp.IndexAt(1, 0), 2);
  EXPECT_EQ(bottomUp.IndexAt(0, 1), 3);
  ExpectRgb(bottomUp.PaletteEntry(200), 200, 200, 200);

  f.descriptor = kTgaTopToBottom;
  CxImageTGA topDown;
  ASSERT_TRUE(Decode(TgaFile(f, {1, 2, 3, 4}), topDown).ok);
  EXPECT_EQ(topDown.IndexAt(0, 1), 1);
  EXPECT_EQ(topDown.IndexAt(1, 1), 2);
  EXPECT_EQ(topDown.IndexAt(0, 0), 3);

  f.descriptor = kTgaRightToLeft;
  CxImageTGA mirrored;
  ASSERT_TRUE(Decode(TgaFile(f, {1, 2, 3, 4}), mirrored).ok);
  EXPECT_EQ(mirrored.IndexAt(0, 0), 2);
  EXPECT_EQ(mirrored.IndexAt(1, 0), 1);

  // Alpha travels with its pixel whatever the origin.
  f.imageType = 2;
  f.depth = 32;
  f.width = 2;
  f.height = 1;
  const Bytes bgra = {1, 2, 3, 10, 4, 5, 6, 20};
  for (uint8_t descriptor : {0x00, 0x08, 0x28, 0x18, 0x38}) {
    SCOPED_TRACE(int(descriptor));
    f.descriptor = descriptor;
    CxImageTGA image;
    ASSERT_TRUE(Decode(TgaFile(f, bgra), image).ok);
    ASSERT_TRUE(image.HasAlpha());
    const bool rtl = descriptor & kTgaRightToLeft;
    const RgbQuad first = At(image, rtl ? 1 : 0, 0);
    ExpectRgb(first, 3, 2, 1);
    EXPECT_EQ(first.reserved, 10);
    EXPECT_EQ(At(image, rtl ? 0 : 1, 0).reserved, 20);
  }
  f.height = 2;
  f.descriptor = kTgaTopToBottom;
  CxImageTGA tall;
  ASSERT_TRUE(Decode(TgaFile(f, {0, 0, 9, 30, 0, 0, 9, 31, 0, 0, 7, 40, 0, 0, 7, 41}), tall).ok);
  EXPECT_EQ(At(tall, 0, 0).red, 9);
  EXPECT_EQ(At(tall, 0, 0).reserved, 30);
  EXPECT_EQ(At(tall, 1, 1).red, 7);
  EXPECT_EQ(At(tall, 1, 1).reserved, 41);
}

TEST(TgaDecode, RunLengthPacketsCrossLineEnds) {
  // 3 x 3, 24 bits: a run of 5 covers line 0 and two pixels of line 1; a raw packet of 3
  // ends line 1 and starts line 2.
  TgaFields f;
  f.imageType = 10;
  f.depth = 24;
  f.width = 3;
  f.height = 3;
  const Bytes data = {0x84, 1, 1, 1, 0x02, 2, 2, 2, 3, 3, 3, 4, 4, 4, 0x80, 5, 5, 5};
  CxImageTGA image;
  ASSERT_TRUE(Decode(TgaFile(f, data), image).ok);
  const int expected[3][3] = {{1, 1, 1}, {1, 1, 2}, {3, 4, 5}};  // by file line
  for (uint32_t line = 0; line < 3; ++line) {
    for (uint32_t x = 0; x < 3; ++x) {
      EXPECT_EQ(image.ColourAt(x, line).red, expected[line][x]) << line << "," << x;
    }
  }

  // One run over three lines of a narrow grey image, then a raw packet after it.
  f.imageType = 11;
  f.depth = 8;
  f.width = 2;
  f.height = 4;
  CxImageTGA grey;
  ASSERT_TRUE(Decode(TgaFile(f, {0x85, 9, 0x01, 7, 8}), grey).ok);
  for (uint32_t y = 0; y < 3; ++y) {
    for (uint32_t x = 0; x < 2; ++x) EXPECT_EQ(grey.IndexAt(x, y), 9) << x << "," << y;
  }
  EXPECT_EQ(grey.IndexAt(0, 3), 7);
  EXPECT_EQ(grey.IndexAt(1, 3), 8);

  // 32 bits: the alpha of a run repeats on the next line as well.
  f.imageType = 10;
  f.depth = 32;
  f.height = 2;
  CxImageTGA rgba;
  ASSERT_TRUE(Decode(TgaFile(f, {0x82, 1, 2, 3, 77, 0x00, 4, 5, 6, 88}), rgba).ok);
  EXPECT_EQ(rgba.AlphaGet(0, 0), 77);
  EXPECT_EQ(rgba.AlphaGet(1, 0), 77);
  EXPECT_EQ(rgba.AlphaGet(0, 1), 77);
  EXPECT_EQ(rgba.AlphaGet(1, 1), 88);
  ExpectRgb(rgba.ColourAt(0, 1), 3, 2, 1);

  // Packets that stop early leave the rest of the image at 0, and a missing line fails.
  f.depth = 8;
  f.imageType = 11;
  CxImageTGA shortRun;
  ASSERT_TRUE(Decode(TgaFile(f, {0x01, 5, 6, 0x81}), shortRun).ok);
  EXPECT_EQ(shortRun.IndexAt(0, 1), 0);
  EXPECT_EQ(Fails(TgaFile(f, {0x00, 5})), "corrupted TGA");
}

TEST(TgaDecode, SixteenBitPixels) {
  TgaFields f;
  f.imageType = 2;
  f.depth = 16;
  f.width = 5;
  f.height = 1;
  CxImageTGA image;
  ASSERT_TRUE(Decode(TgaFile(f, {0xFF, 0x7F, 0xFF, 0xFF, 0x1F, 0x00, 0xE0, 0x03, 0x00, 0x7C}), image).ok);
  EXPECT_EQ(image.Bpp(), 24u);
  ExpectRgb(image.ColourAt(0, 0), 248, 248, 248);
  ExpectRgb(image.ColourAt(1, 0), 248, 248, 248);  // the top bit is not alpha
  ExpectRgb(image.ColourAt(2, 0), 0, 0, 248);
  ExpectRgb(image.ColourAt(3, 0), 0, 248, 0);
  ExpectRgb(image.ColourAt(4, 0), 248, 0, 0);
  EXPECT_FALSE(image.HasAlpha());

  f.depth = 15;
  f.imageType = 10;
  CxImageTGA rle;
  ASSERT_TRUE(Decode(TgaFile(f, {0x84, 0x21, 0x04}), rle).ok);  // 00001 00001 00001
  for (uint32_t x = 0; x < 5; ++x) ExpectRgb(rle.ColourAt(x, 0), 8, 8, 8);
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(TgaDecode, ColourMapEntrySizes) {
  TgaFields f;
  f.imageType = 1;
  f.colourMapType = 1;
  f.colourMapLength = 3;
  f.colourMapEntrySize = 16;
  f.width = 3;
  f.height = 1;
  // 5-5-5 entries, red highest, the top bit not alpha: red, green, blue with the top bit set.
  const Bytes map16 = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x80};
  CxImageTGA sixteen;
  ASSERT_TRUE(Decode(TgaFile(f, Concat(map16, {2, 0, 1})), sixteen).ok);
  EXPECT_EQ(sixteen.Bpp(), 8u);
  ExpectRgb(sixteen.PaletteEntry(0), 248, 0, 0);
  ExpectRgb(sixteen.PaletteEntry(2), 0, 0, 248);
  EXPECT_EQ(sixteen.PaletteEntry(2).reserved, 0);
  ExpectRgb(sixteen.ColourAt(0, 0), 0, 0, 248);  // the pixels start right after the map
  ExpectRgb(sixteen.ColourAt(2, 0), 0, 248, 0);
  EXPECT_FALSE(sixteen.AlphaPaletteEnabled());

  f.colourMapEntrySize = 15;
  f.imageType = 9;
  CxImageTGA fifteen;
  ASSERT_TRUE(Decode(TgaFile(f, Concat(map16, {0x82, 1})), fifteen).ok);
  for (uint32_t x = 0; x < 3; ++x) ExpectRgb(fifteen.ColourAt(x, 0), 0, 248, 0);

  // 32-bit entries are blue, green, red, alpha; the alpha is kept in the palette.
  f.imageType = 1;
  f.colourMapEntrySize = 32;
  const Bytes map32 = {1, 2, 3, 40, 4, 5, 6, 50, 7, 8, 9, 60};
  CxImageTGA thirtyTwo;
  ASSERT_TRUE(Decode(TgaFile(f, Concat(map32, {2, 0, 1})), thirtyTwo).ok);
  ExpectRgb(thirtyTwo.PaletteEntry(1), 6, 5, 4);
  EXPECT_EQ(thirtyTwo.PaletteEntry(1).reserved, 50);
  EXPECT_TRUE(thirtyTwo.AlphaPaletteEnabled());
  ExpectRgb(thirtyTwo.ColourAt(0, 0), 9, 8, 7);
  ExpectRgb(thirtyTwo.ColourAt(1, 0), 3, 2, 1);

  // Only 15, 16, 24 and 32 bits an entry exist; an empty map needs no entry size.
  for (uint8_t size : {0, 8, 12, 33}) {
    TgaFields bad = f;
    bad.colourMapEntrySize = size;
    EXPECT_EQ(Fails(TgaFile(bad, Concat(map32, {0, 0, 0}))), "bad TGA header") << int(size);
  }
  TgaFields empty = f;
  empty.colourMapLength = 0;
  empty.colourMapEntrySize = 0;
  EXPECT_EQ(Fails(TgaFile(empty, {0, 0, 0})), "(decoded)");
  // A map cut short leaves no pixels to read.
  EXPECT_EQ(Fails(TgaFile(f, Bytes(map32.begin(), map32.begin() + 10))), "corrupted TGA");
}

TEST(TgaDecode, ColourMapFirstIndexAndUnusedMaps) {
  // First index 2: pixel value v is map entry v - 2; values outside the map take entry 0.
  TgaFields f;
  f.imageType = 1;
  f.colourMapType = 1;
  f.colourMapFirst = 2;
  f.colourMapLength = 3;
  f.colourMapEntrySize = 24;
  f.width = 6;
  f.height = 1;
  const Bytes map = {10, 20, 30, 11, 21, 31, 12, 22, 32};
  CxImageTGA image;
  ASSERT_TRUE(Decode(TgaFile(f, Concat(map, {2, 3, 4, 0, 5, 255})), image).ok);
  ExpectRgb(image.ColourAt(0, 0), 30, 20, 10);
  ExpectRgb(image.ColourAt(1, 0), 31, 21, 11);
  ExpectRgb(image.ColourAt(2, 0), 32, 22, 12);
  for (uint32_t x = 3; x < 6; ++x) ExpectRgb(image.ColourAt(x, 0), 30, 20, 10);

  // A first index past every 8-bit value leaves all of them on entry 0.
  f.colourMapFirst = 60000;
  CxImageTGA far;
  ASSERT_TRUE(Decode(TgaFile(f, Concat(map, {0, 1, 2, 3, 4, 255})), far).ok);
  for (uint32_t x = 0; x < 6; ++x) ExpectRgb(far.ColourAt(x, 0), 30, 20, 10);

  // Grey images keep the grey ramp; the map is only skipped.
  f.colourMapFirst = 0;
  f.imageType = 3;
  f.colourMapEntrySize = 32;
  f.colourMapLength = 2;
  f.width = 1;
  CxImageTGA grey;
  ASSERT_TRUE(Decode(TgaFile(f, {1, 1, 1, 0, 2, 2, 2, 0, 77}), grey).ok);
  ExpectRgb(grey.ColourAt(0, 0), 77, 77, 77);
  EXPECT_FALSE(grey.AlphaPaletteEnabled());

  // A 16-bit map before true-colour pixels is skipped by its real size.
  f.imageType = 2;
  f.depth = 24;
  f.colourMapEntrySize = 16;
  f.colourMapLength = 256;
  Bytes full(256 * 2, 0xEE);
  CxImageTGA rgb;
  ASSERT_TRUE(Decode(TgaFile(f, Concat(full, {1, 2, 3})), rgb).ok);
  EXPECT_EQ(rgb.PaletteEntries(), nullptr);
  ExpectRgb(rgb.ColourAt(0, 0), 3, 2, 1);

  // The identification field is skipped.
  TgaFields id;
  id.idLength = 5;
  id.width = 1;
  id.height = 1;
  CxImageTGA withId;
  ASSERT_TRUE(Decode(TgaFile(id, {9, 9, 9, 9, 9, 42}), withId).ok);
  EXPECT_EQ(withId.IndexAt(0, 0), 42);
}

TEST(TgaDecode, SixteenBitGreyIsGreyAndAlpha) {
  TgaFields f;
  f.depth = 16;
  f.width = 2;
  f.height = 2;
  f.descriptor = kTgaTopToBottom | 8;
  CxImageTGA raw;
  ASSERT_TRUE(Decode(TgaFile(f, {10, 200, 20, 210, 30, 220, 40, 230}), raw).ok);
  EXPECT_EQ(raw.Bpp(), 8u);
  ASSERT_TRUE(raw.HasAlpha());
  ExpectRgb(At(raw, 0, 0), 10, 10, 10);
  EXPECT_EQ(At(raw, 0, 0).reserved, 200);
  ExpectRgb(At(raw, 1, 1), 40, 40, 40);
  EXPECT_EQ(At(raw, 1, 1).reserved, 230);

  // Run-length: a run across the line end, then a raw pixel; right to left mirrors alpha too.
  f.imageType = 11;
  f.descriptor = kTgaRightToLeft;
  CxImageTGA rle;
  ASSERT_TRUE(Decode(TgaFile(f, {0x82, 7, 99, 0x00, 8, 98}), rle).ok);
  EXPECT_EQ(rle.IndexAt(0, 0), 7);
  EXPECT_EQ(rle.AlphaGet(1, 0), 99);
  EXPECT_EQ(rle.IndexAt(0, 1), 8);
  EXPECT_EQ(rle.AlphaGet(0, 1), 98);
  EXPECT_EQ(rle.IndexAt(1, 1), 7);
  EXPECT_EQ(rle.AlphaGet(1, 1), 99);

  // 15-bit grey has no alpha byte and stays 5-5-5.
  f.imageType = 3;
  f.depth = 15;
  f.descriptor = 0;
  f.height = 1;
  CxImageTGA fifteen;
  ASSERT_TRUE(Decode(TgaFile(f, {0x21, 0x04, 0x21, 0x04}), fifteen).ok);
  EXPECT_EQ(fifteen.Bpp(), 24u);
  EXPECT_FALSE(fifteen.HasAlpha());
}

}  // namespace
