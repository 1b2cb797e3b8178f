#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "image/core/image.h"
#include "image/io/format.h"
#include "image/ref_png.h"
#include "support/test_support.h"

namespace {

// Good files whose decode differs from the reference on purpose, with the reason.
const std::map<std::string, std::string>& IntentionalDifferences() {
  static const std::map<std::string, std::string> kFiles = {
      {"bmp/good/bmpsuite/g/rgb32bf.bmp",
       "32-bit channels are whole bytes chosen by mask position; its green mask 0xFF0 is not "
       "byte-aligned"},
      {"bmp/good/image-rs/images/bmp/images/rgba16-1924.bmp",
       "16-bit channels are widened with shifts that assume red, green and blue masks in that "
       "order from high to low bits; these masks are interleaved"},
      {"bmp/good/image-rs/images/bmp/images/V3_A1_R5_G5_B5.bmp",
       "16-bit alpha masks are not read: pixels keep their colour; the reference blanks "
       "transparent pixels"},
      {"bmp/good/image-rs/images/bmp/images/V3_A1_R5_G5_B5_Top_Down.bmp",
       "16-bit alpha masks are not read (as above)"},
      {"bmp/good/image-rs/images/bmp/images/V3_A4_R4_G4_B4.bmp",
       "16-bit alpha masks are not read; its reference is another file's rendering"},
      {"bmp/good/image-rs/images/bmp/images/V3_A4_R4_G4_B4_Top_Down.bmp",
       "16-bit alpha masks are not read; its reference is another file's rendering"},
      {"bmp/good/pillow/pal8_offset.bmp",
       "pixel data is read from the offset the file header states, which points into the "
       "palette"},
      {"bmp/good/pngsuite/bmp/tbbn0g04.bmp",
       "the preferred reference is the source PNG with its transparency composited; the "
       "stored colours match the other reference decode exactly"},
  };
  return kFiles;
}

// 16-bit pixels are widened by taking the channel's bits as the top bits of the byte, where
// the reference also fills the low bits; allow that difference and nothing more.
int WideningTolerance(const std::string& features) {
  if (features.find("bpp=16") == std::string::npos) return 0;
  int narrowest = 5;  // 5-5-5 without masks
  const size_t at = features.find("masks=");
  if (at != std::string::npos) {
    unsigned masks[3] = {};
    if (std::sscanf(features.c_str() + at, "masks=%x/%x/%x", &masks[0], &masks[1], &masks[2]) == 3) {
      narrowest = 8;
      for (unsigned m : masks) narrowest = std::min(narrowest, std::popcount(m & 0xFFFFu));
    }
  }
  return narrowest >= 8 ? 0 : (1 << (8 - narrowest)) - 1;
}

TEST(BmpCorpus, GoodFilesMatchTheirReferences) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  int compared = 0;
  for (const auto& row : imagetest::ReferenceRows("bmp/good/")) {
    SCOPED_TRACE(row.localPath);
    CxImage img;
    const bool ok = img.Load((corpus + "/" + row.localPath).c_str(), FORMAT_BMP);
    const auto known = IntentionalDifferences().find(row.localPath);
    if (known != IntentionalDifferences().end()) {
      std::printf("differs on purpose: %s (%s)\n", row.localPath.c_str(), known->second.c_str());
      continue;
    }
    if (!ok) {
      ADD_FAILURE() << "decode failed: " << img.LastErrorText();
      continue;
    }
    if (row.bestRef.empty()) continue;
    imagetest::RefImage ref;
    if (!imagetest::LoadRefPng(corpus + "/" + row.bestRef, &ref)) {
      ADD_FAILURE() << "cannot read " << row.bestRef;
      continue;
    }
    EXPECT_EQ(imagetest::CountPixelDifferences(img, ref, WideningTolerance(row.features)), 0) << row.confidence << " " << row.features;
    ++compared;
  }
  EXPECT_GT(compared, 50);
}

// Unusual and broken files: any result, but no crash, leak or hang (run under the
// sanitizers), and a failure always comes with a message.
TEST(BmpCorpus, QuestionableAndBadFilesAreSurvived) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  int files = 0;
  for (const char* folder : {"/bmp/questionable", "/bmp/bad"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus + folder)) {
      if (!entry.is_regular_file()) continue;
      SCOPED_TRACE(entry.path().string());
      for (uint32_t type : {FORMAT_BMP, FORMAT_UNKNOWN}) {
        CxImage img;
        if (!img.Load(entry.path().c_str(), type)) {
          EXPECT_STRNE(img.LastErrorText(), "");
        } else {
          EXPECT_TRUE(img.HasPixels());
        }
      }
      ++files;
    }
  }
  EXPECT_GT(files, 20);
}

}  // namespace
