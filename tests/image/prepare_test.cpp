#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "image/codecs/bmp/bmp_builder.h"
#include "image/codecs/gif/gif_builder.h"
#include "image/codecs/png/png_codec.h"
#include "image/core/image.h"
#include "image/io/format.h"
#include "image/io/stream.h"
#include "image/prepare.h"
#include "platform/temp_files.h"
#include "support/temp_bitmap.h"
#include "support/test_support.h"

namespace {

using imagetest::BmpLayout;
using imagetest::BuildBmp;

// A 24-bit BMP of one row: white, grey 241, grey 240, black.
std::vector<uint8_t> GreyRowBmp(int32_t pixelsPerMetre) {
  BmpLayout layout;
  layout.width = 4;
  layout.height = 1;
  layout.bitCount = 24;
  layout.xPelsPerMeter = pixelsPerMetre;
  layout.yPelsPerMeter = pixelsPerMetre;
  layout.pixels = {255, 255, 255, 241, 241, 241, 240, 240, 240, 0, 0, 0};
  return BuildBmp(layout);
}

struct TempCleanup {
  ~TempCleanup() { DeleteTempFiles(); }
};

TEST(Prepare, BitonalBmpBytesFromColourInput) {
  TempCleanup cleanup;
  testsupport::ScratchDir dir;
  const std::string input = dir.file("row.bmp");
  testsupport::WriteBytes(input, GreyRowBmp(5906));  // 150 dpi
  std::vector<std::string> list;
  EXPECT_EQ(PrepareBitonal(input, ".bmp", list, 240), 1);
  ASSERT_EQ(list.size(), 1u);
  const auto b = testsupport::TempBitmapBytes(list[0]);
  ASSERT_EQ(b.size(), 66u);
  const uint8_t expected[66] = {
      'B', 'M', 66, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0,                    // file header
      40, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0,      // size .. compression
      4, 0, 0, 0, 0x12, 0x17, 0, 0, 0x12, 0x17, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 255, 255, 255, 0,                                     // palette
      0xC0, 0, 0, 0};                                                   // white, white, black, black
  for (size_t i = 0; i < b.size(); ++i) EXPECT_EQ(b[i], expected[i]) << "offset " << i;
}

TEST(Prepare, ResolutionRules) {
  TempCleanup cleanup;
  testsupport::ScratchDir dir;
  // 5 dpi at 24 bits: the input's own resolution is put back after the reduction.
  const std::string colour = dir.file("low.bmp");
  testsupport::WriteBytes(colour, GreyRowBmp(197));
  std::vector<std::string> list;
  ASSERT_EQ(PrepareBitonal(colour, ".bmp", list, 240), 1);
  ASSERT_EQ(list.size(), 1u);
  auto b = testsupport::TempBitmapBytes(list[0]);
  EXPECT_EQ(LoadU32LE(&b[38]), 197u);

  // The same resolution at 1 bit per pixel is corrected to 300 dpi; the palette stays.
  BmpLayout layout;
  layout.width = 8;
  layout.height = 1;
  layout.bitCount = 1;
  layout.xPelsPerMeter = 197;
  layout.yPelsPerMeter = 100000;  // 2540 dpi: too high as well
  layout.palette = {RgbQuad{255, 255, 255, 0}, RgbQuad{0, 0, 0, 0}};
  layout.pixels = {0x0F, 0, 0, 0};
  const std::string bitonal = dir.file("bits.bmp");
  testsupport::WriteBytes(bitonal, BuildBmp(layout));
  list.clear();
  ASSERT_EQ(PrepareBitonal(bitonal, ".bmp", list, 240), 1);
  ASSERT_EQ(list.size(), 1u);
  b = testsupport::TempBitmapBytes(list[0]);
  EXPECT_EQ(LoadU32LE(&b[38]), 11811u);
  EXPECT_EQ(LoadU32LE(&b[42]), 11811u);
  EXPECT_EQ(LoadU32LE(&b[54]), 0x00FFFFFFu);  // (white, black) kept
  EXPECT_EQ(LoadU32LE(&b[58]), 0u);
  EXPECT_EQ(b[62], 0x0F);
}

TEST(Prepare, MissingOrUnreadableInput) {
  TempCleanup cleanup;
  testsupport::ScratchDir dir;
  std::vector<std::string> list;
  EXPECT_EQ(PrepareBitonal("", ".bmp", list, 240), 0);
  EXPECT_EQ(PrepareBitonal(dir.file("missing.png"), ".bmp", list, 240), 0);
  const std::string junk = dir.file("junk.png");
  testsupport::WriteText(junk, "not an image, not even close to one");
  EXPECT_EQ(PrepareBitonal(junk, ".bmp", list, 240), 0);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(SplitIntoFrames(dir.file("missing.tif"), ".png", list), 0u);
  EXPECT_TRUE(list.empty());
}

TEST(Prepare, DetectFormatAndSaveByExtension) {
  testsupport::ScratchDir dir;
  const std::string jpegBytes = dir.file("photo.data");
  testsupport::WriteBytes(jpegBytes, {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0});
  EXPECT_EQ(DetectFormat(jpegBytes), FORMAT_JPG);
  const std::string pbm = dir.file("page.pbm");
  testsupport::WriteText(pbm, "P1\n1 1\n0\n");
  EXPECT_EQ(DetectFormat(pbm), FORMAT_UNKNOWN);
  EXPECT_EQ(DetectFormat(dir.file("x.TIFF")), FORMAT_TIF);

  CxImage img(2, 2, 1);
  EXPECT_FALSE(SaveByExtension(dir.file("out.xyz"), img));
  EXPECT_TRUE(SaveByExtension(dir.file("out.bmp"), img));
  EXPECT_TRUE(testsupport::Exists(dir.file("out.bmp")));
  CxImage empty;
  EXPECT_FALSE(SaveByExtension(dir.file("empty.bmp"), empty));
}

TEST(Prepare, SplitIntoFramesWritesOneEntryPerFrame) {
  TempCleanup cleanup;
  testsupport::ScratchDir dir;
  const std::string input = dir.file("one.bmp");
  testsupport::WriteBytes(input, GreyRowBmp(3780));
  std::vector<std::string> list;
  // Frames written as BMP here so that the test does not depend on the PNG writer.
  EXPECT_EQ(SplitIntoFrames(input, ".bmp", list), 1u);
  ASSERT_EQ(list.size(), 1u);
  CxImage back;
  ASSERT_TRUE(back.Load(list[0].c_str(), FORMAT_BMP));
  EXPECT_EQ(back.Width(), 4u);
  EXPECT_EQ(back.ColourAt(1, 0).red, 241);
}

}  // namespace

