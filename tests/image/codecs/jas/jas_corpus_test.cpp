// The corpus's PNM files against their reference decodes.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "image/codecs/jas/jas_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"
#include "image/ref_png.h"
#include "support/test_support.h"

namespace {

const char kShift[] = "samples above 8 bits are shifted down; the reference rounds";

// Files that differ from the reference on purpose (tolerance in any channel), with the reason.
const std::map<std::string, std::pair<int, const char*>> kListed = {
    {"pnm/good/libtiff/rgb-3c-16b.ppm", {1, kShift}},
    {"pnm/good/libjpeg-turbo/monkey16.pgm", {1, kShift}},
    {"pnm/good/image-rs/images/pnm/pgm/l16a.pgm", {1, kShift}},
    {"pnm/good/image-rs/images/pnm/pgm/l16b.pnm", {1, kShift}},
    {"pnm/good/image-rs/images/pnm/ppm/r16a.ppm", {1, kShift}},
    {"pnm/good/image-rs/images/pnm/ppm/r16b.ppm", {1, kShift}},
    {"pnm/good/pillow/16_bit_binary.pgm", {1, kShift}},
    {"pnm/good/zigimg/netpbm/pgm_ascii_grayscale16.pgm", {1, kShift}},
    {"pnm/good/zigimg/netpbm/pgm_binary_grayscale16.pgm", {1, kShift}},
};

bool IsPam(const std::string& path) { return path.size() > 4 && path.substr(path.size() - 4) == ".pam"; }

}  // namespace

TEST(JasCorpus, GoodPnmFilesMatchReference) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  int compared = 0;
  for (const auto& row : imagetest::ReferenceRows("pnm/good/")) {
    SCOPED_TRACE(row.localPath);
    const auto bytes = testsupport::ReadBytes(corpus + "/" + row.localPath);
    CxMemStream stream(bytes.data(), bytes.size());
    CxImageJAS image;
    const bool ok = image.Decode(&stream, 0);
    if (IsPam(row.localPath)) {
      // PAM (P7) is not one of the formats this codec reads.
      EXPECT_FALSE(ok);
      EXPECT_STREQ(image.LastErrorText(), "error: unknowm format");
      continue;
    }
    ASSERT_TRUE(ok) << image.LastErrorText();
    EXPECT_EQ(image.FormatType(), FORMAT_PNM);
    if (row.bestRef.empty()) continue;
    const auto listed = kListed.find(row.localPath);
    const int tolerance = listed == kListed.end() ? 0 : listed->second.first;
    imagetest::ExpectMatchWithin(image, corpus + "/" + row.bestRef, tolerance);
    ++compared;
  }
  EXPECT_GE(compared, 30);
}

TEST(JasCorpus, BrokenFilesFailWithMessage) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  for (const std::string prefix : {"pnm/bad/", "pnm/questionable/"}) {
    for (const auto& row : imagetest::ReferenceRows(prefix)) {
      SCOPED_TRACE(row.localPath);
      const auto bytes = testsupport::ReadBytes(corpus + "/" + row.localPath);
      CxMemStream stream(bytes.data(), bytes.size());
      CxImageJAS image;
      // courB08.pbm is a PNG under a PBM name; the rest are broken or PAM files.
      EXPECT_FALSE(image.Decode(&stream, 0));
      EXPECT_STRNE(image.LastErrorText(), "");
    }
  }
}
