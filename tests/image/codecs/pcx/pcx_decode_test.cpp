// PCX decoding from files the tests build byte by byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/codec_test_util.h"
#include "image/codecs/pcx/pcx_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct PcxFields {
  uint8_t manufacturer = 10;
  uint8_t encoding = 1;
  uint8_t bitsPerPixel = 8;
  uint16_t width = 1;
  uint16_t height = 1;
  uint16_t hDpi = 72;
  uint16_t vDpi = 96;
  uint8_t planes = 1;
  uint16_t bytesPerLine = 2;
  Bytes colourMap;  // up to 48 bytes, R, G, B
};

void Put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

// Header (window starting at 5, 7 so that the size comes from the difference) + body.
Bytes PcxFile(const PcxFields& f, const Bytes& body) {
  Bytes b(128, 0);
  b[0] = f.manufacturer;
  b[1] = 5;
  b[2] = f.encoding;
  b[3] = f.bitsPerPixel;
  Put16(b, 4, 5);
  Put16(b, 6, 7);
  Put16(b, 8, static_cast<uint16_t>(5 + f.width - 1));
  Put16(b, 10, static_cast<uint16_t>(7 + f.height - 1));
  Put16(b, 12, f.hDpi);
  Put16(b, 14, f.vDpi);
  for (size_t i = 0; i < f.colourMap.size() && i < 48; ++i) b[16 + i] = f.colourMap[i];
  b[65] = f.planes;
  Put16(b, 66, f.bytesPerLine);
  Put16(b, 68, 1);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

// Plain bytes as run-length data: bytes of 0xC0 and above need a run of one.
Bytes Literal(const Bytes& plain) {
  Bytes out;
  for (uint8_t v : plain) {
    if (v >= 0xC0) out.push_back(0xC1);
    out.push_back(v);
  }
  return out;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes VgaPalette(uint8_t marker = 12) {
  Bytes p{marker};
  for (int i = 0; i < 256; ++i) p.insert(p.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)});
  return p;
}

using codectest::At;
using codectest::Decode;
using codectest::ExpectRgb;
using codectest::Result;

std::string Fails(const Bytes& file, int32_t escape = 0) { return codectest::Fails<CxImagePCX>(file, escape); }

TEST(PcxDecode, FailureMessages) {
  CxImagePCX none;
  EXPECT_FALSE(none.Decode(nullptr));

  PcxFields f;  // 1 x 1, 8 bits, one plane, 2 bytes a line
  const Bytes good = PcxFile(f, Cat(Literal({7, 0}), VgaPalette()));
  EXPECT_EQ(Fails(good), "(decoded)");
  EXPECT_EQ(Fails(Bytes(good.begin(), good.begin() + 127)), "Can't read PCX image");

  PcxFields wrong = f;
  wrong.manufacturer = 9;
  EXPECT_EQ(Fails(PcxFile(wrong, {})), "Error: Not a PCX file");
  wrong = f;
  wrong.encoding = 0;
  EXPECT_EQ(Fails(PcxFile(wrong, {})), "PCX file has unknown encoding scheme");
  wrong = f;
  wrong.planes = 5;
  EXPECT_EQ(Fails(PcxFile(wrong, {})), "Can't handle image with more than 4 planes");

  EXPECT_EQ(Fails(PcxFile(f, {7})), "corrupted PCX");           // one of two bytes
  EXPECT_EQ(Fails(PcxFile(f, {7, 0xC1})), "corrupted PCX");     // run without its value
  EXPECT_EQ(Fails(PcxFile(f, {0xC3, 7})), "repeat count spans end of image");
  EXPECT_EQ(Fails(PcxFile(f, Cat(Literal({7, 0}), VgaPalette(11)))), "bad color map signature");
  EXPECT_EQ(Fails(PcxFile(f, Literal({7, 0}))), "bad color map signature");  // no table at all

  wrong = f;
  wrong.planes = 2;  // two planes of 8 bits have no layout
  EXPECT_EQ(Fails(PcxFile(wrong, Literal({1, 2, 3, 4}))),
            "PCX_PlanesToPixels: more than 4 planes or more than 1 bit per pixel");

  // A window whose end lies before its start.
  Bytes inverted = good;
  Put16(inverted, 8, 2);
  EXPECT_EQ(Fails(inverted), "PCX file has invalid dimensions");
  EXPECT_EQ(Fails(inverted, -1), "PCX file has invalid dimensions");

  EXPECT_EQ(Fails(good, 1), "Cancelled");
}

