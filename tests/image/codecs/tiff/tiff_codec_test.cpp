// TIFF decoder rules on small files written here with libtiff, and the page writer.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/codecs/tiff/tiff_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"
#include "support/test_support.h"

namespace {

struct TifSpec {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bits = 8;
  uint16_t samples = 1;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t orientation = ORIENTATION_TOPLEFT;
  uint32_t tile = 0;  // tile side, 0 for strips
};

// Writes a one-page file whose rows come from `row(t, buffer)` and returns its bytes.
std::vector<uint8_t> MakeTif(const TifSpec& layout,
                             const std::function<void(uint32_t, uint8_t*)>& row) {
  testsupport::ScratchDir dir;
  const std::string path = dir.file("t.tif");
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) return {};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, layout.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, layout.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, layout.orientation);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  const size_t rowBytes = (static_cast<size_t>(layout.width) * layout.bits * layout.samples + 7) / 8;
  std::vector<uint8_t> buffer(rowBytes);
  if (layout.tile == 0) {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1u);
    for (uint32_t t = 0; t < layout.height; ++t) {
      std::fill(buffer.begin(), buffer.end(), 0);
      row(t, buffer.data());
      TIFFWriteScanline(tif, buffer.data(), t, 0);
    }
  } else {
    // One tile covering the whole (small) picture.
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, layout.tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, layout.tile);
    const size_t tileRow = static_cast<size_t>(layout.tile) * layout.bits * layout.samples / 8;
    std::vector<uint8_t> tileData(tileRow * layout.tile, 0);
    for (uint32_t t = 0; t < layout.height; ++t) {
      row(t, buffer.data());
      memcpy(tileData.data() + t * tileRow, buffer.data(), rowBytes);
    }
    TIFFWriteTile(tif, tileData.data(), 0, 0, 0, 0);
  }
  TIFFClose(tif);
  return testsupport::ReadBytes(path);
}

bool Decode(const std::vector<uint8_t>& bytes, CxImageTIF& image, int32_t frame = 0) {
  CxMemStream stream(bytes.data(), bytes.size());
  image.SetFrameToLoad(frame);
  return image.Decode(&stream);
}

// Index at x of the picture row t counted from the top.
uint8_t IndexTop(const CxImage& image, uint32_t x, uint32_t t) {
  return image.IndexAt(x, image.Height() - 1 - t);
}

void PutU16(uint8_t* p, uint16_t v) { memcpy(p, &v, 2); }

}  // namespace

TEST(TifCodec, PagesAreCountedAndAMissingPageIsReported) {
  CxImage pages[3];
  CxImage* list[3];
  for (uint32_t i = 0; i < 3; ++i) {
    ASSERT_NE(pages[i].Create(4 + i, 3, 8, FORMAT_TIF), nullptr);
    pages[i].SetGreyPalette();
    pages[i].PutIndex(0, 0, static_cast<uint8_t>(10 * (i + 1)));
    list[i] = &pages[i];
  }
  CxMemStream out;
  CxImageTIF writer;
  ASSERT_TRUE(writer.EncodePages(&out, list, 3)) << writer.LastErrorText();
  const std::vector<uint8_t> bytes = out.Data();

  for (int32_t frame = 0; frame < 3; ++frame) {
    CxImageTIF image;
    ASSERT_TRUE(Decode(bytes, image, frame)) << image.LastErrorText();
    EXPECT_EQ(image.FrameCount(), 3);
    EXPECT_EQ(image.Width(), 4u + static_cast<uint32_t>(frame));
    EXPECT_EQ(image.IndexAt(0, 0), 10 * (frame + 1));
    EXPECT_EQ(image.CodecOptions(FORMAT_TIF), static_cast<uint32_t>(COMPRESSION_LZW));
  }
  CxImageTIF missing;
  EXPECT_FALSE(Decode(bytes, missing, 3));
  EXPECT_STREQ(missing.LastErrorText(), "Error: page not present in TIFF file");

  // Through the typed dispatch the codec's message reaches the caller.
  CxMemStream stream(bytes.data(), bytes.size());
  CxImage target;
  target.SetFrameToLoad(7);
  EXPECT_FALSE(target.Decode(&stream, FORMAT_TIF));
  EXPECT_STREQ(target.LastErrorText(), "Error: page not present in TIFF file");

  // Each page carries its name.
  testsupport::ScratchDir dir;
  ASSERT_TRUE(testsupport::WriteBytes(dir.file("p.tif"), bytes));
  TIFF* tif = TIFFOpen(dir.file("p.tif").c_str(), "r");
  ASSERT_NE(tif, nullptr);
  ASSERT_TRUE(TIFFSetDirectory(tif, 1));
  const char* name = nullptr;
  ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_PAGENAME, &name));
  EXPECT_STREQ(name, "Page 2");
  TIFFClose(tif);
}