namespace {

// Saves a one-row image through the PNG writer; false when that writer is not available.
bool WritePng(const std::string& path, uint32_t bpp, int32_t dpi) {
  CxImage img(4, 1, bpp, FORMAT_PNG);
  if (bpp == 1) {
    img.SetPaletteEntry(0, 255, 255, 255);  // (white, black)
    img.SetPaletteEntry(1, 0, 0, 0);
    img.PutIndex(0, 0, 1);
  } else {
    img.SetGreyPalette();
    img.PutIndex(0, 0, 241);
    img.PutIndex(1, 0, 240);
  }
  img.SetResolutionX(dpi);
  img.SetResolutionY(dpi);
  return img.Save(path.c_str(), FORMAT_PNG);
}

TEST(PrepareWithPng, ResolutionRulesAndPalette) {
  TempCleanup cleanup;
  testsupport::ScratchDir dir;
  const std::string grey = dir.file("grey.png");
  const std::string bits = dir.file("bits.png");
  if (!WritePng(grey, 8, 5) || !WritePng(bits, 1, 5)) GTEST_SKIP() << "no PNG writer";
  std::vector<std::string> list;
  ASSERT_EQ(PrepareBitonal(grey, ".bmp", list, 240), 1);
  ASSERT_EQ(list.size(), 1u);
  auto b = testsupport::TempBitmapBytes(list[0]);
  EXPECT_EQ(LoadU32LE(&b[38]), 197u);  // the PNG's own 5 dpi survives
  EXPECT_EQ(b[62], 0x80);              // grey 241 white, 240 black

  list.clear();
  ASSERT_EQ(PrepareBitonal(bits, ".bmp", list, 240), 1);
  ASSERT_EQ(list.size(), 1u);
  b = testsupport::TempBitmapBytes(list[0]);
  EXPECT_EQ(LoadU32LE(&b[38]), 11811u);       // corrected to 300 dpi
  EXPECT_EQ(LoadU32LE(&b[54]), 0x00FFFFFFu);  // (white, black) kept
  EXPECT_EQ(b[62], 0x80);                     // the four pixels, padding bits clear every time
}

TEST(PrepareWithPng, FramesAsPngAndMisnamedFiles) {
  TempCleanup cleanup;
  testsupport::ScratchDir dir;
  const std::string input = dir.file("one.bmp");
  testsupport::WriteBytes(input, GreyRowBmp(3780));
  std::vector<std::string> list;
  EXPECT_EQ(SplitIntoFrames(input, ".png", list), 1u);
  ASSERT_EQ(list.size(), 1u);
  CxImage frame;
  if (!frame.Load(list[0].c_str(), FORMAT_PNG)) GTEST_SKIP() << "no PNG codec";
  EXPECT_EQ(frame.ColourAt(1, 0).red, 241);

  // A PNG under a BMP name: the typed BMP attempt fails and the chain finds the PNG decoder.
  const std::string misnamed = dir.file("picture.bmp");
  testsupport::WriteBytes(misnamed, testsupport::ReadBytes(list[0]));
  CxImage img;
  ASSERT_TRUE(img.Load(misnamed.c_str(), FORMAT_BMP));
  EXPECT_EQ(img.FormatType(), FORMAT_PNG);
}

// The first pixel byte of each bitonal BMP that both reductions make of the input (through a
// PNG file of each frame, and every frame in memory); they must agree.
std::vector<int> BitonalFirstBytes(const std::string& input) {
  std::vector<std::string> frames, fromFile, inMemory;
  SplitIntoFrames(input, ".png", frames);
  for (const std::string& frame : frames) EXPECT_EQ(PrepareBitonal(frame, ".bmp", fromFile, 240), 1) << input;
  SplitIntoBitonalFrames(input, ".bmp", inMemory, 240);
  EXPECT_EQ(inMemory.size(), fromFile.size()) << input;
  std::vector<int> bytes;
  for (std::size_t i = 0; i < fromFile.size(); ++i) {
    const auto b = testsupport::TempBitmapBytes(fromFile[i]);
    bytes.push_back(b.size() > 62 ? b[62] : -1);
    if (i < inMemory.size()) {
      EXPECT_EQ(testsupport::TempBitmapBytes(inMemory[i]), b) << input << " frame " << i;
    }
  }
  return bytes;
}

// Clip art keeps black behind its transparent pixels: the split puts the picture over white
// first, so those pixels are background, as a viewer shows them. Rows of four pixels; a set
// bit in the BMP is white.
TEST(PrepareWithPng, TransparentPixelsAreBackground) {
  TempCleanup cleanup;
  testsupport::ScratchDir dir;
  // RGBA: black at alpha 0, 255, 8 (247 over white) and 128 (127 over white).
  CxImage rgba(4, 1, 24, FORMAT_PNG);
  ASSERT_TRUE(rgba.AlphaCreate());
  const uint8_t alphas[4] = {0, 255, 8, 128};
  for (int x = 0; x < 4; ++x) {
    rgba.PutColour(x, 0, RgbQuad{0, 0, 0, 0});
    rgba.AlphaSet(x, 0, alphas[x]);
  }
  const std::string rgbaPng = dir.file("rgba.png");
  if (!rgba.Save(rgbaPng.c_str(), FORMAT_PNG)) GTEST_SKIP() << "no PNG writer";
  EXPECT_EQ(BitonalFirstBytes(rgbaPng), std::vector<int>{0xA0});

  // Palette with alpha values: entry 0 black and clear, entry 1 black and solid.
  CxImage palette(4, 1, 8, FORMAT_PNG);
  palette.SetPaletteEntry(0, 0, 0, 0, 0);
  palette.SetPaletteEntry(1, 0, 0, 0, 255);
  palette.SetPaletteEntry(2, 255, 0, 0, 255);
  palette.AlphaPaletteEnable(true);
  const uint8_t indices[4] = {1, 0, 2, 0};
  for (int x = 0; x < 4; ++x) palette.PutIndex(x, 0, indices[x]);
  const std::string palettePng = dir.file("palette.png");
  ASSERT_TRUE(palette.Save(palettePng.c_str(), FORMAT_PNG));
  EXPECT_EQ(BitonalFirstBytes(palettePng), std::vector<int>{0x50});

  // An animated GIF whose transparent index is black: pixels 1 and 3 are clear in both
  // frames, pixel 0 is ink in both, pixel 2 only in the second.
  giftest::GifBuilder gif;
  gif.Header(4, 1, {0, 0, 0, 0, 0, 0})
      .Control(0x01, 10, 0)
      .Image(0, 0, 4, 1, giftest::PlainImageData(2, {1, 0, 0, 0}))
      .Control(0x01, 10, 0)
      .Image(0, 0, 4, 1, giftest::PlainImageData(2, {1, 0, 1, 0}))
      .Trailer();
  const std::string animated = dir.file("clip.gif");
  testsupport::WriteBytes(animated, gif.Bytes());
  EXPECT_EQ(BitonalFirstBytes(animated), (std::vector<int>{0x70, 0x50}));
}

}  // namespace

