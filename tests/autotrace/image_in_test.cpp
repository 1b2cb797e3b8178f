#include "image_in.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>

#include "at_test_util.h"

namespace {

std::vector<uint8_t> EncodePng(png_uint_32 format, int w, int h, const std::vector<uint8_t>& pixels,
                               const std::vector<uint8_t>& colormap = {}, int colormapEntries = 0) {
  png_image p;
  std::memset(&p, 0, sizeof p);
  p.version = PNG_IMAGE_VERSION;
  p.width = static_cast<png_uint_32>(w);
  p.height = static_cast<png_uint_32>(h);
  p.format = format;
  p.colormap_entries = static_cast<png_uint_32>(colormapEntries);
  png_alloc_size_t size = 0;
  EXPECT_TRUE(png_image_write_to_memory(&p, nullptr, &size, 0, pixels.data(), 0, colormap.empty() ? nullptr : colormap.data()));
  std::vector<uint8_t> out(size);
  EXPECT_TRUE(png_image_write_to_memory(&p, out.data(), &size, 0, pixels.data(), 0, colormap.empty() ? nullptr : colormap.data()));
  out.resize(size);
  return out;
}

TEST(AutotraceInput, PngColourTypesBecomeRgbOverWhite) {
  at::Image img;
  std::string err;
  // Grey.
  ASSERT_TRUE(at::DecodePng(EncodePng(PNG_FORMAT_GRAY, 2, 1, {0, 200}), img, err)) << err;
  EXPECT_EQ(img.At(1, 0), (at::Rgb{200, 200, 200}));
  // RGBA: transparent becomes white, half transparent red is blended toward white.
  ASSERT_TRUE(at::DecodePng(EncodePng(PNG_FORMAT_RGBA, 2, 1, {255, 0, 0, 0, 255, 0, 0, 128}), img, err)) << err;
  EXPECT_EQ(img.At(0, 0), (at::Rgb{255, 255, 255}));
  EXPECT_EQ(img.At(1, 0).r, 255);
  EXPECT_GT(img.At(1, 0).g, 100);
  EXPECT_LT(img.At(1, 0).g, 255);
  // Two-entry palette: written with one bit a pixel.
  const std::vector<uint8_t> map2 = {0, 0, 0, 255, 255, 255};
  ASSERT_TRUE(at::DecodePng(EncodePng(PNG_FORMAT_RGB_COLORMAP, 9, 2, std::vector<uint8_t>{0, 1, 0, 1, 0, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}, map2, 2), img, err)) << err;
  EXPECT_EQ(img.width, 9);
  EXPECT_EQ(img.At(0, 0), (at::Rgb{0, 0, 0}));
  EXPECT_EQ(img.At(1, 0), (at::Rgb{255, 255, 255}));
  EXPECT_EQ(img.At(8, 1), (at::Rgb{0, 0, 0}));
  // A larger palette.
  const std::vector<uint8_t> map3 = {10, 20, 30, 40, 50, 60, 70, 80, 90};
  ASSERT_TRUE(at::DecodePng(EncodePng(PNG_FORMAT_RGB_COLORMAP, 3, 1, {2, 1, 0}, map3, 3), img, err)) << err;
  EXPECT_EQ(img.At(0, 0), (at::Rgb{70, 80, 90}));
  EXPECT_EQ(img.At(2, 0), (at::Rgb{10, 20, 30}));
}

TEST(AutotraceInput, BrokenAndOversizedFilesAreRefused) {
  at::Image img;
  std::string err;
  std::vector<uint8_t> good = EncodePng(PNG_FORMAT_RGB, 40, 40, std::vector<uint8_t>(40 * 40 * 3, 7));
  std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
  EXPECT_FALSE(at::DecodePng(cut, img, err));
  EXPECT_FALSE(err.empty());
  EXPECT_FALSE(at::DecodeImage({}, "", img, err));
  EXPECT_FALSE(at::DecodeImage({'x', 'y', 'z'}, "", img, err));
  EXPECT_FALSE(at::DecodeImage(good, "xcf", img, err));
  EXPECT_NE(err.find("unsupported"), std::string::npos);
  // A header claiming 20000 x 20000 pixels is refused before any pixel memory is taken.
  std::vector<uint8_t> huge = good;
  const uint8_t dims[8] = {0, 0, 0x4E, 0x20, 0, 0, 0x4E, 0x20};
  std::memcpy(huge.data() + 16, dims, 8);
  const uint32_t crc = static_cast<uint32_t>(crc32(0, huge.data() + 12, 17));
  for (int i = 0; i < 4; ++i) huge[29 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
  EXPECT_FALSE(at::DecodePng(huge, img, err));
  EXPECT_NE(err.find("too large"), std::string::npos) << err;
  const std::string pnm = "P5 30000 30000 255\n";
  EXPECT_FALSE(at::DecodePnm(std::vector<uint8_t>(pnm.begin(), pnm.end()), img, err));
  EXPECT_NE(err.find("too large"), std::string::npos);
}

TEST(AutotraceInput, PnmAndBmp) {
  at::Image img;
  std::string err;
  const std::string p1 = "P1\n# comment\n3 2\n1 0 1\n0 1 0\n";
  ASSERT_TRUE(at::DecodeImage(std::vector<uint8_t>(p1.begin(), p1.end()), "", img, err)) << err;
  EXPECT_EQ(img.At(0, 0), (at::Rgb{0, 0, 0}));
  EXPECT_EQ(img.At(1, 0), (at::Rgb{255, 255, 255}));
  std::string p4 = "P4 10 1\n";
  p4 += static_cast<char>(0x80);
  p4 += static_cast<char>(0x40);
  ASSERT_TRUE(at::DecodeImage(std::vector<uint8_t>(p4.begin(), p4.end()), "pbm", img, err)) << err;
  EXPECT_EQ(img.At(0, 0), (at::Rgb{0, 0, 0}));
  EXPECT_EQ(img.At(9, 0), (at::Rgb{0, 0, 0}));
  EXPECT_EQ(img.At(8, 0), (at::Rgb{255, 255, 255}));
  std::string p6 = "P6 1 1 65535\n";
  for (int c : {0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00}) p6 += static_cast<char>(c);
  ASSERT_TRUE(at::DecodeImage(std::vector<uint8_t>(p6.begin(), p6.end()), "", img, err)) << err;
  EXPECT_EQ(img.At(0, 0), (at::Rgb{255, 128, 0}));
  std::string shortP6 = "P6 2 2 255\n\x01\x02";
  EXPECT_FALSE(at::DecodeImage(std::vector<uint8_t>(shortP6.begin(), shortP6.end()), "", img, err));

  // 24-bit bottom-up BMP, 2 x 2, rows padded to 8 bytes.
  std::vector<uint8_t> bmp(54 + 16, 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  bmp[10] = 54;
  bmp[14] = 40;
  bmp[18] = 2;
  bmp[22] = 2;
  bmp[26] = 1;
  bmp[28] = 24;
  const uint8_t rows[16] = {255, 0, 0, 0, 255, 0, 0, 0, /* top: */ 0, 0, 255, 255, 255, 255, 0, 0};
  std::memcpy(bmp.data() + 54, rows, 16);
  ASSERT_TRUE(at::DecodeImage(bmp, "", img, err)) << err;
  EXPECT_EQ(img.At(0, 0), (at::Rgb{255, 0, 0}));
  EXPECT_EQ(img.At(1, 0), (at::Rgb{255, 255, 255}));
  EXPECT_EQ(img.At(0, 1), (at::Rgb{0, 0, 255}));
  bmp.resize(30);
  EXPECT_FALSE(at::DecodeImage(bmp, "", img, err));
}

}  // namespace