TEST(TifCodec, BilevelPaletteFollowsPhotometric) {
  TifSpec layout;
  layout.width = 8;
  layout.height = 2;
  layout.bits = 1;
  for (uint16_t photometric : {PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_MINISBLACK}) {
    SCOPED_TRACE(photometric);
    layout.photometric = photometric;
    const auto bytes = MakeTif(layout, [](uint32_t t, uint8_t* row) { row[0] = t == 0 ? 0xF0 : 0x0F; });
    CxImageTIF image;
    ASSERT_TRUE(Decode(bytes, image)) << image.LastErrorText();
    ASSERT_EQ(image.Bpp(), 1u);
    const RgbQuad white{255, 255, 255, 0};
    const RgbQuad black{0, 0, 0, 0};
    const bool minIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
    EXPECT_EQ(image.PaletteEntry(0), minIsWhite ? white : black);
    EXPECT_EQ(image.PaletteEntry(1), minIsWhite ? black : white);
    // The stored bits are kept; the palette gives them their meaning.
    EXPECT_EQ(IndexTop(image, 0, 0), 1);
    EXPECT_EQ(IndexTop(image, 7, 0), 0);
    EXPECT_EQ(IndexTop(image, 0, 1), 0);
    EXPECT_EQ(IndexTop(image, 7, 1), 1);
  }
}

TEST(TifCodec, SixteenBitGreyIsScaledToOneScale) {
  TifSpec layout;
  layout.width = 2;
  layout.height = 3;
  layout.bits = 16;
  const uint16_t values[3][2] = {{0x0100, 0x0080}, {0x1000, 0x0800}, {0, 0}};
  const auto fill = [&](uint32_t t, uint8_t* row) {
    PutU16(row, values[t][0]);
    PutU16(row + 2, values[t][1]);
  };
  CxImageTIF strips;
  ASSERT_TRUE(Decode(MakeTif(layout, fill), strips)) << strips.LastErrorText();
  ASSERT_EQ(strips.Bpp(), 8u);
  // Row 1 has the largest value: its top bit becomes bit 7 and every row shares its shift.
  EXPECT_EQ(IndexTop(strips, 0, 1), 0x80);
  EXPECT_EQ(IndexTop(strips, 1, 1), 0x40);
  EXPECT_EQ(IndexTop(strips, 0, 0), 0x08);
  EXPECT_EQ(IndexTop(strips, 1, 0), 0x04);
  EXPECT_EQ(IndexTop(strips, 0, 2), 0);

  // Tiles keep the high byte.
  layout.width = 16;
  layout.height = 3;
  layout.tile = 16;
  CxImageTIF tiles;
  ASSERT_TRUE(Decode(MakeTif(layout, fill), tiles)) << tiles.LastErrorText();
  EXPECT_EQ(IndexTop(tiles, 0, 1), 0x10);
  EXPECT_EQ(IndexTop(tiles, 1, 1), 0x08);
  EXPECT_EQ(IndexTop(tiles, 0, 0), 0x01);
  EXPECT_EQ(IndexTop(tiles, 1, 0), 0x00);
}

TEST(TifCodec, GreyDepthsOrientationAndProbe) {
  // 2-bit grey: 8-bit storage over a four-entry ramp, falling for min-is-white.
  TifSpec layout;
  layout.width = 4;
  layout.height = 1;
  layout.bits = 2;
  layout.photometric = PHOTOMETRIC_MINISWHITE;
  CxImageTIF grey2;
  ASSERT_TRUE(Decode(MakeTif(layout, [](uint32_t, uint8_t* row) { row[0] = 0x1B; }), grey2));
  ASSERT_EQ(grey2.Bpp(), 8u);
  for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(IndexTop(grey2, x, 0), x);
  EXPECT_EQ(grey2.PaletteEntry(0).red, 255);
  EXPECT_EQ(grey2.PaletteEntry(1).red, 170);
  EXPECT_EQ(grey2.PaletteEntry(3).red, 0);

  // Orientation 6: file row 0 is the right-hand side of the picture.
  layout = TifSpec{};
  layout.width = 3;
  layout.height = 2;
  layout.orientation = ORIENTATION_RIGHTTOP;
  const auto turned = MakeTif(layout, [](uint32_t t, uint8_t* row) {
    for (uint8_t x = 0; x < 3; ++x) row[x] = static_cast<uint8_t>(1 + x + 3 * t);
  });
  CxImageTIF image;
  ASSERT_TRUE(Decode(turned, image));
  ASSERT_EQ(image.Width(), 2u);
  ASSERT_EQ(image.Height(), 3u);
  EXPECT_EQ(IndexTop(image, 0, 0), 4);
  EXPECT_EQ(IndexTop(image, 1, 0), 1);
  EXPECT_EQ(IndexTop(image, 0, 2), 6);
  EXPECT_EQ(IndexTop(image, 1, 2), 3);

  CxImageTIF probe;
  probe.SetEscape(-1);
  ASSERT_TRUE(Decode(turned, probe));
  EXPECT_STREQ(probe.LastErrorText(), "output dimensions returned");
  EXPECT_EQ(probe.Width(), 3u);
  EXPECT_FALSE(probe.HasPixels());

  CxImageTIF cancelled;
  cancelled.SetEscape(1);
  EXPECT_FALSE(Decode(turned, cancelled));
  EXPECT_STREQ(cancelled.LastErrorText(), "Cancelled");
}

