// The corpus's JPEG files against their reference decodes.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "image/codecs/jpeg/jpeg_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"
#include "image/png_test_util.h"
#include "image/ref_png.h"
#include "support/test_support.h"

namespace {

// Files whose references come from another decoder, with the largest step per channel.
struct OtherDecoder {
  int tolerance;
  const char* reason;
};
const std::map<std::string, OtherDecoder> kJpgOtherDecoders = {
    // Once its Exif orientation (mirrored) is applied it differs by 4 at most.
    {"jpg/good/image-rs/images/jpg/portrait_2.jpg",
     {4, "the reference is the source decoder's own rendering: its IDCT and chroma upsampling"}},
};
// CMYK files: K x C / 255 with integer division; the reference rounds, one step apart.
const std::map<std::string, std::string> kJpgCmykFiles = {
    {"jpg/good/pillow/pil_sample_cmyk.jpg", "CMYK"},
    {"jpg/good/debian-ghostscript-doc/GS9_Color_Management-img-032.jpg", "CMYK"},
};
// Valid files the 8-bit library cannot read.
const std::map<std::string, std::string> kJpgUnsupported = {
    {"jpg/good/libjpeg-turbo/monkey12.jpg", "Unsupported JPEG data precision 12"},
};

TEST(JpgCorpus, GoodFilesMatchReference) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  int compared = 0;
  for (const auto& row : imagetest::ReferenceRows("jpg/good/")) {
    SCOPED_TRACE(row.localPath);
    const auto bytes = testsupport::ReadBytes(corpus + "/" + row.localPath);
    CxImageJPG image;
    const bool ok = pngjpgtest::DecodeBytes(bytes, image);
    const auto unsupported = kJpgUnsupported.find(row.localPath);
    if (unsupported != kJpgUnsupported.end()) {
      EXPECT_FALSE(ok);
      EXPECT_STREQ(image.LastErrorText(), unsupported->second.c_str());
      continue;
    }
    ASSERT_TRUE(ok) << image.LastErrorText();

    CxImageJPG probe;
    ASSERT_TRUE(pngjpgtest::DecodeBytes(bytes, probe, -1));
    EXPECT_EQ(probe.Width(), image.Width());
    EXPECT_EQ(probe.Height(), image.Height());
    EXPECT_STREQ(probe.LastErrorText(), "output dimensions returned");

    if (row.bestRef.empty()) continue;
    imagetest::RefImage ref;
    ASSERT_TRUE(imagetest::LoadRefPng(corpus + "/" + row.bestRef, &ref));
    // The reference decoder alone shows the picture as stored; the Exif orientation stands
    // it up (the sources' own renderings are upright already).
    if (row.confidence == "pil-only") ref = imagetest::Upright(ref, image.ExifInfo().orientation);
    int tolerance = kJpgCmykFiles.count(row.localPath) != 0 ? 1 : 0;
    const auto other = kJpgOtherDecoders.find(row.localPath);
    if (other != kJpgOtherDecoders.end()) {
      tolerance = other->second.tolerance;
      EXPECT_NE(imagetest::CountPixelDifferences(image, ref, 0), 0) << "listed as different but matches now";
    }
    EXPECT_EQ(imagetest::CountPixelDifferences(image, ref, tolerance), 0);
    ++compared;
  }
  EXPECT_GE(compared, 65);
}

TEST(JpgCorpus, BadFilesFailCleanlyOrDecodeWhatTheyCan) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  for (const auto& row : imagetest::ReferenceRows("jpg/bad/")) {
    SCOPED_TRACE(row.localPath);
    CxImageJPG image;
    const bool ok = pngjpgtest::DecodeBytes(
        testsupport::ReadBytes(corpus + "/" + row.localPath), image);
    if (!ok) {
      EXPECT_STRNE(image.LastErrorText(), "");
    }
  }
  // A file cut short is completed by the library, not refused.
  CxImageJPG truncated;
  EXPECT_TRUE(pngjpgtest::DecodeBytes(
      testsupport::ReadBytes(corpus + "/jpg/bad/pillow/truncated_jpeg.jpg"), truncated));
  EXPECT_TRUE(truncated.HasPixels());
  CxImageJPG broken;
  EXPECT_FALSE(pngjpgtest::DecodeBytes(
      testsupport::ReadBytes(corpus + "/jpg/bad/image-rs/regression/jpg/oss-fuzz-36829.jpeg"),
      broken));
  EXPECT_STREQ(broken.LastErrorText(), "Invalid component ID 93 in SOS");
}

}  // namespace
