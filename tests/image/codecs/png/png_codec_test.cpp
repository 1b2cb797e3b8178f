// PNG decoder edge cases on files made with libpng directly, and the encoder read back.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/codecs/png/png_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"
#include "image/png_test_util.h"

namespace {

using pngjpgtest::DecodeBytes;
using pngjpgtest::MakePng;
using pngjpgtest::PngSpec;
using Rows = std::vector<std::vector<uint8_t>>;

uint8_t Pattern(uint32_t x, uint32_t y, uint32_t salt) {
  return static_cast<uint8_t>((x * 37 + y * 101 + salt * 59 + ((x * y) ^ salt)) & 0xFF);
}

// RGB rows (8-bit) with a distinct value in every sample.
Rows RgbRows(uint32_t w, uint32_t h, int channels) {
  Rows rows(h, std::vector<uint8_t>(static_cast<size_t>(w) * channels));
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      for (int c = 0; c < channels; ++c) rows[y][x * channels + c] = Pattern(x, y, c);
    }
  }
  return rows;
}

// A PNG colour type, its bit depth and its samples per pixel.
struct Samples {
  int colourType;
  int bitDepth;
  int channels;
};

// The bytes of a row of `width` pixels as the file packs them.
uint32_t RowBytesOf(const Samples& c, uint32_t width) {
  return c.bitDepth < 8 ? (width * c.bitDepth + 7) / 8 : width * c.channels;
}

RgbQuad Rgb(uint8_t r, uint8_t g, uint8_t b) {
  RgbQuad q;
  q.red = r;
  q.green = g;
  q.blue = b;
  return q;
}

// Big-endian PNG chunk with its CRC.
void AppendChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body) {
  const uint32_t n = static_cast<uint32_t>(body.size());
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(n >> (8 * i)));
  std::vector<uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), body.begin(), body.end());
  out.insert(out.end(), typed.begin(), typed.end());
  const uint32_t crc = static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size())));
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(crc >> (8 * i)));
}

std::vector<uint8_t> HeaderOnlyPng(uint32_t w, uint32_t h, uint8_t depth, uint8_t colourType) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<uint8_t> ihdr;
  for (uint32_t v : {w, h}) {
    for (int i = 3; i >= 0; --i) ihdr.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  ihdr.insert(ihdr.end(), {depth, colourType, 0, 0, 0});
  AppendChunk(out, "IHDR", ihdr);
  AppendChunk(out, "IDAT", {0x78, 0x9C});  // the header is read up to the first data chunk
  return out;
}

TEST(PngDecode, SixteenBitGreyKeepsHighBytes) {
  PngSpec layout;
  layout.width = 3;
  layout.colourType = PNG_COLOR_TYPE_GRAY;
  layout.bitDepth = 16;
  layout.hasKey = true;
  layout.keyGrey = 0x8001;
  CxImagePNG image;
  ASSERT_TRUE(DecodeBytes(MakePng(layout, {{0x12, 0x34, 0xFF, 0xFF, 0x00, 0xFF}}), image));
  EXPECT_EQ(image.Bpp(), 8u);
  EXPECT_TRUE(image.IsGreyRamp());
  EXPECT_EQ(image.IndexAt(0, 0), 0x12);
  EXPECT_EQ(image.IndexAt(1, 0), 0xFF);
  EXPECT_EQ(image.IndexAt(2, 0), 0x00);
  EXPECT_EQ(image.TransparentIndex(), 0x80);
  EXPECT_EQ(image.CodecOptions(FORMAT_PNG), 0u);
}

