// The corpus's GIF files against their reference decodes (first frame), every later frame
// decoded, and the broken files survived.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "image/codecs/gif/gif_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"
#include "image/ref_png.h"
#include "support/test_support.h"

namespace {

// Files whose first frame differs from the reference on purpose, with the reason.
const std::map<std::string, std::string> kGifDifferences = {
    {"gif/good/image-rs/images/gif/anim/border_touching_layers.gif",
     "the first image does not cover the screen; the rest of the screen is filled with the "
     "control extension's index byte (255, beyond the 4-colour table: black), not with the "
     "background colour"},
    {"gif/good/image-rs/images/gif/anim/issue_1455_undersized.gif",
     "as above: the uncovered screen takes index 255 of the control extension"},
    {"gif/good/zigimg/gif/dispose-restore-previous.gif",
     "the reference is the first frame of another animation; our frame 0 (all black) is the "
     "other reference decoder's"},
    {"gif/good/zigimg/gif/images-combine.gif",
     "the reference draws all four images as one picture; here each image is a frame and frame "
     "0 is the first image alone"},
    {"gif/good/zigimg/gif/images-overlap.gif", "as above, two images"},
    {"gif/good/zigimg/gif/invalid-transparent.gif",
     "the reference shows pixel (1,1) black; it is table entry 1, white, as the file's own "
     "rendering (four-colors) has it"},
    {"gif/good/zigimg/gif/image-zero-height.gif",
     "the local table is cut off by the end of the file; the screen takes entry 0 of what is "
     "there (the trailer byte: 59, 0, 0) where the reference shows nothing (transparent)"},
    {"gif/good/zigimg/gif/image-zero-size.gif", "as above"},
};

// Files that do not decode, with the reason.
const std::map<std::string, std::string> kGifFailures = {
    {"gif/good/zigimg/gif/no-data.gif", "no image at all: there is no frame to return"},
};

std::vector<uint8_t> FileBytes(const std::string& path) { return testsupport::ReadBytes(path); }

bool DecodeFrame(const std::vector<uint8_t>& bytes, int32_t frame, CxImageGIF& image,
                 int32_t escape = 0) {
  CxMemStream stream(bytes.data(), bytes.size());
  image.SetFrameToLoad(frame);
  image.SetEscape(escape);
  return image.Decode(&stream);
}

// A raw RGBA reference (width x height x 4 bytes) of the image's size.
bool LoadRawRgba(const std::string& path, const CxImage& image, imagetest::RefImage* ref) {
  const auto raw = testsupport::ReadBytes(path);
  if (raw.size() != static_cast<size_t>(image.Width()) * image.Height() * 4) return false;
  ref->width = image.Width();
  ref->height = image.Height();
  ref->rgb.clear();
  for (size_t i = 0; i < raw.size(); i += 4) ref->rgb.insert(ref->rgb.end(), {raw[i], raw[i + 1], raw[i + 2]});
  return true;
}

bool LoadReference(const std::string& path, const CxImage& image, imagetest::RefImage* ref) {
  const std::string rgba = ".rgba";
  if (path.size() > rgba.size() && path.compare(path.size() - rgba.size(), rgba.size(), rgba) == 0) {
    return LoadRawRgba(path, image, ref);
  }
  return imagetest::LoadRefPng(path, ref);
}

// Pixels that differ from the reference, leaving out transparent ones (the references drop
// alpha, so their colour there means nothing); -1 when the sizes differ.
int64_t OpaqueDifferences(const CxImage& image, const imagetest::RefImage& ref) {
  if (image.Width() != ref.width || image.Height() != ref.height) return -1;
  const int32_t transparent = image.Bpp() <= 8 ? image.TransparentIndex() : -1;
  int64_t n = 0;
  for (uint32_t y = 0; y < ref.height; ++y) {
    const uint32_t row = image.Height() - 1 - y;
    for (uint32_t x = 0; x < ref.width; ++x) {
      if (transparent >= 0 && image.IndexAt(x, row) == transparent) continue;
      const RgbQuad c = image.ColourAt(x, row);
      const uint8_t* r = &ref.rgb[(static_cast<size_t>(y) * ref.width + x) * 3];
      if (c.red != r[0] || c.green != r[1] || c.blue != r[2]) ++n;
    }
  }
  return n;
}

TEST(GifCorpus, GoodFilesMatchReferenceFrameByFrame) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  int compared = 0;
  int laterFrames = 0;
  for (const auto& row : imagetest::ReferenceRows("gif/good/")) {
    SCOPED_TRACE(row.localPath);
    const auto bytes = FileBytes(corpus + "/" + row.localPath);
    CxImageGIF image;
    const bool ok = DecodeFrame(bytes, 0, image);
    if (kGifFailures.count(row.localPath) != 0) {
      EXPECT_FALSE(ok) << "listed as failing but decodes now";
      continue;
    }
    ASSERT_TRUE(ok) << image.LastErrorText();

    CxImageGIF probe;
    ASSERT_TRUE(DecodeFrame(bytes, 0, probe, -1));
    EXPECT_EQ(probe.Width(), image.Width());
    EXPECT_EQ(probe.Height(), image.Height());

    for (int32_t i = 1; i < image.FrameCount(); ++i) {
      CxImageGIF frame;
      ASSERT_TRUE(DecodeFrame(bytes, i, frame)) << "frame " << i;
      EXPECT_EQ(frame.Width(), image.Width());
      EXPECT_EQ(frame.Height(), image.Height());
      EXPECT_EQ(frame.FrameCount(), image.FrameCount());
      ++laterFrames;
    }

    if (row.bestRef.empty()) continue;
    imagetest::RefImage ref;
    ASSERT_TRUE(LoadReference(corpus + "/" + row.bestRef, image, &ref)) << row.bestRef;
    const int64_t differences = OpaqueDifferences(image, ref);
    if (kGifDifferences.count(row.localPath) != 0) {
      EXPECT_NE(differences, 0) << "listed as different but matches now";
      continue;
    }
    EXPECT_EQ(differences, 0);
    ++compared;
  }
  EXPECT_GE(compared, 100);
  EXPECT_GE(laterFrames, 250);
}

TEST(GifCorpus, BrokenAndUnusualFilesAreSurvived) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  int seen = 0;
  for (const std::string prefix : {"gif/bad/", "gif/questionable/"}) {
    for (const auto& row : imagetest::ReferenceRows(prefix)) {
      SCOPED_TRACE(row.localPath);
      const auto bytes = FileBytes(corpus + "/" + row.localPath);
      CxImageGIF image;
      const bool ok = DecodeFrame(bytes, 0, image);
      EXPECT_EQ(ok, image.HasPixels());
      for (int32_t i = 1; ok && i < image.FrameCount(); ++i) {
        CxImageGIF frame;
        EXPECT_TRUE(DecodeFrame(bytes, i, frame)) << "frame " << i;
      }
      ++seen;
    }
  }
  EXPECT_GE(seen, 10);
}

}  // namespace
