// PCX and TGA writers: what they put in the header and that the decoders read it back.
#include <gtest/gtest.h>

#include <vector>

#include "image/codecs/pcx/pcx_codec.h"
#include "image/codecs/tga/tga_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A small image of the given depth with a recognisable palette, pixels and alpha.
void Fill(CxImage& image, uint32_t w, uint32_t h, uint32_t bpp, bool alpha = false) {
  ASSERT_NE(image.Create(w, h, bpp), nullptr);
  for (uint32_t i = 0; i < image.ColoursUsed(); ++i) {
    image.SetPaletteEntry(static_cast<uint8_t>(i), static_cast<uint8_t>(i * 7),
                          static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 3));
  }
  if (alpha) {
    ASSERT_TRUE(image.AlphaCreate());
  }
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const uint32_t v = x * 31 + y * 17 + (x * y) % 5;
      if (image.ColoursUsed() != 0) {
        image.PutIndex(x, y, static_cast<uint8_t>(v % image.ColoursUsed()));
      } else {
        image.PutColour(x, y, RgbQuad{uint8_t(v), uint8_t(v * 3), uint8_t(v / 2), 0});
      }
      if (alpha) image.AlphaSet(x, y, static_cast<uint8_t>(v * 11));
    }
  }
}

Bytes EncodeAs(CxImage& image, uint32_t format) {
  CxMemStream out;
  EXPECT_TRUE(image.Encode(&out, format)) << image.LastErrorText();
  return out.Data();
}

template <class Codec>
void ExpectSameColours(const CxImage& original, const Bytes& file) {
  CxMemStream in(file.data(), file.size());
  Codec back;
  ASSERT_TRUE(back.Decode(&in)) << back.LastErrorText();
  ASSERT_EQ(back.Width(), original.Width());
  ASSERT_EQ(back.Height(), original.Height());
  EXPECT_EQ(back.HasAlpha(), original.HasAlpha());
  for (uint32_t y = 0; y < original.Height(); ++y) {
    for (uint32_t x = 0; x < original.Width(); ++x) {
      ASSERT_EQ(back.ColourAt(x, y, true), original.ColourAt(x, y, true)) << x << "," << y;
    }
  }
}

TEST(PcxEncode, Preconditions) {
  CxImagePCX empty;
  EXPECT_FALSE(empty.Encode(nullptr));
  EXPECT_STREQ(empty.LastErrorText(), "null file handler");
  CxMemStream out;
  EXPECT_FALSE(empty.Encode(&out));
  EXPECT_STREQ(empty.LastErrorText(), "null image!!!");
}

TEST(PcxEncode, RoundTripsEveryDepth) {
  for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
    SCOPED_TRACE(bpp);
    CxImage image;
    Fill(image, 13, 5, bpp);
    if (bpp == 1) {  // white as index 0: written inverted, read back as black-and-white
      image.SetPaletteEntry(0, 255, 255, 255);
      image.SetPaletteEntry(1, 0, 0, 0);
    }
    const Bytes file = EncodeAs(image, FORMAT_PCX);
    ExpectSameColours<CxImagePCX>(image, file);
  }
  CxImage withAlpha;
  Fill(withAlpha, 9, 4, 24, true);
  ExpectSameColours<CxImagePCX>(withAlpha, EncodeAs(withAlpha, FORMAT_PCX));
}

TEST(PcxEncode, HeaderAndRuns) {
  CxImage image;
  ASSERT_NE(image.Create(70, 1, 8), nullptr);
  image.SetResolutionX(300);
  image.SetResolutionY(150);
  for (uint32_t x = 0; x < 69; ++x) image.PutIndex(x, 0, 7);
  image.PutIndex(69, 0, 0xC5);
  const Bytes file = EncodeAs(image, FORMAT_PCX);
  ASSERT_GT(file.size(), 128u + 769u);
  EXPECT_EQ(file[0], 10);
  EXPECT_EQ(file[1], 5);
  EXPECT_EQ(file[2], 1);
  EXPECT_EQ(file[3], 8);
  EXPECT_EQ(LoadU16LE(&file[8]), 69);   // x max
  EXPECT_EQ(LoadU16LE(&file[10]), 0);   // y max
  EXPECT_EQ(LoadU16LE(&file[12]), 300);
  EXPECT_EQ(LoadU16LE(&file[14]), 150);
  EXPECT_EQ(file[65], 1);
  EXPECT_EQ(LoadU16LE(&file[66]), 70);  // already even
  // 69 sevens as runs of 63 and 6, the byte 0xC5 as a run of one.
  const Bytes body(file.begin() + 128, file.end() - 769);
  EXPECT_EQ(body, (Bytes{0xFF, 7, 0xC6, 7, 0xC1, 0xC5}));
  EXPECT_EQ(file[file.size() - 769], 12);

  // Odd widths are padded to an even number of bytes a line.
  CxImage odd;
  ASSERT_NE(odd.Create(3, 1, 24), nullptr);
  const Bytes rgb = EncodeAs(odd, FORMAT_PCX);
  EXPECT_EQ(rgb[65], 3);
  EXPECT_EQ(LoadU16LE(&rgb[66]), 4);
}

TEST(TgaEncode, HeaderAndRoundTrip) {
  CxImage bitonal;
  Fill(bitonal, 4, 4, 1);
  CxMemStream out;
  EXPECT_FALSE(bitonal.Encode(&out, FORMAT_TGA));
  EXPECT_STREQ(bitonal.LastErrorText(), "Bit depth must be 8 or 24");

  CxImage paletted;
  Fill(paletted, 7, 3, 8);
  const Bytes p = EncodeAs(paletted, FORMAT_TGA);
  ASSERT_EQ(p.size(), 18u + 768u + 21u);
  EXPECT_EQ(p[1], 1);
  EXPECT_EQ(p[2], 1);
  EXPECT_EQ(LoadU16LE(&p[5]), 256);
  EXPECT_EQ(p[7], 24);
  EXPECT_EQ(p[16], 8);
  EXPECT_EQ(p[17], 0);
  ExpectSameColours<CxImageTGA>(paletted, p);

  CxImage rgb;
  Fill(rgb, 5, 2, 24);
  const Bytes t = EncodeAs(rgb, FORMAT_TGA);
  ASSERT_EQ(t.size(), 18u + 30u);
  EXPECT_EQ(t[1], 0);
  EXPECT_EQ(t[2], 2);
  EXPECT_EQ(t[16], 24);
  ExpectSameColours<CxImageTGA>(rgb, t);

  CxImage rgba;
  Fill(rgba, 5, 2, 24, true);
  const Bytes a = EncodeAs(rgba, FORMAT_TGA);
  ASSERT_EQ(a.size(), 18u + 40u);
  EXPECT_EQ(a[16], 32);
  ExpectSameColours<CxImageTGA>(rgba, a);
}

}  // namespace
