// The corpus's TGA files against their reference decodes.
#include <gtest/gtest.h>
#include <png.h>

#include <map>
#include <string>

#include "image/codecs/tga/tga_codec.h"
#include "image/io/stream.h"
#include "image/ref_png.h"
#include "support/test_support.h"

namespace {

// Some references are RGBA; their colour channels count as they are stored, so read them
// without compositing onto a background.
bool LoadRefColours(const std::string& path, imagetest::RefImage* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  out->width = image.width;
  out->height = image.height;
  out->rgb.clear();
  for (size_t i = 0; i < rgba.size(); i += 4) out->rgb.insert(out->rgb.end(), &rgba[i], &rgba[i + 3]);
  return true;
}

struct Difference {
  int tolerance;       // per channel; -1: not compared
  const char* result;  // expected failure text, "" when the decode succeeds
  const char* reason;
};

const char* const kWidening =
    "15/16-bit pixels and colour-map entries widen each 5-bit channel by a shift of 3; the "
    "reference also fills the low bits";

const std::map<std::string, Difference> kTgaDifferences = {
    {"tga/good/image-rs/images/tga/testsuite/b5-attrib.tga", {7, "", kWidening}},
    {"tga/good/image-rs/images/tga/testsuite/b5-noattrib.tga", {7, "", kWidening}},
    {"tga/good/image-rs/images/tga/testsuite/utc16.tga", {7, "", kWidening}},
    {"tga/good/pillow/rgba16.tga", {7, "", kWidening}},
    {"tga/good/image-rs/images/tga/testsuite/b5-cmap.tga", {7, "", kWidening}},
    {"tga/good/image-rs/images/tga/testsuite/b5-unused-cmap.tga", {7, "", kWidening}},
    {"tga/good/image-rs/images/tga/testsuite/ccm8.tga", {7, "", kWidening}},
    {"tga/good/image-rs/images/tga/testsuite/ucm8.tga", {7, "", kWidening}},
    {"tga/good/pillow/p_16.tga", {7, "", kWidening}},
};

bool DecodeFile(const std::string& path, CxImageTGA& image, int32_t escape = 0) {
  const auto bytes = testsupport::ReadBytes(path);
  CxMemStream stream(bytes.data(), bytes.size());
  image.SetEscape(escape);
  return image.Decode(&stream);
}

TEST(TgaCorpus, GoodFilesMatchReference) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  int compared = 0;
  for (const auto& row : imagetest::ReferenceRows("tga/good/")) {
    SCOPED_TRACE(row.localPath);
    const auto listed = kTgaDifferences.find(row.localPath);
    const Difference rule = listed != kTgaDifferences.end() ? listed->second : Difference{0, "", ""};
    CxImageTGA image;
    const bool ok = DecodeFile(corpus + "/" + row.localPath, image);
    EXPECT_EQ(ok, rule.result[0] == '\0') << image.LastErrorText();
    if (!ok) {
      EXPECT_STREQ(image.LastErrorText(), rule.result);
      continue;
    }
    CxImageTGA probe;
    ASSERT_TRUE(DecodeFile(corpus + "/" + row.localPath, probe, -1));
    EXPECT_EQ(probe.Width(), image.Width());
    EXPECT_EQ(probe.Height(), image.Height());

    if (row.bestRef.empty() || rule.tolerance < 0) continue;
    imagetest::RefImage ref;
    ASSERT_TRUE(LoadRefColours(corpus + "/" + row.bestRef, &ref));
    EXPECT_EQ(imagetest::CountPixelDifferences(image, ref, rule.tolerance), 0);
    if (rule.tolerance > 0) {
      EXPECT_NE(imagetest::CountPixelDifferences(image, ref, 0), 0) << "listed but matches";
    }
    ++compared;
  }
  EXPECT_GE(compared, 50);
}

TEST(TgaCorpus, BadFilesFailCleanlyOrDecodeWhatTheyCan) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  int seen = 0;
  for (const auto& row : imagetest::ReferenceRows("tga/bad/")) {
    SCOPED_TRACE(row.localPath);
    CxImageTGA image;
    if (!DecodeFile(corpus + "/" + row.localPath, image)) {
      EXPECT_STRNE(image.LastErrorText(), "");
    }
    ++seen;
  }
  EXPECT_GE(seen, 10);
}

}  // namespace
