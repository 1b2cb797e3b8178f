// TGA writer: what it puts in the header and that the decoder reads it back.
#include <gtest/gtest.h>

#include <vector>

#include "image/codec_test_util.h"
#include "image/codecs/tga/tga_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

using codectest::Bytes;
using codectest::EncodeAs;
using codectest::ExpectSameColours;
using codectest::Fill;

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