TEST(PngDecode, PaletteTransparency) {
  PngSpec layout;
  layout.width = 4;
  layout.colourType = PNG_COLOR_TYPE_PALETTE;
  layout.paletteRgb = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
  layout.paletteAlpha = {0, 128, 255};
  CxImagePNG several;
  ASSERT_TRUE(DecodeBytes(MakePng(layout, {{0, 1, 2, 3}}), several));
  EXPECT_EQ(several.Bpp(), 8u);
  EXPECT_TRUE(several.AlphaPaletteEnabled());
  EXPECT_EQ(several.ColoursImportant(), 4u);
  EXPECT_EQ(several.PaletteEntry(0).reserved, 0);
  EXPECT_EQ(several.PaletteEntry(1).reserved, 128);
  EXPECT_EQ(several.PaletteEntry(2).reserved, 255);
  EXPECT_EQ(several.PaletteEntry(3).reserved, 255);  // beyond the list: opaque
  EXPECT_EQ(several.PaletteEntry(3).red, 100);
  EXPECT_EQ(several.PaletteEntry(3).blue, 120);
  EXPECT_EQ(several.TransparentIndex(), -1);

  // One fully transparent entry is the transparent index.
  layout.paletteAlpha = {0};
  CxImagePNG single;
  ASSERT_TRUE(DecodeBytes(MakePng(layout, {{0, 1, 2, 3}}), single));
  EXPECT_EQ(single.TransparentIndex(), 0);
  EXPECT_FALSE(single.AlphaPaletteEnabled());

  // A key colour in an RGB file becomes the transparent colour.
  PngSpec rgb;
  rgb.colourType = PNG_COLOR_TYPE_RGB;
  rgb.hasKey = true;
  rgb.keyRed = 1;
  rgb.keyGreen = 2;
  rgb.keyBlue = 3;
  CxImagePNG keyed;
  ASSERT_TRUE(DecodeBytes(MakePng(rgb, {{1, 2, 3}}), keyed));
  EXPECT_EQ(keyed.TransparentIndex(), 0);
  EXPECT_EQ(keyed.TransparentColour(), Rgb(1, 2, 3));
}

TEST(PngDecode, InterlacedMatchesProgressiveLayouts) {
  for (const Samples c : {Samples{PNG_COLOR_TYPE_RGB, 8, 3}, Samples{PNG_COLOR_TYPE_RGB_ALPHA, 8, 4},
                       Samples{PNG_COLOR_TYPE_GRAY_ALPHA, 8, 2}, Samples{PNG_COLOR_TYPE_GRAY, 16, 2},
                       Samples{PNG_COLOR_TYPE_RGB, 16, 6}, Samples{PNG_COLOR_TYPE_GRAY, 2, 1},
                       Samples{PNG_COLOR_TYPE_GRAY, 1, 1}, Samples{PNG_COLOR_TYPE_GRAY, 4, 1}}) {
    SCOPED_TRACE(testing::Message() << "type " << c.colourType << " depth " << c.bitDepth);
    PngSpec layout;
    layout.width = 13;
    layout.height = 11;
    layout.colourType = c.colourType;
    layout.bitDepth = c.bitDepth;
    const uint32_t rowBytes = RowBytesOf(c, 13);
    Rows rows = RgbRows(rowBytes, 11, 1);
    CxImagePNG flat;
    ASSERT_TRUE(DecodeBytes(MakePng(layout, rows), flat)) << flat.LastErrorText();
    layout.interlaced = true;
    CxImagePNG interlaced;
    ASSERT_TRUE(DecodeBytes(MakePng(layout, rows), interlaced)) << interlaced.LastErrorText();
    EXPECT_EQ(interlaced.CodecOptions(FORMAT_PNG), 1u);
    EXPECT_EQ(flat.CodecOptions(FORMAT_PNG), 0u);
    ASSERT_EQ(flat.Bpp(), interlaced.Bpp());
    for (uint32_t y = 0; y < 11; ++y) {
      for (uint32_t x = 0; x < 13; ++x) {
        ASSERT_EQ(flat.ColourAt(x, y), interlaced.ColourAt(x, y)) << x << "," << y;
        ASSERT_EQ(flat.AlphaGet(x, y), interlaced.AlphaGet(x, y)) << x << "," << y;
      }
    }
    if (c.colourType == PNG_COLOR_TYPE_GRAY && c.bitDepth == 2) {
      // Top row, second pixel: bits 2..5 of the first byte.
      EXPECT_EQ(flat.Bpp(), 4u);
      EXPECT_EQ(flat.IndexAt(1, 10), (rows[0][0] >> 4) & 3);
      EXPECT_EQ(flat.PaletteEntry(2).red, 170);
      EXPECT_EQ(flat.PaletteEntry(3).green, 255);
    }
    if (c.colourType == PNG_COLOR_TYPE_RGB && c.bitDepth == 8) {
      const RgbQuad top = flat.ColourAt(2, 10);
      EXPECT_EQ(top, Rgb(rows[0][6], rows[0][7], rows[0][8]));
    }
    if (c.colourType == PNG_COLOR_TYPE_GRAY_ALPHA) {
      EXPECT_TRUE(flat.HasAlpha());
      EXPECT_EQ(flat.IndexAt(3, 10), rows[0][6]);
      EXPECT_EQ(flat.AlphaGet(3, 10), rows[0][7]);
    }
  }
}