TEST(PcxDecode, ProbeAndResolution) {
  PcxFields f;
  f.width = 300;
  f.height = 200;
  f.hDpi = 0;
  f.vDpi = 150;
  CxImagePCX probe;
  const Result r = Decode(PcxFile(f, {}), probe, -1);  // no pixel data needed
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(probe.Width(), 300u);
  EXPECT_EQ(probe.Height(), 200u);
  EXPECT_EQ(probe.FormatType(), FORMAT_PCX);
  EXPECT_FALSE(probe.HasPixels());

  // The header's dpi values are taken as they are, 0 included.
  f.width = 1;
  f.height = 1;
  CxImagePCX image;
  ASSERT_TRUE(Decode(PcxFile(f, Cat(Literal({1, 0}), VgaPalette())), image).ok);
  EXPECT_EQ(image.ResolutionX(), 0);
  EXPECT_EQ(image.ResolutionY(), 150);

  // Through the dispatch as well.
  const Bytes file = PcxFile(f, Cat(Literal({1, 0}), VgaPalette()));
  CxMemStream s(file.data(), file.size());
  CxImage viaDispatch;
  EXPECT_TRUE(viaDispatch.Decode(&s, FORMAT_PCX));
  EXPECT_EQ(viaDispatch.FormatType(), FORMAT_PCX);
}

TEST(PcxDecode, OneBitPaletteIsAlwaysBlackAndWhite) {
  PcxFields f;
  f.bitsPerPixel = 1;
  f.width = 10;
  f.height = 2;
  f.colourMap = {255, 0, 0, 0, 255, 0};  // red and green, ignored
  CxImagePCX image;
  ASSERT_TRUE(Decode(PcxFile(f, Literal({0xA5, 0x80, 0x00, 0xFF})), image).ok);
  EXPECT_EQ(image.Bpp(), 1u);
  ExpectRgb(image.PaletteEntry(0), 0, 0, 0);
  ExpectRgb(image.PaletteEntry(1), 255, 255, 255);
  const int top[10] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 0};
  for (uint32_t x = 0; x < 10; ++x) EXPECT_EQ(image.IndexAt(x, 1), top[x]) << x;
  for (uint32_t x = 0; x < 8; ++x) EXPECT_EQ(image.IndexAt(x, 0), 0) << x;
  EXPECT_EQ(image.IndexAt(8, 0), 1);
}

TEST(PcxDecode, EightBitPlanesGiveRgbAndAlpha) {
  PcxFields f;
  f.width = 2;
  f.height = 2;
  f.planes = 3;
  f.bytesPerLine = 2;
  // Runs may cross plane and line boundaries: the data is one stream.
  const Bytes rgb = Cat(Literal({10, 11, 20, 21, 30}), Bytes{0xC2, 31, 0xC3, 40, 50, 60});
  CxImagePCX image;
  ASSERT_TRUE(Decode(PcxFile(f, rgb), image).ok);
  EXPECT_EQ(image.Bpp(), 24u);
  EXPECT_FALSE(image.HasAlpha());
  ExpectRgb(At(image, 0, 0), 10, 20, 30);
  ExpectRgb(At(image, 1, 0), 11, 21, 31);
  ExpectRgb(At(image, 0, 1), 31, 40, 50);
  ExpectRgb(At(image, 1, 1), 40, 40, 60);

  f.planes = 4;
  f.height = 1;
  CxImagePCX withAlpha;
  ASSERT_TRUE(Decode(PcxFile(f, Literal({1, 2, 3, 4, 5, 6, 200, 7})), withAlpha).ok);
  EXPECT_EQ(withAlpha.Bpp(), 24u);
  ASSERT_TRUE(withAlpha.HasAlpha());
  ExpectRgb(At(withAlpha, 0, 0), 1, 3, 5);
  EXPECT_EQ(At(withAlpha, 0, 0).reserved, 200);
  EXPECT_EQ(At(withAlpha, 1, 0).reserved, 7);
}

TEST(PcxDecode, OneBitPlanesBuildIndicesFromBit0Up) {
  Bytes map;
  for (int i = 0; i < 16; ++i) map.insert(map.end(), {uint8_t(16 * i), uint8_t(i), uint8_t(255 - i)});
  PcxFields f;
  f.bitsPerPixel = 1;
  f.width = 4;
  f.planes = 4;
  f.colourMap = map;
  // Planes 0..3 of one line, 2 bytes each: pixel x's index has bit i from plane i.
  const Bytes planes = Literal({0x60, 0, 0x50, 0, 0x30, 0, 0x90, 0});
  CxImagePCX image;
  ASSERT_TRUE(Decode(PcxFile(f, planes), image).ok);
  EXPECT_EQ(image.Bpp(), 4u);
  const int expected[4] = {8, 3, 5, 14};
  for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(image.IndexAt(x, 0), expected[x]) << x;
  ExpectRgb(image.PaletteEntry(14), 224, 14, 241);

  // Two and three planes keep their upper index bits in a 4-bit image too.
  for (uint8_t n : {2, 3}) {
    SCOPED_TRACE(n);
    f.planes = n;
    CxImagePCX fewer;
    ASSERT_TRUE(Decode(PcxFile(f, Bytes(planes.begin(), planes.begin() + 2 * n)), fewer).ok);
    EXPECT_EQ(fewer.Bpp(), 4u);
    for (uint32_t x = 0; x < 4; ++x) {
      EXPECT_EQ(fewer.IndexAt(x, 0), expected[x] & ((1 << n) - 1)) << x;
    }
  }
}