TEST(TifCodec, GreyWithAlphaAndLab) {
  TifSpec layout;
  layout.width = 2;
  layout.height = 1;
  layout.samples = 2;
  CxImageTIF grey;
  ASSERT_TRUE(Decode(MakeTif(layout, [](uint32_t, uint8_t* row) {
                       const uint8_t v[4] = {200, 17, 50, 255};
                       memcpy(row, v, 4);
                     }),
                     grey));
  ASSERT_TRUE(grey.HasAlpha());
  EXPECT_EQ(grey.IndexAt(0, 0), 200);
  EXPECT_EQ(grey.AlphaGet(0, 0), 17);
  EXPECT_EQ(grey.AlphaGet(1, 0), 255);

  layout.samples = 3;
  layout.photometric = PHOTOMETRIC_CIELAB;
  CxImageTIF lab;
  ASSERT_TRUE(Decode(MakeTif(layout, [](uint32_t, uint8_t* row) {
                       const uint8_t v[6] = {255, 0, 0, 0, 0, 0};  // white, black
                       memcpy(row, v, 6);
                     }),
                     lab));
  ASSERT_EQ(lab.Bpp(), 24u);
  const RgbQuad white = lab.ColourAt(0, 0);
  EXPECT_GE(white.red, 254);
  EXPECT_GE(white.green, 254);
  EXPECT_GE(white.blue, 254);
  // The fixed formula has no linear segment near black: L 0 comes out very dark, not 0.
  EXPECT_LT(lab.ColourAt(1, 0).green, 10);
}

TEST(TifCodec, WriterRoundTrips) {
  CxImage colour;
  ASSERT_NE(colour.Create(5, 4, 24, FORMAT_TIF), nullptr);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 5; ++x)
      colour.PutColour(x, y, RgbQuad{static_cast<uint8_t>(x * 40), static_cast<uint8_t>(y * 60), 7, 0});
  colour.SetResolutionX(300);
  colour.SetResolutionY(150);
  ASSERT_TRUE(colour.AlphaCreate());
  colour.AlphaSet(2, 1, 90);

  CxMemStream out;
  ASSERT_TRUE(colour.Encode(&out, FORMAT_TIF)) << colour.LastErrorText();
  CxImageTIF back;
  ASSERT_TRUE(Decode(out.Data(), back)) << back.LastErrorText();
  EXPECT_EQ(back.ResolutionX(), 300);
  EXPECT_EQ(back.ResolutionY(), 150);
  ASSERT_TRUE(back.HasAlpha());
  EXPECT_EQ(back.AlphaGet(2, 1), 90);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 5; ++x) EXPECT_EQ(back.ColourAt(x, y), colour.ColourAt(x, y));

  CxImage bilevel;
  ASSERT_NE(bilevel.Create(9, 3, 1, FORMAT_TIF), nullptr);
  bilevel.SetPaletteEntry(0, 255, 0, 0);
  bilevel.SetPaletteEntry(1, 0, 0, 255);
  bilevel.PutIndex(8, 2, 1);
  CxMemStream out1;
  ASSERT_TRUE(bilevel.Encode(&out1, FORMAT_TIF));
  CxImageTIF back1;
  ASSERT_TRUE(Decode(out1.Data(), back1));
  EXPECT_EQ(back1.Bpp(), 1u);
  EXPECT_EQ(back1.IndexAt(8, 2), 1);
  EXPECT_EQ(back1.IndexAt(7, 2), 0);
  EXPECT_EQ(back1.PaletteEntry(0).red, 255);
  EXPECT_EQ(back1.PaletteEntry(1).blue, 255);
}

TEST(TifCodec, DamagedInputFailsWithMessage) {
  CxImageTIF junk;
  const std::vector<uint8_t> garbage = {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3};
  EXPECT_FALSE(Decode(garbage, junk));
  EXPECT_STREQ(junk.LastErrorText(), "Error encountered while opening TIFF file");

  CxImageTIF none;
  EXPECT_FALSE(none.Decode(nullptr));

  // Every cut of a small file either decodes or fails with a message.
  TifSpec layout;
  layout.width = 20;
  layout.height = 20;
  const auto whole = MakeTif(layout, [](uint32_t t, uint8_t* row) { memset(row, static_cast<int>(t), 20); });
  for (size_t cut = 0; cut < whole.size(); cut += 7) {
    const std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<long>(cut));
    CxImageTIF image;
    if (!Decode(part, image)) {
      EXPECT_STRNE(image.LastErrorText(), "") << cut;
    }
  }
}