// The outline route reduces frames in memory; what potrace gets must be byte for byte what it
// got through a PNG file of each frame, over every good corpus picture of modest size.
TEST(PrepareWithPng, BitonalFramesInMemoryMatchThoseThroughPngFiles) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  int compared = 0;
  for (const char* format : {"bmp", "gif", "jpg", "pcx", "png", "pnm", "tga", "tif"}) {
    const std::string folder = corpus + "/" + format + "/good";
    if (!std::filesystem::is_directory(folder)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
      if (!entry.is_regular_file() || entry.file_size() > 300 * 1024) continue;
      const std::string input = entry.path().string();
      std::vector<std::string> frames, throughFiles, inMemory;
      SplitIntoFrames(input, ".png", frames);
      for (const std::string& frame : frames) {
        std::vector<std::string> one;
        PrepareBitonal(frame, ".bmp", one, 240);
        throughFiles.push_back(one.empty() ? "" : one.front());
      }
      SplitIntoBitonalFrames(input, ".bmp", inMemory, 240);
      ASSERT_EQ(inMemory.size(), throughFiles.size()) << input;
      for (std::size_t i = 0; i < inMemory.size(); ++i) {
        EXPECT_EQ(testsupport::TempBitmapBytes(inMemory[i]), testsupport::TempBitmapBytes(throughFiles[i])) << input << " frame " << i;
      }
      // Let go, so that the next picture's first bitmap is written over one of these, of
      // another size.
      for (const std::string& name : inMemory) ReleaseTempFile(name);
      for (const std::string& name : throughFiles) ReleaseTempFile(name);
      ++compared;
    }
  }
  EXPECT_GT(compared, 100);
  DeleteTempFiles();
}