TEST(PcxDecode, PackedDepthsAndVgaPalette) {
  PcxFields f;
  f.bitsPerPixel = 2;
  f.width = 5;
  f.colourMap = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3};
  CxImagePCX two;
  ASSERT_TRUE(Decode(PcxFile(f, Literal({0x1B, 0x80})), two).ok);
  EXPECT_EQ(two.Bpp(), 4u);
  const int twos[5] = {0, 1, 2, 3, 2};
  for (uint32_t x = 0; x < 5; ++x) EXPECT_EQ(two.IndexAt(x, 0), twos[x]) << x;
  ExpectRgb(two.PaletteEntry(3), 3, 3, 3);

  f.bitsPerPixel = 4;
  f.width = 3;
  CxImagePCX four;
  ASSERT_TRUE(Decode(PcxFile(f, Literal({0x9A, 0x50})), four).ok);
  EXPECT_EQ(four.IndexAt(0, 0), 9);
  EXPECT_EQ(four.IndexAt(1, 0), 10);
  EXPECT_EQ(four.IndexAt(2, 0), 5);

  // The 256-entry table follows the image data after the marker 12.
  f.bitsPerPixel = 8;
  f.width = 3;
  f.bytesPerLine = 4;
  CxImagePCX eight;
  ASSERT_TRUE(Decode(PcxFile(f, Cat(Literal({0, 200, 255, 9}), VgaPalette())), eight).ok);
  EXPECT_EQ(eight.Bpp(), 8u);
  ExpectRgb(At(eight, 1, 0), 200, 55, 100);
  ExpectRgb(At(eight, 2, 0), 255, 0, 127);
}

TEST(PcxDecode, HeaderValuesThatDoNotFitStayInBounds) {
  // Bytes per line below the width: the columns without data stay 0.
  PcxFields f;
  f.width = 6;
  f.height = 2;
  f.bytesPerLine = 2;
  CxImagePCX narrow;
  ASSERT_TRUE(Decode(PcxFile(f, Cat(Literal({5, 6, 7, 8}), VgaPalette())), narrow).ok);
  EXPECT_EQ(narrow.IndexAt(1, 1), 6);
  EXPECT_EQ(narrow.IndexAt(0, 0), 7);
  for (uint32_t x = 2; x < 6; ++x) EXPECT_EQ(narrow.IndexAt(x, 1), 0) << x;

  f.planes = 3;
  f.height = 1;
  CxImagePCX narrowRgb;
  ASSERT_TRUE(Decode(PcxFile(f, Literal({1, 2, 3, 4, 5, 6})), narrowRgb).ok);
  ExpectRgb(At(narrowRgb, 1, 0), 2, 4, 6);
  ExpectRgb(At(narrowRgb, 5, 0), 0, 0, 0);

  // No bytes per line, or no planes: nothing to read and nothing read out of range.
  f.planes = 1;
  f.bytesPerLine = 0;
  CxImagePCX empty;
  EXPECT_TRUE(Decode(PcxFile(f, VgaPalette()), empty).ok);
  f.bitsPerPixel = 1;
  f.bytesPerLine = 4;
  f.planes = 0;
  CxImagePCX noPlanes;
  EXPECT_TRUE(Decode(PcxFile(f, {}), noPlanes).ok);

  // A depth packed pixels do not have: the image is made, its pixels stay 0.
  for (uint8_t bits : {3, 16}) {
    SCOPED_TRACE(bits);
    f.bitsPerPixel = bits;
    f.planes = 1;
    f.bytesPerLine = 4;
    CxImagePCX odd;
    EXPECT_TRUE(Decode(PcxFile(f, Literal({0xFF, 0xFF, 0xFF, 0xFF})), odd).ok);
    EXPECT_EQ(At(odd, 0, 0).red, 0);
  }

  // A header promising far more data than the file holds fails without allocating it.
  f.bitsPerPixel = 8;
  f.planes = 4;
  f.bytesPerLine = 65535;
  f.height = 60000;
  EXPECT_EQ(Fails(PcxFile(f, {0xFF, 1, 0xFF, 2})), "corrupted PCX");
}

}  // namespace
