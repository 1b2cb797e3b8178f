// JPEG decoder rules (Exif and JFIF resolution, CMYK, options) and the encoder, on files
// made with libjpeg directly.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "image/codecs/jpeg/jpeg_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"
#include "image/png_test_util.h"

namespace {

using pngjpgtest::DecodeBytes;

struct JpegSpec {
  uint32_t width = 16;
  uint32_t height = 16;
  int components = 3;
  J_COLOR_SPACE space = JCS_RGB;
  uint8_t densityUnit = 0;
  uint16_t xDensity = 1;
  uint16_t yDensity = 1;
  bool writeJfif = true;
  std::vector<uint8_t> app1;  // body of an APP1 marker, written when not empty
  int quality = 95;
};

// samples: top row first, width * components per row.
std::vector<uint8_t> MakeJpeg(const JpegSpec& layout, const std::vector<uint8_t>& samples) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = layout.width;
  cinfo.image_height = layout.height;
  cinfo.input_components = layout.components;
  cinfo.in_color_space = layout.space;
  jpeg_set_defaults(&cinfo);
  if (layout.space == JCS_CMYK) jpeg_set_colorspace(&cinfo, JCS_CMYK);
  jpeg_set_quality(&cinfo, layout.quality, TRUE);
  cinfo.write_JFIF_header = layout.writeJfif ? TRUE : FALSE;
  cinfo.density_unit = layout.densityUnit;
  cinfo.X_density = layout.xDensity;
  cinfo.Y_density = layout.yDensity;
  jpeg_start_compress(&cinfo, TRUE);
  if (!layout.app1.empty()) {
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, layout.app1.data(),
                      static_cast<unsigned>(layout.app1.size()));
  }
  const size_t rowBytes = static_cast<size_t>(layout.width) * layout.components;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPLE*>(&samples[cinfo.next_scanline * rowBytes]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

// The library's own output samples for a file, top row first.
std::vector<uint8_t> LibraryDecode(const std::vector<uint8_t>& file, int* components) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), file.size());
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  *components = cinfo.output_components;
  const size_t rowBytes = static_cast<size_t>(cinfo.output_width) * cinfo.output_components;
  std::vector<uint8_t> out(rowBytes * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = &out[cinfo.output_scanline * rowBytes];
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return out;
}

std::vector<uint8_t> Samples(const JpegSpec& layout) {
  std::vector<uint8_t> s(static_cast<size_t>(layout.width) * layout.height * layout.components);
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>((i * 7 + (i / 48) * 13) & 0xFF);
  return s;
}

// --- Exif blocks (little-endian TIFF layout) ---------------------------------------------

struct ExifEntry {
  uint16_t tag, format;
  uint32_t count, value;
};

void Put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, static_cast<uint16_t>(x));
  Put16(v, static_cast<uint16_t>(x >> 16));
}

// "Exif\0\0", header, one directory of `entries` at offset 8, then `tail` bytes (offsets in
// entries count from the TIFF header, so the tail starts at 8 + 2 + 12n + 4).
std::vector<uint8_t> ExifBlock(const std::vector<ExifEntry>& entries,
                               const std::vector<uint8_t>& tail, uint32_t firstOffset = 8) {
  std::vector<uint8_t> v = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0};
  Put32(v, firstOffset);
  Put16(v, static_cast<uint16_t>(entries.size()));
  for (const auto& e : entries) {
    Put16(v, e.tag);
    Put16(v, e.format);
    Put32(v, e.count);
    Put32(v, e.value);
  }
  Put32(v, 0);
  v.insert(v.end(), tail.begin(), tail.end());
  return v;
}

uint32_t TailOffset(size_t entries) { return static_cast<uint32_t>(8 + 2 + 12 * entries + 4); }