// A picture read straight to one bit a row at a time, through the whole-picture inflate or
// row by row through the library, gives the bitmap of the whole picture put over white,
// made grey and split pixel by pixel; and PrepareBitonal hands on that bitmap.
TEST(PrepareWithPng, BitonalRowByRowMatchesTheWholePicture) {
  const std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  int compared = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus + "/png/good")) {
    if (!entry.is_regular_file() || entry.path().extension() != ".png") continue;
    const std::string input = entry.path().string();
    const std::vector<uint8_t> bytes = testsupport::ReadBytes(input);
    CxImage grey(FORMAT_UNKNOWN);
    if (!grey.Load(input.c_str(), FORMAT_PNG) || !grey.CompositeOverWhite() || !grey.ConvertToGrey()) continue;
    ASSERT_EQ(grey.Bpp(), 8u) << input;
    for (const bool whole : {true, false}) {
      CxMemStream stream(bytes.data(), bytes.size());
      CxImagePNG rows;
      rows.SetWholePictureReads(whole);
      if (!rows.DecodeBitonal(&stream, 240)) continue;
      ASSERT_EQ(rows.Width(), grey.Width()) << input;
      ASSERT_EQ(rows.Height(), grey.Height()) << input;
      uint64_t wrong = 0;
      for (uint32_t y = 0; y < grey.Height(); ++y) {
        for (uint32_t x = 0; x < grey.Width(); ++x) {
          wrong += (grey.IndexAt(x, y) > 240 ? 1 : 0) != rows.IndexAt(x, y);
        }
      }
      EXPECT_EQ(wrong, 0u) << input << (whole ? " (whole)" : " (rows)");
      EXPECT_EQ(rows.ResolutionX(), grey.ResolutionX()) << input;
      ++compared;
    }
    std::vector<std::string> list;
    ASSERT_EQ(PrepareBitonal(input, ".bmp", list, 240), 1) << input;
    ASSERT_EQ(list.size(), 1u);
    const std::vector<uint8_t> handedBytes = testsupport::TempBitmapBytes(list[0]);
    FILE* handedFile = fmemopen(const_cast<uint8_t*>(handedBytes.data()), handedBytes.size(), "rb");
    ASSERT_NE(handedFile, nullptr);
    CxImage handed(FORMAT_UNKNOWN);
    EXPECT_TRUE(handed.Decode(handedFile, FORMAT_BMP)) << input;
    std::fclose(handedFile);
    EXPECT_EQ(handed.Bpp(), 1u) << input;
    EXPECT_EQ(handed.Width(), grey.Width()) << input;
  }
  EXPECT_GT(compared, 100);
  DeleteTempFiles();
}
