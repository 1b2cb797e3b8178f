// The corpus's TIFF files against their reference decodes.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "image/codecs/tiff/tiff_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"
#include "image/ref_png.h"
#include "support/test_support.h"

namespace {

bool DecodeTif(const std::vector<uint8_t>& bytes, CxImageTIF& image, int32_t escape = 0) {
  CxMemStream stream(bytes.data(), bytes.size());
  image.SetEscape(escape);
  return image.Decode(&stream);
}

struct Listed {
  int tolerance;  // -1: not compared
  const char* reason;
};

const char kHighByte[] = "16-bit samples keep their high byte; the reference rounds";
const char kAdaptive[] =
    "16-bit grey is scaled row by row to the image's largest value; the reference clips at 255";

const char kFloatGamma[] =
    "floating-point colour is shown through a display gamma of 2.2; the source rounds otherwise";

// Files that differ from the reference on purpose, with the reason.
const std::map<std::string, Listed> kListed = {
    {"tif/good/libtiff/rgb-3c-16b.tiff", {1, kHighByte}},
    {"tif/good/pillow/tiff_16bit_RGB.tiff", {1, kHighByte}},
    {"tif/good/pillow/tiff_strip_planar_16bit_RGB.tiff", {1, kHighByte}},
    {"tif/good/pillow/tiff_tiled_planar_16bit_RGB.tiff", {1, kHighByte}},
    {"tif/good/pillow/12bit.cropped.tif", {1, "12-bit grey keeps its top 8 bits"}},
    {"tif/good/libtiff/minisblack-1c-16b.tiff", {-1, kAdaptive}},
    {"tif/good/pillow/12in16bit.tif", {-1, kAdaptive}},
    {"tif/good/pillow/16_bit_noise.tif", {-1, kAdaptive}},
    {"tif/good/pillow/16bit.MM.cropped.tif", {-1, kAdaptive}},
    {"tif/good/pillow/16bit.MM.deflate.tif", {-1, kAdaptive}},
    {"tif/good/pillow/16bit.cropped.tif", {-1, kAdaptive}},
    {"tif/good/pillow/16bit.deflate.tif", {-1, kAdaptive}},
    {"tif/good/pillow/16bit.r.tif", {-1, kAdaptive}},
    {"tif/good/pillow/16bit.s.tif", {-1, kAdaptive}},
    {"tif/good/pillow/uint16_1_4660.tif", {-1, kAdaptive}},
    {"tif/good/pillow/cmx3g8_wv_1998.260_0745_mcidas.tiff", {-1, kAdaptive}},
    {"tif/good/pillow/ifd_tag_type.tiff", {-1, kAdaptive}},
    {"tif/good/pillow/lab.tif", {3, "CIELab by the decoder's own fixed formula"}},
    {"tif/good/pillow/lab-red.tif", {3, "CIELab by the decoder's own fixed formula"}},
    {"tif/good/pillow/lab-green.tif", {3, "CIELab by the decoder's own fixed formula"}},
    {"tif/good/pillow/hopper.Lab.tif",
     {-1, "CIELab by the fixed formula, which has no linear segment near black"}},
    {"tif/good/image-rs/images/tiff/testsuite/rgb32f_bw.tiff", {1, kFloatGamma}},
    {"tif/good/image-rs/images/tiff/testsuite/rgb32f_color.tiff", {1, kFloatGamma}},
    {"tif/good/pillow/tiff_strip_cmyk_16l_jpeg.tif", {1, "16-bit CMYK keeps the high byte of each sample"}},
    {"tif/good/libtiff/32bpp-None.tiff", {2, "premultiplied colours divided back by alpha"}},
    {"tif/good/pillow/pil136.tiff", {2, "premultiplied colours divided back by alpha"}},
    {"tif/good/pillow/tiff_16bit_RGBa.tiff",
     {-1, "premultiplied 16-bit colours are cut to 8 bits before alpha is divided out"}},
    {"tif/good/pillow/tiff_strip_planar_16bit_RGBa.tiff",
     {-1, "premultiplied 16-bit colours are cut to 8 bits before alpha is divided out"}},
    {"tif/good/pillow/tiff_tiled_planar_16bit_RGBa.tiff",
     {-1, "premultiplied 16-bit colours are cut to 8 bits before alpha is divided out"}},
    {"tif/good/pillow/tiff_strip_cmyk_jpeg.tif", {3, "CMYK converted by libtiff's RGBA reader"}},
    {"tif/good/pillow/tiff_tiled_cmyk_jpeg.tif", {3, "CMYK converted by libtiff's RGBA reader"}},
    {"tif/good/image-rs/images/tiff/testsuite/hpredict.tiff",
     {-1, "the source's own rendering (preferred reference) is not the file's RGBA"}},
    {"tif/good/image-rs/images/tiff/testsuite/hpredict_packbits.tiff",
     {-1, "the source's own rendering (preferred reference) is not the file's RGBA"}},
};

}  // namespace

TEST(TifCorpus, GoodFilesMatchReference) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  int compared = 0;
  for (const auto& row : imagetest::ReferenceRows("tif/good/")) {
    SCOPED_TRACE(row.localPath);
    const auto bytes = testsupport::ReadBytes(corpus + "/" + row.localPath);
    CxImageTIF image;
    const bool ok = DecodeTif(bytes, image);
    ASSERT_TRUE(ok) << image.LastErrorText();
    EXPECT_EQ(image.FormatType(), FORMAT_TIF);

    CxImageTIF probe;
    ASSERT_TRUE(DecodeTif(bytes, probe, -1));
    EXPECT_STREQ(probe.LastErrorText(), "output dimensions returned");
    EXPECT_FALSE(probe.HasPixels());
    EXPECT_EQ(probe.Width() * probe.Height(), image.Width() * image.Height());

    if (row.bestRef.empty()) continue;
    const auto listed = kListed.find(row.localPath);
    const int tolerance = listed == kListed.end() ? 0 : listed->second.tolerance;
    if (tolerance < 0) continue;
    imagetest::ExpectMatchWithin(image, corpus + "/" + row.bestRef, tolerance);
    ++compared;
  }
  EXPECT_GE(compared, 120);
}

TEST(TifCorpus, BrokenFilesFailOrDecodeWithoutHarm) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  int seen = 0;
  for (const std::string prefix : {"tif/bad/", "tif/questionable/"}) {
    for (const auto& row : imagetest::ReferenceRows(prefix)) {
      SCOPED_TRACE(row.localPath);
      const auto bytes = testsupport::ReadBytes(corpus + "/" + row.localPath);
      if (bytes.empty()) continue;
      CxImageTIF image;
      if (!DecodeTif(bytes, image)) {
        EXPECT_STRNE(image.LastErrorText(), "");
      } else {
        EXPECT_TRUE(image.HasPixels());
      }
      ++seen;
    }
  }
  EXPECT_GE(seen, 20);
}
