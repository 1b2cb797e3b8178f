// PNM, PGX, Sun raster and JPEG 2000 through CxImageJAS and the dispatch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/codecs/jas/jas_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"
#include "support/test_support.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool DecodeJas(const std::vector<uint8_t>& bytes, CxImageJAS& image, uint32_t type = 0) {
  CxMemStream stream(bytes.data(), bytes.size());
  return image.Decode(&stream, type);
}

uint8_t GreyTop(const CxImage& image, uint32_t x, uint32_t t) {
  return image.ColourAt(x, image.Height() - 1 - t).red;
}

void PutU32BE(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

std::vector<uint8_t> RasHeader(uint32_t w, uint32_t h, uint32_t depth, uint32_t type,
                               uint32_t mapType, uint32_t mapLength) {
  std::vector<uint8_t> out;
  for (uint32_t v : {0x59A66A95u, w, h, depth, 0u, type, mapType, mapLength}) PutU32BE(out, v);
  return out;
}

}  // namespace

TEST(JasCodec, PgmAndPbmThroughTheUntypedChain) {
  // A PGM found by its signature: an 8-bit grey image of type 14.
  const auto pgm = Join(Bytes("P5\n# made by hand\n3 2\n255\n"), {0, 128, 255, 10, 20, 30});
  CxMemStream stream(pgm.data(), pgm.size());
  CxImage image;
  ASSERT_TRUE(image.Decode(&stream, FORMAT_UNKNOWN)) << image.LastErrorText();
  EXPECT_EQ(image.FormatType(), FORMAT_PNM);
  EXPECT_EQ(image.Bpp(), 8u);
  EXPECT_TRUE(image.IsGreyRamp());
  EXPECT_EQ(GreyTop(image, 1, 0), 128);
  EXPECT_EQ(GreyTop(image, 2, 1), 30);

  // A PBM: its extension is not in the table, yet Load finds it.
  testsupport::ScratchDir dir;
  const std::string path = dir.file("glyph.pbm");
  ASSERT_TRUE(testsupport::WriteBytes(path, Join(Bytes("P4 10 2\n"), {0x80, 0x40, 0xFF, 0xC0})));
  EXPECT_EQ(FormatFromExtension("pbm"), FORMAT_UNKNOWN);
  CxImage loaded;
  ASSERT_TRUE(loaded.Load(path.c_str(), FORMAT_UNKNOWN)) << loaded.LastErrorText();
  EXPECT_EQ(loaded.FormatType(), FORMAT_PNM);
  EXPECT_EQ(loaded.Bpp(), 1u);
  EXPECT_EQ(GreyTop(loaded, 0, 0), 0);    // set bit: black
  EXPECT_EQ(GreyTop(loaded, 1, 0), 255);
  EXPECT_EQ(GreyTop(loaded, 9, 0), 0);    // 0x40 in the second byte is x = 9
  EXPECT_EQ(GreyTop(loaded, 9, 1), 0);
  EXPECT_EQ(GreyTop(loaded, 5, 1), 0);
}

TEST(JasCodec, AsciiVariantsAndWideSamples) {
  CxImageJAS p1;
  ASSERT_TRUE(DecodeJas(Bytes("P1\n# c\n4 2\n0101\n1 1 0 # end\n0\n"), p1)) << p1.LastErrorText();
  EXPECT_EQ(GreyTop(p1, 0, 0), 255);
  EXPECT_EQ(GreyTop(p1, 1, 0), 0);
  EXPECT_EQ(GreyTop(p1, 3, 1), 255);

  CxImageJAS p2;
  ASSERT_TRUE(DecodeJas(Bytes("P2 3 1 65535 65535 32768 255\n"), p2)) << p2.LastErrorText();
  EXPECT_EQ(p2.Bpp(), 8u);
  EXPECT_EQ(GreyTop(p2, 0, 0), 255);
  EXPECT_EQ(GreyTop(p2, 1, 0), 128);
  EXPECT_EQ(GreyTop(p2, 2, 0), 0);

  // A maxval of 100 still reaches white.
  CxImageJAS p3;
  ASSERT_TRUE(DecodeJas(Bytes("P3 2 1 100\n100 50 0  0 0 100\n"), p3)) << p3.LastErrorText();
  ASSERT_EQ(p3.Bpp(), 24u);
  const RgbQuad c = p3.ColourAt(0, 0);
  EXPECT_EQ(c.red, 255);
  EXPECT_EQ(c.green, 128);
  EXPECT_EQ(c.blue, 0);
  EXPECT_EQ(p3.ColourAt(1, 0).blue, 255);

  CxImageJAS p6;
  ASSERT_TRUE(DecodeJas(Join(Bytes("P6 1 1 65535\n"), {0x12, 0x34, 0xAB, 0xCD, 0xFF, 0xFF}), p6));
  EXPECT_EQ(p6.ColourAt(0, 0).red, 0x12);
  EXPECT_EQ(p6.ColourAt(0, 0).green, 0xAB);
  EXPECT_EQ(p6.ColourAt(0, 0).blue, 0xFF);
}