TEST(JpgExif, CentimetreResolutionAndKeptTags) {
  // Rationals 100/1 and 50/1 in the tail; unit 3 (centimetre); make, model, orientation.
  std::vector<uint8_t> tail;
  Put32(tail, 100);
  Put32(tail, 1);
  Put32(tail, 50);
  Put32(tail, 1);
  const char make[] = "Maker with a long name beyond 31 characters";
  tail.insert(tail.end(), make, make + sizeof make);
  const size_t n = 6;
  const uint32_t base = TailOffset(n);
  const std::vector<ExifEntry> entries = {
      {271, 2, static_cast<uint32_t>(sizeof make), base + 16},
      {272, 2, 4, 0x0043424Du},  // "MBC\0" inline
      {274, 3, 1, 6},
      {282, 5, 1, base},
      {283, 5, 1, base + 8},
      {296, 3, 1, 3},
  };
  JpegSpec layout;
  layout.densityUnit = 1;
  layout.xDensity = 72;
  layout.yDensity = 72;
  layout.app1 = ExifBlock(entries, tail);
  CxImageJPG image;
  ASSERT_TRUE(DecodeBytes(MakeJpeg(layout, Samples(layout)), image)) << image.LastErrorText();
  EXPECT_TRUE(image.ExifInfo().found);
  // Orientation 6 stands the picture up with a quarter turn: the resolutions change places.
  EXPECT_EQ(image.ResolutionY(), static_cast<int32_t>(100.0f / 0.3937008f));
  EXPECT_EQ(image.ResolutionX(), static_cast<int32_t>(50.0f / 0.3937008f));
  EXPECT_NEAR(image.ResolutionY(), 254, 1);
  EXPECT_STREQ(image.ExifInfo().cameraMake, std::string(make).substr(0, 31).c_str());
  EXPECT_STREQ(image.ExifInfo().cameraModel, "MBC");
  EXPECT_EQ(image.ExifInfo().orientation, 6);

  // Millimetre, and an Exif block without a unit: the JFIF density decides.
  layout.app1 = ExifBlock({{282, 5, 1, TailOffset(2)}, {296, 3, 1, 4}}, tail);
  CxImageJPG mm;
  ASSERT_TRUE(DecodeBytes(MakeJpeg(layout, Samples(layout)), mm));
  EXPECT_EQ(mm.ResolutionX(), static_cast<int32_t>(100.0f / 0.03937008f));
  EXPECT_EQ(mm.ResolutionY(), 96);
  layout.app1 = ExifBlock({{282, 5, 1, TailOffset(1)}}, tail);
  CxImageJPG noUnit;
  ASSERT_TRUE(DecodeBytes(MakeJpeg(layout, Samples(layout)), noUnit));
  EXPECT_TRUE(noUnit.ExifInfo().found);
  EXPECT_EQ(noUnit.ResolutionX(), 72);
}

