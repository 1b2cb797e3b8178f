// The corpus's PNG files against their reference decodes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "image/codecs/png/png_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"
#include "image/png_test_util.h"
#include "image/ref_png.h"
#include "support/test_support.h"

namespace {

// Files that differ from the reference by one step on purpose: 16-bit samples keep their
// high byte, where the reference rounds value * 255 / 65535.
const std::map<std::string, std::string> kPngHighByteFiles = {
    {"png/good/pngsuite/png/basi0g16.png", "16-bit grey, high byte"},
    {"png/good/pngsuite/png/basn0g16.png", "16-bit grey, high byte"},
    {"png/good/pngsuite/png/oi2n0g16.png", "16-bit grey, high byte"},
    {"png/good/pngsuite/png/oi4n0g16.png", "16-bit grey, high byte"},
    {"png/good/pngsuite/png/oi9n0g16.png", "16-bit grey, high byte"},
    {"png/good/pngsuite/png/tbwn0g16.png", "16-bit grey, high byte"},
};
// Fully transparent pixels are compared nowhere: the reference paints them black, the
// decoder keeps the file's colour and marks the transparency (transparent index, transparent
// colour, palette alpha or alpha plane). Files where this matters: tbbn2c16, tbbn3p08,
// tbgn2c16, tbgn3p08, tbrn2c08, tbwn3p08, tbyn3p08, tp1n3p08(_xmp), i_trns, l_trns,
// p_trns_single, rgb_trns, tRNS_null_1x1, tiny.

TEST(PngCorpus, GoodFilesMatchReference) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  int compared = 0;
  for (const auto& row : imagetest::ReferenceRows("png/good/")) {
    SCOPED_TRACE(row.localPath);
    const auto bytes = testsupport::ReadBytes(corpus + "/" + row.localPath);
    CxImagePNG image;
    ASSERT_TRUE(pngjpgtest::DecodeBytes(bytes, image)) << image.LastErrorText();

    CxImagePNG probe;
    ASSERT_TRUE(pngjpgtest::DecodeBytes(bytes, probe, -1));
    EXPECT_EQ(probe.Width(), image.Width());
    EXPECT_EQ(probe.Height(), image.Height());
    EXPECT_FALSE(probe.HasPixels());

    if (row.bestRef.empty()) continue;
    imagetest::RefImage ref;
    ASSERT_TRUE(imagetest::LoadRefPng(corpus + "/" + row.bestRef, &ref));
    const int tolerance = kPngHighByteFiles.count(row.localPath) != 0 ? 1 : 0;
    EXPECT_EQ(pngjpgtest::CountOpaqueDifferences(image, ref, tolerance), 0);
    if (tolerance != 0) {
      EXPECT_NE(pngjpgtest::CountOpaqueDifferences(image, ref, 0), 0)
          << "listed as different but matches now";
    }
    ++compared;
  }
  EXPECT_GE(compared, 180);
}

TEST(PngCorpus, BadFilesFailCleanlyOrDecodeWhatTheyCan) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  // Files that libpng accepts: the damage is in chunks nobody reads or is repairable.
  const std::map<std::string, std::string> decodes = {
      {"png/bad/pillow/png_decompression_dos.png", "huge text chunk, ignored"},
      {"png/bad/pillow/unknown_compression_method.png", "bad ancillary chunk, ignored"},
  };
  int failed = 0;
  for (const auto& row : imagetest::ReferenceRows("png/bad/")) {
    SCOPED_TRACE(row.localPath);
    CxImagePNG image;
    const bool ok = pngjpgtest::DecodeBytes(
        testsupport::ReadBytes(corpus + "/" + row.localPath), image);
    if (decodes.count(row.localPath) != 0) {
      EXPECT_TRUE(ok) << image.LastErrorText();
    } else if (!ok) {
      EXPECT_STRNE(image.LastErrorText(), "");
      ++failed;
    }
  }
  EXPECT_GE(failed, 15);
}

// The whole-picture reading gives what the library's row by row reading gives, good files
// and bad: the same success, the same reason, the same pixels, palette, alpha and header.
TEST(PngCorpus, WholePictureReadsMatchRowByRow) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  int whole = 0;
  for (const char* folder : {"png/good/", "png/bad/"}) {
    for (const auto& row : imagetest::ReferenceRows(folder)) {
      SCOPED_TRACE(row.localPath);
      const std::vector<uint8_t> bytes = testsupport::ReadBytes(corpus + "/" + row.localPath);
      CxImagePNG fast, rows;
      rows.SetWholePictureReads(false);
      const bool fastOk = pngjpgtest::DecodeBytes(bytes, fast);
      const bool rowsOk = pngjpgtest::DecodeBytes(bytes, rows);
      ASSERT_EQ(fastOk, rowsOk);
      EXPECT_STREQ(fast.LastErrorText(), rows.LastErrorText());
      if (!fastOk) continue;
      ASSERT_EQ(fast.ImageSize(), rows.ImageSize());
      EXPECT_EQ(std::memcmp(&fast.Header(), &rows.Header(), sizeof(BitmapInfoHeader)), 0);
      EXPECT_EQ(std::memcmp(fast.PixelArea(), rows.PixelArea(), fast.ImageSize()), 0);
      if (fast.ColoursUsed() != 0) {
        EXPECT_EQ(std::memcmp(fast.PaletteEntries(), rows.PaletteEntries(), fast.PaletteByteSize()), 0);
      }
      ASSERT_EQ(fast.HasAlpha(), rows.HasAlpha());
      if (fast.HasAlpha()) {
        EXPECT_EQ(std::memcmp(fast.AlphaPlane(), rows.AlphaPlane(), size_t{fast.Width()} * fast.Height()), 0);
      }
      EXPECT_EQ(fast.TransparentIndex(), rows.TransparentIndex());
      EXPECT_EQ(fast.AlphaPaletteEnabled(), rows.AlphaPaletteEnabled());
      if (fast.CodecOptions(FORMAT_PNG) == 0 && fast.Header().biBitCount != 2) ++whole;
    }
  }
  EXPECT_GT(whole, 100);
}

TEST(PngCorpus, TruncatedFileFailsWithReadError) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  CxImagePNG image;
  EXPECT_FALSE(pngjpgtest::DecodeBytes(
      testsupport::ReadBytes(corpus + "/png/bad/pillow/truncated_image.png"), image));
  EXPECT_STREQ(image.LastErrorText(), "Read Error");
}

}  // namespace