// Every filter at every pixel size, in runs of rows of one filter (Paeth rows are undone a
// few at a time) and mixed: the whole-picture reading gives the library's pixels, and read
// to one bit it gives the library's pixels split at the level.
TEST(PngDecode, EveryFilterGivesTheLibrarysPixels) {
  for (const Samples c : {Samples{PNG_COLOR_TYPE_GRAY, 8, 1}, Samples{PNG_COLOR_TYPE_GRAY_ALPHA, 8, 2},
                       Samples{PNG_COLOR_TYPE_RGB, 8, 3}, Samples{PNG_COLOR_TYPE_RGB_ALPHA, 8, 4},
                       Samples{PNG_COLOR_TYPE_GRAY, 4, 1}}) {
    for (const int filters : {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH,
                              PNG_ALL_FILTERS}) {
      for (const uint32_t width : {1u, 2u, 7u, 33u}) {
        SCOPED_TRACE(testing::Message() << "type " << c.colourType << " depth " << c.bitDepth << " filters "
                                        << filters << " width " << width);
        PngSpec layout;
        layout.width = width;
        layout.height = 11;
        layout.colourType = c.colourType;
        layout.bitDepth = c.bitDepth;
        layout.filters = filters;
        const uint32_t rowBytes = RowBytesOf(c, width);
        const std::vector<uint8_t> png = MakePng(layout, RgbRows(rowBytes, 11, 1));
        CxImagePNG whole, library;
        library.SetWholePictureReads(false);
        ASSERT_TRUE(DecodeBytes(png, whole)) << whole.LastErrorText();
        ASSERT_TRUE(DecodeBytes(png, library)) << library.LastErrorText();
        ASSERT_EQ(whole.ImageSize(), library.ImageSize());
        ASSERT_EQ(std::memcmp(whole.PixelArea(), library.PixelArea(), whole.ImageSize()), 0);
        ASSERT_EQ(whole.HasAlpha(), library.HasAlpha());
        if (whole.HasAlpha()) {
          ASSERT_EQ(std::memcmp(whole.AlphaPlane(), library.AlphaPlane(), size_t{width} * 11), 0);
        }

        CxMemStream stream(png.data(), png.size());
        CxImagePNG bitonal;
        ASSERT_TRUE(bitonal.DecodeBitonal(&stream, 128)) << bitonal.LastErrorText();
        ASSERT_TRUE(library.CompositeOverWhite() && library.ApplyThreshold(128));
        if (library.Bpp() != 1) {
          ASSERT_TRUE(library.DecreaseBpp(1, false, nullptr, 0));
        }
        for (uint32_t y = 0; y < 11; ++y) {
          for (uint32_t x = 0; x < width; ++x) {
            ASSERT_EQ(bitonal.ColourAt(x, y), library.ColourAt(x, y)) << x << "," << y;
          }
        }
      }
    }
  }
}

TEST(PngDecode, ResolutionFromPhysicalPixels) {
  PngSpec layout;
  layout.hasPhys = true;
  layout.physX = 11811;
  layout.physY = 3780;
  layout.physUnit = PNG_RESOLUTION_METER;
  CxImagePNG metre;
  ASSERT_TRUE(DecodeBytes(MakePng(layout, {{0}}), metre));
  EXPECT_EQ(metre.ResolutionX(), 300);
  EXPECT_EQ(metre.ResolutionY(), 96);
  layout.physX = 2;
  layout.physY = 3;
  layout.physUnit = PNG_RESOLUTION_UNKNOWN;
  CxImagePNG aspect;
  ASSERT_TRUE(DecodeBytes(MakePng(layout, {{0}}), aspect));
  EXPECT_EQ(aspect.ResolutionX(), 2);
  EXPECT_EQ(aspect.ResolutionY(), 3);
  layout.hasPhys = false;
  CxImagePNG none;
  ASSERT_TRUE(DecodeBytes(MakePng(layout, {{0}}), none));
  EXPECT_EQ(none.ResolutionX(), 96);
}