TEST(JpgExif, MalformedBlocksLeaveMessagesButNeverFail) {
  struct Case {
    std::vector<uint8_t> block;
    const char* message;
  };
  std::vector<Case> cases;
  cases.push_back({{'E', 'x', 'i', 'f', 1, 0, 'I', 'I', 42, 0, 8, 0, 0, 0}, "Incorrect Exif header"});
  cases.push_back({{'E', 'x', 'i', 'f', 0, 0, 'I', 'M', 42, 0, 8, 0, 0, 0},
                   "Invalid Exif alignment marker."});
  cases.push_back({{'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 43, 0, 8, 0, 0, 0}, "Invalid Exif start (1)"});
  auto tooMany = ExifBlock({{282, 5, 1, 0}}, {});
  tooMany[14] = 200;  // entry count far beyond the block
  cases.push_back({tooMany, "Illegally sized directory"});
  cases.push_back({ExifBlock({{282, 13, 1, 0}}, {}), "Illegal format code in EXIF dir"});
  cases.push_back({ExifBlock({{282, 5, 1, 5000}}, {}), "Illegal pointer offset value in EXIF."});
  cases.push_back({ExifBlock({{282, 5, 0x40000000u, 8}}, {}),
                   "Illegal pointer offset value in EXIF."});  // count * 8 overflows 32 bits
  cases.push_back({ExifBlock({{0x8769, 4, 1, 9000}}, {}), "Illegal subdirectory link"});
  cases.push_back({ExifBlock({{0x8769, 4, 1, 8}}, {}),  // links to itself
                   "Maximum directory nesting exceeded (corrupt exif header)"});
  cases.push_back({ExifBlock({{274, 3, 1, 9}}, {}), "Undefined rotation value"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    JpegExifInfo exif;
    ParseExifSection(c.block.data(), c.block.size(), exif);
    EXPECT_STREQ(exif.message, c.message);
    JpegSpec layout;
    layout.app1 = c.block;
    CxImageJPG image;
    EXPECT_TRUE(DecodeBytes(MakeJpeg(layout, Samples(layout)), image));
    EXPECT_STREQ(image.ExifInfo().message, c.message);
    EXPECT_EQ(image.ResolutionX(), 96);
  }
  // A directory behind a gap (stored offset 10) is found.
  std::vector<uint8_t> gap = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 10, 0, 0, 0, 0, 0};
  Put16(gap, 2);
  for (uint16_t tag : {282, 296}) {
    Put16(gap, tag);
    Put16(gap, tag == 282 ? 5 : 3);
    Put32(gap, 1);
    Put32(gap, tag == 282 ? 40 : 2);  // rationals behind the next-directory link
  }
  Put32(gap, 0);
  Put32(gap, 300);
  Put32(gap, 1);
  JpegExifInfo exif;
  EXPECT_TRUE(ParseExifSection(gap.data(), gap.size(), exif));
  EXPECT_FLOAT_EQ(exif.xResolution, 300.0f);
  EXPECT_FLOAT_EQ(exif.resolutionUnit, 1.0f);
  // Both ends of the defined rotations are kept without complaint.
  for (uint32_t orientation : {1u, 8u}) {
    const auto block = ExifBlock({{274, 3, 1, orientation}}, {});
    JpegExifInfo kept;
    EXPECT_TRUE(ParseExifSection(block.data(), block.size(), kept));
    EXPECT_EQ(kept.orientation, static_cast<int32_t>(orientation));
    EXPECT_STREQ(kept.message, "");
  }
}

// A 48 x 32 grey picture of six flat 16 x 16 blocks, each its own shade, stored under every
// Exif orientation: the decoded picture is the view the orientation describes.
TEST(JpgExif, OrientationTurnsThePictureUpright) {
  JpegSpec layout;
  layout.width = 48;
  layout.height = 32;
  layout.components = 1;
  layout.space = JCS_GRAYSCALE;
  layout.quality = 100;
  const auto stored = [](uint32_t x, uint32_t y) { return static_cast<uint8_t>(20 + 40 * (x / 16 + 3 * (y / 16))); };
  std::vector<uint8_t> samples;
  for (uint32_t y = 0; y < layout.height; ++y) {
    for (uint32_t x = 0; x < layout.width; ++x) samples.push_back(stored(x, y));
  }
  const uint32_t w = layout.width, h = layout.height;
  for (uint32_t orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(orientation);
    layout.app1 = ExifBlock({{274, 3, 1, orientation}}, {});
    const auto file = MakeJpeg(layout, samples);
    CxImageJPG image;
    ASSERT_TRUE(DecodeBytes(file, image)) << image.LastErrorText();
    const bool quarter = orientation >= 5;
    ASSERT_EQ(image.Width(), quarter ? h : w);
    ASSERT_EQ(image.Height(), quarter ? w : h);
    CxImageJPG probe;
    ASSERT_TRUE(DecodeBytes(file, probe, -1));
    EXPECT_EQ(probe.Width(), image.Width());
    EXPECT_EQ(probe.Height(), image.Height());
    int wrong = 0;
    for (uint32_t viewY = 0; viewY < image.Height(); ++viewY) {
      for (uint32_t viewX = 0; viewX < image.Width(); ++viewX) {
        uint32_t x = viewX, y = viewY;  // where the view's pixel is stored
        switch (orientation) {
          case 2: x = w - 1 - viewX; break;
          case 3: x = w - 1 - viewX; y = h - 1 - viewY; break;
          case 4: y = h - 1 - viewY; break;
          case 5: x = viewY; y = viewX; break;
          case 6: x = viewY; y = h - 1 - viewX; break;
          case 7: x = w - 1 - viewY; y = h - 1 - viewX; break;
          case 8: x = w - 1 - viewY; y = viewX; break;
        }
        const int got = image.ColourAt(viewX, image.Height() - 1 - viewY).red;
        if (std::abs(got - stored(x, y)) > 3) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(JpgDecode, JfifDensityUnits) {
  JpegSpec layout;
  layout.densityUnit = 0;
  layout.xDensity = 1;
  layout.yDensity = 2;
  CxImageJPG aspect;
  ASSERT_TRUE(DecodeBytes(MakeJpeg(layout, Samples(layout)), aspect));
  EXPECT_EQ(aspect.ResolutionX(), 96);
  EXPECT_EQ(aspect.ResolutionY(), 192);

  layout.densityUnit = 2;
  layout.xDensity = 100;
  layout.yDensity = 40;
  CxImageJPG cm;
  ASSERT_TRUE(DecodeBytes(MakeJpeg(layout, Samples(layout)), cm));
  EXPECT_EQ(cm.ResolutionX(), 254);
  EXPECT_EQ(cm.ResolutionY(), 102);

  layout.densityUnit = 1;
  layout.xDensity = 300;
  layout.yDensity = 0;
  CxImageJPG inch;
  ASSERT_TRUE(DecodeBytes(MakeJpeg(layout, Samples(layout)), inch));
  EXPECT_EQ(inch.ResolutionX(), 300);
  EXPECT_EQ(inch.ResolutionY(), 96);
}

TEST(JpgDecode, ColourSpacesAndOptions) {
  // CMYK: each pixel by the K rule from the library's own samples.
  JpegSpec cmykSpec;
  cmykSpec.components = 4;
  cmykSpec.space = JCS_CMYK;
  cmykSpec.writeJfif = false;
  const auto cmykFile = MakeJpeg(cmykSpec, Samples(cmykSpec));
  int components = 0;
  const auto cmyk = LibraryDecode(cmykFile, &components);
  ASSERT_EQ(components, 4);
  CxImageJPG cmykImage;
  ASSERT_TRUE(DecodeBytes(cmykFile, cmykImage)) << cmykImage.LastErrorText();
  EXPECT_EQ(cmykImage.Bpp(), 24u);
  for (uint32_t t = 0; t < 16; ++t) {
    for (uint32_t x = 0; x < 16; ++x) {
      const uint8_t* s = &cmyk[(t * 16 + x) * 4];
      const RgbQuad c = cmykImage.ColourAt(x, 15 - t);
      ASSERT_EQ(c.red, s[3] * s[0] / 255);
      ASSERT_EQ(c.green, s[3] * s[1] / 255);
      ASSERT_EQ(c.blue, s[3] * s[2] / 255);
    }
  }

  // RGB arrives as stored B, G, R.
  JpegSpec rgbSpec;
  const auto rgbFile = MakeJpeg(rgbSpec, Samples(rgbSpec));
  const auto rgb = LibraryDecode(rgbFile, &components);
  CxImageJPG rgbImage;
  ASSERT_TRUE(DecodeBytes(rgbFile, rgbImage));
  EXPECT_EQ(rgbImage.ColourAt(3, 15).red, rgb[9]);
  EXPECT_EQ(rgbImage.ColourAt(3, 15).blue, rgb[11]);
  EXPECT_EQ(rgbImage.PaletteEntries(), nullptr);

  // Grey file, and grey output asked of a colour file: 8 bits with the grey ramp.
  JpegSpec greySpec;
  greySpec.components = 1;
  greySpec.space = JCS_GRAYSCALE;
  CxImageJPG greyImage;
  ASSERT_TRUE(DecodeBytes(MakeJpeg(greySpec, Samples(greySpec)), greyImage));
  EXPECT_EQ(greyImage.Bpp(), 8u);
  EXPECT_TRUE(greyImage.IsGreyRamp());
  CxImageJPG asGrey;
  asGrey.SetCodecOptions(kJpegOptionGrey, FORMAT_JPG);
  ASSERT_TRUE(DecodeBytes(rgbFile, asGrey));
  EXPECT_EQ(asGrey.Bpp(), 8u);
  EXPECT_TRUE(asGrey.IsGreyRamp());

  // Quantised to the quality value's number of colours, with the library's colour map.
  CxImageJPG quantised;
  quantised.SetCodecOptions(kJpegOptionQuantise | kJpegOptionOnePass | kJpegOptionNoSmoothing,
                            FORMAT_JPG);
  quantised.SetJpegQuality(16.0f);
  ASSERT_TRUE(DecodeBytes(rgbFile, quantised)) << quantised.LastErrorText();
  EXPECT_EQ(quantised.Bpp(), 8u);
  EXPECT_LE(quantised.ColoursImportant(), 16u);
  EXPECT_GE(quantised.ColoursImportant(), 2u);
  EXPECT_FALSE(quantised.IsGreyRamp());

  // Scale denominator 2 halves the picture; the probe reports the scaled size.
  CxImageJPG half;
  half.SetJpegScale(2);
  ASSERT_TRUE(DecodeBytes(rgbFile, half, -1));
  EXPECT_EQ(half.Width(), 8u);
  EXPECT_FALSE(half.HasPixels());
  EXPECT_EQ(half.FormatType(), FORMAT_JPG);
}

TEST(JpgDecode, TruncationCancelAndFailures) {
  JpegSpec layout;
  layout.width = 64;
  layout.height = 64;
  const auto file = MakeJpeg(layout, Samples(layout));
  CxImageJPG cut;
  ASSERT_TRUE(DecodeBytes(std::vector<uint8_t>(file.begin(), file.begin() + file.size() / 2),
                          cut));
  EXPECT_EQ(cut.Width(), 64u);

  CxImageJPG cancelled;
  EXPECT_FALSE(DecodeBytes(file, cancelled, 1));
  EXPECT_STREQ(cancelled.LastErrorText(), "Cancelled");

  CxImageJPG empty;
  EXPECT_FALSE(DecodeBytes({}, empty));
  EXPECT_STRNE(empty.LastErrorText(), "");
  CxImageJPG notJpeg;
  EXPECT_FALSE(DecodeBytes({0x89, 'P', 'N', 'G', 0, 0, 0, 0}, notJpeg));
  EXPECT_STRNE(notJpeg.LastErrorText(), "");
  CxImageJPG headerOnly;
  EXPECT_FALSE(DecodeBytes(std::vector<uint8_t>(file.begin(), file.begin() + 20), headerOnly));
}

TEST(JpgEncode, RgbAndGreyReadBack) {
  CxImage rgb;
  ASSERT_NE(rgb.Create(24, 16, 24), nullptr);
  for (uint32_t y = 0; y < 16; ++y) {
    for (uint32_t x = 0; x < 24; ++x) {
      RgbQuad c;
      c.red = static_cast<uint8_t>(x < 12 ? 220 : 20);
      c.green = 100;
      c.blue = static_cast<uint8_t>(y < 8 ? 30 : 200);
      rgb.PutColour(x, y, c);
    }
  }
  rgb.SetResolutionX(200);
  CxMemStream out;
  ASSERT_TRUE(rgb.Encode(&out, FORMAT_JPG)) << rgb.LastErrorText();
  CxImageJPG back;
  ASSERT_TRUE(DecodeBytes(out.Data(), back));
  EXPECT_EQ(back.ResolutionX(), 200);
  const RgbQuad corner = back.ColourAt(2, 2);
  EXPECT_NEAR(corner.red, 220, 8);
  EXPECT_NEAR(corner.blue, 30, 8);
  EXPECT_NEAR(back.ColourAt(20, 13).blue, 200, 8);

  CxImage grey;
  ASSERT_NE(grey.Create(8, 8, 8), nullptr);
  grey.SetGreyPalette();
  grey.FillBytes(77);
  CxMemStream greyOut;
  ASSERT_TRUE(grey.Encode(&greyOut, FORMAT_JPG));
  CxImageJPG greyBack;
  ASSERT_TRUE(DecodeBytes(greyOut.Data(), greyBack));
  EXPECT_EQ(greyBack.Bpp(), 8u);
  EXPECT_NEAR(greyBack.IndexAt(4, 4), 77, 2);

  CxImage palette;
  ASSERT_NE(palette.Create(8, 8, 4), nullptr);
  CxMemStream palOut;
  EXPECT_FALSE(palette.Encode(&palOut, FORMAT_JPG));
  EXPECT_STREQ(palette.LastErrorText(), "JPEG can save only RGB or GreyScale images");
}

}  // namespace