TEST(JasCodec, StrictReadersRefuseBadFiles) {
  const char* kLoad = "error: cannot load image data";
  struct Case {
    std::vector<uint8_t> bytes;
    const char* message;
  };
  const std::vector<Case> cases = {
      {Bytes("P5 2 2 255\n\x01\x02\x03"), kLoad},          // truncated raw data
      {Bytes("P2 2 1 10 5 11\n"), kLoad},                  // sample above maxval
      {Bytes("P5 0 2 255\n"), kLoad},                      // zero width
      {Bytes("P5 2 2 0\n\0\0\0\0"), kLoad},                // zero maxval
      {Bytes("P5 2 2 70000\n"), kLoad},                    // maxval too large
      {Bytes("P1 2 1 0 2\n"), kLoad},                      // not a bit
      {Bytes("P5 99999999999 2 255\n"), kLoad},            // side overflows
      {Bytes("P5 100000 100000 255\n"),
       "the picture is too large: 100000 x 100000 pixels, more than the 256 MiB limit (CXIMAGE_MAX_MEMORY exceeded)"},
      {Bytes("P7\nWIDTH 1\n"), "error: unknowm format"},
      {Bytes("hello"), "error: unknowm format"},
      {Bytes("PG ML +17 2 2\n"), kLoad},                   // PGX depth above 16
      {RasHeader(1, 1, 7, 1, 0, 0), kLoad},                // Sun raster depth 7
      {RasHeader(4, 4, 8, 1, 0, 0), kLoad},                // Sun raster without data
      {Bytes("\xFF\x4F\xFF\x51\0\0"), kLoad},               // codestream cut in its header
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    CxImageJAS image;
    EXPECT_FALSE(DecodeJas(cases[i].bytes, image));
    EXPECT_STREQ(image.LastErrorText(), cases[i].message);
  }
}

TEST(JasCodec, ProbeFramesAndCancel) {
  const auto ppm = Join(Bytes("P6 2 3 255\n"), std::vector<uint8_t>(18, 9));
  CxImageJAS probe;
  probe.SetEscape(-1);
  ASSERT_TRUE(DecodeJas(ppm, probe));
  EXPECT_STREQ(probe.LastErrorText(), "output dimensions returned");
  EXPECT_EQ(probe.Width(), 2u);
  EXPECT_EQ(probe.Height(), 3u);
  EXPECT_EQ(probe.FormatType(), FORMAT_PNM);
  EXPECT_FALSE(probe.HasPixels());

  CxImageJAS cancelled;
  cancelled.SetEscape(5);
  EXPECT_FALSE(DecodeJas(ppm, cancelled));

  const auto pgm = Join(Bytes("P5 1 1 255\n"), {7});
  CxImageJAS grey;
  ASSERT_TRUE(DecodeJas(pgm, grey));
  EXPECT_EQ(grey.FrameCount(), 1);
  CxImageJAS second;
  second.SetFrameToLoad(1);
  EXPECT_FALSE(DecodeJas(pgm, second));
  EXPECT_STREQ(second.LastErrorText(), "wrong frame!");
}