TEST(PngDecode, ProbeCancelAndFailures) {
  PngSpec layout;
  layout.width = 7;
  layout.height = 5;
  const auto bytes = MakePng(layout, RgbRows(7, 5, 1));
  CxImagePNG probe;
  ASSERT_TRUE(DecodeBytes(bytes, probe, -1));
  EXPECT_EQ(probe.Width(), 7u);
  EXPECT_EQ(probe.Height(), 5u);
  EXPECT_EQ(probe.FormatType(), FORMAT_PNG);
  EXPECT_FALSE(probe.HasPixels());
  EXPECT_STREQ(probe.LastErrorText(), "output dimensions returned");

  CxImagePNG cancelled;
  EXPECT_FALSE(DecodeBytes(bytes, cancelled, 1));
  EXPECT_STREQ(cancelled.LastErrorText(), "Cancelled");

  CxImagePNG truncated;
  EXPECT_FALSE(DecodeBytes(std::vector<uint8_t>(bytes.begin(), bytes.end() - 20), truncated));
  EXPECT_STREQ(truncated.LastErrorText(), "Read Error");

  CxImagePNG notPng;
  EXPECT_FALSE(DecodeBytes({'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, notPng));
  EXPECT_STREQ(notPng.LastErrorText(), "Not a PNG file");

  CxImagePNG nothing;
  EXPECT_FALSE(nothing.Decode(static_cast<CxStream*>(nullptr)));

  // A header above the memory limit fails in Create, before any pixel data is looked at, and
  // says how large the picture is. So does a read to one bit per pixel that cannot hold it
  // either, and the chain of decoders that tries every format: no "unknown format".
  CxImagePNG huge;
  EXPECT_FALSE(DecodeBytes(HeaderOnlyPng(20000, 20000, 8, 2), huge));
  EXPECT_STREQ(huge.LastErrorText(), "the picture is too large: 20000 x 20000 pixels, more than the 256 MiB limit "
                                     "(CXIMAGE_MAX_MEMORY exceeded)");
  const std::vector<uint8_t> vast = HeaderOnlyPng(1000000, 1000000, 8, 0);
  const char* vastReason =
      "the picture is too large: 1000000 x 1000000 pixels, more than the 256 MiB limit (CXIMAGE_MAX_MEMORY exceeded)";
  CxImagePNG bitonal;
  CxMemStream vastStream(vast.data(), vast.size());
  EXPECT_FALSE(bitonal.DecodeBitonal(&vastStream, 128));
  EXPECT_STREQ(bitonal.LastErrorText(), vastReason);
  CxImage untyped(FORMAT_UNKNOWN);
  CxMemStream untypedStream(vast.data(), vast.size());
  EXPECT_FALSE(untyped.Decode(&untypedStream, FORMAT_UNKNOWN));
  EXPECT_STREQ(untyped.LastErrorText(), vastReason);
  // Past the width guard libpng refuses the header itself.
  CxImagePNG wide;
  EXPECT_FALSE(DecodeBytes(HeaderOnlyPng(kPngMaxDimension + 1, 1, 1, 0), wide));
  EXPECT_STRNE(wide.LastErrorText(), "");
}

// ---- Encoder --------------------------------------------------------------------------

std::vector<uint8_t> EncodeImage(CxImage& image) {
  CxMemStream out;
  EXPECT_TRUE(image.Encode(&out, FORMAT_PNG)) << image.LastErrorText();
  return out.Data();
}

// IHDR fields of an encoded file: bit depth, colour type, interlace.
struct Ihdr {
  int depth, colourType, interlace;
};
Ihdr ReadIhdr(const std::vector<uint8_t>& png) {
  if (png.size() < 33) return {-1, -1, -1};
  return {png[24], png[25], png[28]};
}

void ExpectSamePixels(const CxImage& a, const CxImage& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  for (uint32_t y = 0; y < a.Height(); ++y) {
    for (uint32_t x = 0; x < a.Width(); ++x) {
      ASSERT_EQ(a.ColourAt(x, y), b.ColourAt(x, y)) << x << "," << y;
      ASSERT_EQ(a.AlphaGet(x, y), b.AlphaGet(x, y)) << x << "," << y;
    }
  }
}

void FillIndices(CxImage& image, uint32_t modulo) {
  for (uint32_t y = 0; y < image.Height(); ++y) {
    for (uint32_t x = 0; x < image.Width(); ++x) {
      image.PutIndex(x, y, static_cast<uint8_t>(Pattern(x, y, 7) % modulo));
    }
  }
}

TEST(PngEncode, ColourTypesReadBackToSamePixels) {
  // 1-bit frame with the black/white palette: a 1-bit palette file.
  CxImage bitonal;
  ASSERT_NE(bitonal.Create(37, 9, 1, FORMAT_BMP), nullptr);
  bitonal.SetPaletteEntry(0, 0, 0, 0);
  bitonal.SetPaletteEntry(1, 255, 255, 255);
  FillIndices(bitonal, 2);
  bitonal.SetResolutionX(300);
  bitonal.SetResolutionY(150);
  auto png = EncodeImage(bitonal);
  EXPECT_EQ(ReadIhdr(png).depth, 1);
  EXPECT_EQ(ReadIhdr(png).colourType, PNG_COLOR_TYPE_PALETTE);
  EXPECT_EQ(ReadIhdr(png).interlace, 0);
  CxImagePNG back;
  ASSERT_TRUE(DecodeBytes(png, back)) << back.LastErrorText();
  EXPECT_EQ(back.Bpp(), 1u);
  EXPECT_EQ(back.ResolutionX(), 300);
  EXPECT_EQ(back.ResolutionY(), 150);
  ExpectSamePixels(bitonal, back);

  // 8-bit grey ramp: a grey file.
  CxImage grey;
  ASSERT_NE(grey.Create(20, 6, 8), nullptr);
  grey.SetGreyPalette();
  FillIndices(grey, 256);
  png = EncodeImage(grey);
  EXPECT_EQ(ReadIhdr(png).colourType, PNG_COLOR_TYPE_GRAY);
  EXPECT_EQ(ReadIhdr(png).depth, 8);
  CxImagePNG greyBack;
  ASSERT_TRUE(DecodeBytes(png, greyBack));
  EXPECT_TRUE(greyBack.IsGreyRamp());
  ExpectSamePixels(grey, greyBack);

  // 4-bit and 8-bit palettes.
  for (uint32_t bpp : {4u, 8u}) {
    CxImage pal;
    ASSERT_NE(pal.Create(15, 4, bpp), nullptr);
    for (uint32_t i = 0; i < pal.ColoursUsed(); ++i) {
      pal.SetPaletteEntry(static_cast<uint8_t>(i), Pattern(i, 1, 1), Pattern(i, 2, 2),
                          Pattern(i, 3, 3));
    }
    FillIndices(pal, pal.ColoursUsed());
    png = EncodeImage(pal);
    EXPECT_EQ(ReadIhdr(png).colourType, PNG_COLOR_TYPE_PALETTE);
    EXPECT_EQ(ReadIhdr(png).depth, static_cast<int>(bpp));
    CxImagePNG palBack;
    ASSERT_TRUE(DecodeBytes(png, palBack));
    ExpectSamePixels(pal, palBack);
  }

  // 24-bit: RGB; with an alpha plane: RGB + alpha.
  CxImage rgb;
  ASSERT_NE(rgb.Create(11, 7, 24), nullptr);
  for (uint32_t y = 0; y < 7; ++y) {
    for (uint32_t x = 0; x < 11; ++x) {
      rgb.PutColour(x, y, Rgb(Pattern(x, y, 1), Pattern(x, y, 2), Pattern(x, y, 3)));
    }
  }
  png = EncodeImage(rgb);
  EXPECT_EQ(ReadIhdr(png).colourType, PNG_COLOR_TYPE_RGB);
  CxImagePNG rgbBack;
  ASSERT_TRUE(DecodeBytes(png, rgbBack));
  ExpectSamePixels(rgb, rgbBack);

  ASSERT_TRUE(rgb.AlphaCreate());
  for (uint32_t y = 0; y < 7; ++y) {
    for (uint32_t x = 0; x < 11; ++x) rgb.AlphaSet(x, y, Pattern(x, y, 4));
  }
  png = EncodeImage(rgb);
  EXPECT_EQ(ReadIhdr(png).colourType, PNG_COLOR_TYPE_RGB_ALPHA);
  CxImagePNG rgbaBack;
  ASSERT_TRUE(DecodeBytes(png, rgbaBack));
  EXPECT_TRUE(rgbaBack.HasAlpha());
  ExpectSamePixels(rgb, rgbaBack);

  // Grey ramp with alpha: grey + alpha.
  ASSERT_TRUE(grey.AlphaCreate());
  grey.AlphaSet(3, 2, 17);
  png = EncodeImage(grey);
  EXPECT_EQ(ReadIhdr(png).colourType, PNG_COLOR_TYPE_GRAY_ALPHA);
  CxImagePNG gaBack;
  ASSERT_TRUE(DecodeBytes(png, gaBack));
  ExpectSamePixels(grey, gaBack);
}

TEST(PngEncode, TransparencyInterlaceAndOddPalettes) {
  // A transparent index that is not 0: the palette keeps its order, the pixels their colours.
  CxImage pal;
  ASSERT_NE(pal.Create(9, 5, 8), nullptr);
  for (uint32_t i = 0; i < 256; ++i) {
    pal.SetPaletteEntry(static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0,
                        static_cast<uint8_t>(255 - i));
  }
  FillIndices(pal, 6);
  pal.SetTransparentIndex(3);
  pal.SetCodecOptions(1, FORMAT_PNG);  // interlaced
  auto png = EncodeImage(pal);
  EXPECT_EQ(ReadIhdr(png).interlace, 1);
  CxImagePNG back;
  ASSERT_TRUE(DecodeBytes(png, back));
  EXPECT_EQ(back.CodecOptions(FORMAT_PNG), 1u);
  for (uint32_t y = 0; y < 5; ++y) {
    for (uint32_t x = 0; x < 9; ++x) {
      ASSERT_EQ(back.IndexAt(x, y), pal.IndexAt(x, y));
      EXPECT_EQ(pngjpgtest::IsFullyTransparent(back, x, y), pal.IndexAt(x, y) == 3);
    }
  }
  EXPECT_EQ(back.PaletteEntry(3).red, 3);
  EXPECT_EQ(pal.PaletteEntry(0).red, 0);  // the image itself is untouched

  // Palette alphas are written one per entry.
  CxImage alphaPal;
  ASSERT_NE(alphaPal.Create(4, 1, 4), nullptr);
  for (uint8_t i = 0; i < 16; ++i) alphaPal.SetPaletteEntry(i, i, i, 200, 255);
  alphaPal.SetPaletteEntry(2, 9, 9, 9, 100);
  alphaPal.AlphaPaletteEnable(true);
  FillIndices(alphaPal, 4);
  CxImagePNG alphaBack;
  ASSERT_TRUE(DecodeBytes(EncodeImage(alphaPal), alphaBack));
  EXPECT_TRUE(alphaBack.AlphaPaletteEnabled());
  EXPECT_EQ(alphaBack.PaletteEntry(2).reserved, 100);
  EXPECT_EQ(alphaBack.PaletteEntry(1).reserved, 255);

  // A palette image with an alpha plane has no PNG palette form: colour + alpha.
  CxImage palAlpha;
  ASSERT_NE(palAlpha.Create(5, 3, 8), nullptr);
  for (uint32_t i = 0; i < 256; ++i) {
    palAlpha.SetPaletteEntry(static_cast<uint8_t>(i), 255, static_cast<uint8_t>(i), 0);
  }
  FillIndices(palAlpha, 256);
  ASSERT_TRUE(palAlpha.AlphaCreate());
  palAlpha.AlphaSet(1, 1, 0);
  png = EncodeImage(palAlpha);
  EXPECT_EQ(ReadIhdr(png).colourType, PNG_COLOR_TYPE_RGB_ALPHA);
  CxImagePNG palAlphaBack;
  ASSERT_TRUE(DecodeBytes(png, palAlphaBack));
  ExpectSamePixels(palAlpha, palAlphaBack);

  // A 4-bit palette that happens to be (i, i, i) stays a palette: as 4-bit grey it would
  // read back seventeen times brighter.
  CxImage dark;
  ASSERT_NE(dark.Create(3, 2, 4), nullptr);
  for (uint8_t i = 0; i < 16; ++i) dark.SetPaletteEntry(i, i, i, i);
  FillIndices(dark, 16);
  png = EncodeImage(dark);
  EXPECT_EQ(ReadIhdr(png).colourType, PNG_COLOR_TYPE_PALETTE);
  CxImagePNG darkBack;
  ASSERT_TRUE(DecodeBytes(png, darkBack));
  ExpectSamePixels(dark, darkBack);

  // Colours important below the highest index used: the palette chunk still covers it.
  CxImage few;
  ASSERT_NE(few.Create(3, 1, 8), nullptr);
  few.SetPaletteEntry(5, 1, 2, 3);
  few.PutIndex(2, 0, 5);
  few.SetColoursImportant(2);
  CxImagePNG fewBack;
  ASSERT_TRUE(DecodeBytes(EncodeImage(few), fewBack));
  EXPECT_EQ(fewBack.ColourAt(2, 0), Rgb(1, 2, 3));

  // An RGB + alpha image with a transparent colour: that colour is written transparent.
  CxImage keyed;
  ASSERT_NE(keyed.Create(2, 1, 24), nullptr);
  keyed.PutColour(0, 0, Rgb(1, 2, 3));
  keyed.PutColour(1, 0, Rgb(4, 5, 6));
  ASSERT_TRUE(keyed.AlphaCreate());
  keyed.SetTransparentColour(Rgb(1, 2, 3));
  keyed.SetTransparentIndex(0);
  CxImagePNG keyedBack;
  ASSERT_TRUE(DecodeBytes(EncodeImage(keyed), keyedBack));
  EXPECT_EQ(keyedBack.AlphaGet(0, 0), 0);
  EXPECT_EQ(keyedBack.AlphaGet(1, 0), 255);
  EXPECT_EQ(keyed.AlphaGet(0, 0), 255);  // the image itself is untouched
}

// A stream that takes the first `limit` bytes and then refuses.
class ShortStream : public CxStream {
 public:
  explicit ShortStream(size_t limit) : limit_(limit) {}
  bool Close() override { return true; }
  size_t Read(void*, size_t, size_t) override { return 0; }
  size_t Write(const void*, size_t size, size_t count) override {
    if (written_ + size * count > limit_) return 0;
    written_ += size * count;
    return count;
  }
  bool Seek(int64_t, int) override { return false; }
  int64_t Tell() override { return static_cast<int64_t>(written_); }
  int64_t Size() override { return static_cast<int64_t>(written_); }
  bool Flush() override { return true; }
  bool Eof() override { return true; }
  long Error() override { return 0; }
  long GetC() override { return -1; }
  char* GetS(char*, int) override { return nullptr; }
  long Scanf(const char*, void*) override { return -1; }

 private:
  size_t limit_;
  size_t written_ = 0;
};

TEST(PngEncode, FailuresAreReported) {
  CxImage image;
  ASSERT_NE(image.Create(64, 64, 24), nullptr);
  for (size_t limit : {0u, 40u, 100u}) {
    ShortStream stream(limit);
    EXPECT_FALSE(image.Encode(&stream, FORMAT_PNG));
    EXPECT_STREQ(image.LastErrorText(), "Error saving PNG file");
  }
  CxImage empty;
  CxMemStream out;
  EXPECT_FALSE(empty.Encode(&out, FORMAT_PNG));
}

}  // namespace

namespace {

// Everything of a decoded picture that the bitonal step reads.
void ExpectSamePicture(const CxImage& a, const CxImage& b, const char* what) {
  SCOPED_TRACE(what);
  ASSERT_TRUE(a.HasPixels());
  ASSERT_TRUE(b.HasPixels());
  ASSERT_EQ(a.Bpp(), b.Bpp());
  ASSERT_EQ(a.ImageSize(), b.ImageSize());
  EXPECT_EQ(std::memcmp(a.PixelArea(), b.PixelArea(), a.ImageSize()), 0);
  ASSERT_EQ(a.ColoursUsed(), b.ColoursUsed());
  if (a.ColoursUsed() != 0) {
    EXPECT_EQ(std::memcmp(a.PaletteEntries(), b.PaletteEntries(), a.PaletteByteSize()), 0);
  }
  EXPECT_EQ(a.ColoursImportant(), b.ColoursImportant());
  EXPECT_EQ(a.TransparentIndex(), b.TransparentIndex());
  if (a.TransparentIndex() >= 0 && a.ColoursUsed() == 0) {
    EXPECT_EQ(a.TransparentColour(), b.TransparentColour());
  }
  EXPECT_EQ(a.AlphaPaletteEnabled(), b.AlphaPaletteEnabled());
  ASSERT_EQ(a.HasAlpha(), b.HasAlpha());
  if (a.HasAlpha()) {
    EXPECT_EQ(std::memcmp(a.AlphaPlane(), b.AlphaPlane(), size_t{a.Width()} * a.Height()), 0);
  }
  EXPECT_EQ(a.ResolutionX(), b.ResolutionX());
  EXPECT_EQ(a.ResolutionY(), b.ResolutionY());
  EXPECT_EQ(std::memcmp(&a.Header(), &b.Header(), sizeof(BitmapInfoHeader)), 0);
}

void ExpectReadBackLikeFile(CxImage& source, const char* what) {
  CxMemStream png;
  ASSERT_TRUE(source.Encode(&png, FORMAT_PNG)) << what;
  CxMemStream back(png.Data().data(), png.Data().size());
  CxImage decoded(FORMAT_UNKNOWN);
  ASSERT_TRUE(decoded.Decode(&back, FORMAT_PNG)) << what;
  CxImage direct(FORMAT_UNKNOWN);
  ASSERT_TRUE(ReadBackAsPng(source, direct)) << what;
  ExpectSamePicture(decoded, direct, what);
}

}  // namespace

// The picture given back without a file is the one the file gives back, in every layout
// the writer chooses, with every kind of transparency it maps.
TEST(PngReadBack, SameAsThroughAFile) {
  // 1-bit, odd width (bits past the last pixel are set), one entry important, 72 dpi.
  CxImage bits(13, 3, 1);
  bits.SetPaletteEntry(0, 10, 20, 30, 7);
  bits.SetPaletteEntry(1, 200, 210, 220, 9);
  std::memset(bits.PixelArea(), 0xFF, bits.ImageSize());
  bits.SetResolutionX(72);
  bits.SetResolutionY(599);
  ExpectReadBackLikeFile(bits, "1-bit");
  std::memset(bits.PixelArea(), 0, bits.ImageSize());
  bits.SetColoursImportant(1);
  ExpectReadBackLikeFile(bits, "1-bit, one colour");

  // 4-bit palette, transparent index 0 and 3, and beyond what the file holds.
  CxImage nibble(7, 2, 4);
  for (uint8_t i = 0; i < 16; ++i) nibble.SetPaletteEntry(i, i * 16, 255 - i * 8, i, 0);
  for (int x = 0; x < 7; ++x) nibble.PutIndex(x, 0, static_cast<uint8_t>(x));
  nibble.SetColoursImportant(5);
  for (int32_t t : {-1, 0, 3, 12}) {
    nibble.SetTransparentIndex(t);
    ExpectReadBackLikeFile(nibble, "4-bit, transparent index");
  }

  // 8-bit grey ramp: plain, keyed, with an alpha plane (the key is dropped then).
  CxImage grey(5, 4, 8);
  grey.SetGreyPalette();
  for (int x = 0; x < 5; ++x) grey.PutIndex(x, 1, static_cast<uint8_t>(x * 60));
  grey.SetTransparentIndex(60);
  ExpectReadBackLikeFile(grey, "grey, keyed");
  ASSERT_TRUE(grey.AlphaCreate());
  grey.AlphaSet(2, 1, 40);
  ExpectReadBackLikeFile(grey, "grey + alpha");

  // 8-bit palette with alpha values, then with an alpha plane (written as colour + alpha).
  CxImage palette(6, 2, 8);
  palette.SetPaletteEntry(0, 0, 0, 0, 0);
  palette.SetPaletteEntry(1, 0, 0, 0, 255);
  palette.SetPaletteEntry(2, 255, 0, 0, 128);
  palette.AlphaPaletteEnable(true);
  for (int x = 0; x < 6; ++x) palette.PutIndex(x, 0, static_cast<uint8_t>(x % 3));
  ExpectReadBackLikeFile(palette, "palette alpha");
  palette.AlphaPaletteEnable(false);
  palette.SetTransparentIndex(0);
  ASSERT_TRUE(palette.AlphaCreate());
  palette.AlphaSet(1, 0, 99);
  ExpectReadBackLikeFile(palette, "palette + alpha plane");

  // 24-bit: keyed colour, then alpha with the key turned into clear pixels.
  CxImage colour(3, 2, 24);
  colour.PutColour(0, 0, RgbQuad{1, 2, 3, 0});
  colour.PutColour(1, 0, RgbQuad{9, 8, 7, 0});
  colour.SetTransparentColour(RgbQuad{1, 2, 3, 0});
  colour.SetTransparentIndex(0);
  ExpectReadBackLikeFile(colour, "colour, keyed");
  ASSERT_TRUE(colour.AlphaCreate());
  colour.AlphaSet(1, 0, 77);
  ExpectReadBackLikeFile(colour, "colour + alpha, keyed");
}
