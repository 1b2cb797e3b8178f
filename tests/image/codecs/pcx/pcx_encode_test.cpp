// PCX writer: what it puts in the header and that the decoder reads it back.
#include <gtest/gtest.h>

#include <vector>

#include "image/codec_test_util.h"
#include "image/codecs/pcx/pcx_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

using codectest::Bytes;
using codectest::EncodeAs;
using codectest::ExpectSameColours;
using codectest::Fill;

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

}  // namespace