TEST(JasCodec, SunRasterAndPgxVariants) {
  // Byte-run encoded 8-bit with a colour map: 0x80 2 5 is three copies of index 5.
  auto ras = RasHeader(4, 1, 8, 2, 1, 18);
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 6; ++i) ras.push_back(static_cast<uint8_t>(k == 0 && i == 5 ? 200 : 10 * i + k));
  for (uint8_t b : {0x80, 0x02, 0x05, 0x01}) ras.push_back(b);
  CxImageJAS mapped;
  ASSERT_TRUE(DecodeJas(ras, mapped)) << mapped.LastErrorText();
  EXPECT_EQ(mapped.FormatType(), FORMAT_RAS);
  ASSERT_EQ(mapped.Bpp(), 24u);
  EXPECT_EQ(mapped.ColourAt(2, 0).red, 200);
  EXPECT_EQ(mapped.ColourAt(2, 0).green, 51);
  EXPECT_EQ(mapped.ColourAt(3, 0).red, 10);

  // 1-bit without a map: a set bit is black; rows are padded to 16 bits.
  auto mono = RasHeader(3, 2, 1, 1, 0, 0);
  for (uint8_t b : {0xA0, 0x00, 0x40, 0x00}) mono.push_back(b);
  CxImageJAS bits;
  ASSERT_TRUE(DecodeJas(mono, bits)) << bits.LastErrorText();
  EXPECT_EQ(bits.Bpp(), 1u);
  EXPECT_EQ(GreyTop(bits, 0, 0), 0);
  EXPECT_EQ(GreyTop(bits, 1, 0), 255);
  EXPECT_EQ(GreyTop(bits, 1, 1), 0);

  // Signed little-endian 12-bit PGX: -2048 is black, 2047 white.
  const auto pgx = Join(Bytes("PG LM -12 2 1\n"), {0x00, 0x08, 0xFF, 0x07});
  CxImageJAS signedPgx;
  ASSERT_TRUE(DecodeJas(pgx, signedPgx)) << signedPgx.LastErrorText();
  EXPECT_EQ(signedPgx.FormatType(), FORMAT_PGX);
  EXPECT_EQ(GreyTop(signedPgx, 0, 0), 0);
  EXPECT_EQ(GreyTop(signedPgx, 1, 0), 255);
}

TEST(JasCodec, WritersRoundTrip) {
  CxImage colour;
  ASSERT_NE(colour.Create(7, 5, 24, FORMAT_PNM), nullptr);
  for (uint32_t y = 0; y < 5; ++y)
    for (uint32_t x = 0; x < 7; ++x)
      colour.PutColour(x, y, RgbQuad{static_cast<uint8_t>(x * 30), static_cast<uint8_t>(y * 50),
                                     static_cast<uint8_t>(x * y), 0});
  CxImage grey;
  ASSERT_NE(grey.Create(6, 3, 8, FORMAT_PGX), nullptr);
  grey.SetGreyPalette();
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 6; ++x) grey.PutIndex(x, y, static_cast<uint8_t>(x * 40 + y));

  colour.SetJpegQuality(100.0f);  // lossless JPEG 2000
  grey.SetJpegQuality(100.0f);
  for (uint32_t type : {FORMAT_PNM, FORMAT_RAS, FORMAT_JP2, FORMAT_JPC, FORMAT_PGX}) {
    for (CxImage* source : {&colour, &grey}) {
      SCOPED_TRACE(std::to_string(type) + (source == &grey ? " grey" : " colour"));
      CxMemStream out;
      const bool written = source->Encode(&out, type);
      if (type == FORMAT_PGX && source == &colour) {
        EXPECT_FALSE(written);
        EXPECT_STREQ(source->LastErrorText(), "PGX can save only GrayScale images");
        continue;
      }
      ASSERT_TRUE(written) << source->LastErrorText();
      CxMemStream in(out.Data().data(), out.Data().size());
      CxImage back;
      ASSERT_TRUE(back.Decode(&in, FORMAT_UNKNOWN)) << back.LastErrorText();
      EXPECT_EQ(back.FormatType(), type == FORMAT_JPC ? FORMAT_JPC : type);
      ASSERT_EQ(back.Width(), source->Width());
      ASSERT_EQ(back.Height(), source->Height());
      for (uint32_t y = 0; y < back.Height(); ++y)
        for (uint32_t x = 0; x < back.Width(); ++x) {
          const RgbQuad a = source->ColourAt(x, y);
          const RgbQuad b = back.ColourAt(x, y);
          ASSERT_TRUE(a.red == b.red && a.green == b.green && a.blue == b.blue) << x << "," << y;
        }
    }
  }

  CxImage tinted;
  ASSERT_NE(tinted.Create(2, 2, 4, FORMAT_PNM), nullptr);
  tinted.SetPaletteEntry(1, 200, 10, 10);
  CxMemStream out;
  EXPECT_FALSE(tinted.Encode(&out, FORMAT_PNM));
  EXPECT_STREQ(tinted.LastErrorText(), "JasPer can save only RGB or GrayScale images");
}
