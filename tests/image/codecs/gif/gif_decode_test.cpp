// GIF decoding of files built block by block: tables, screen size, interlacing, damaged
// codes, transparency, extensions and the composition of frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/codecs/gif/gif_builder.h"
#include "image/codecs/gif/gif_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"
#include "image/prepare.h"
#include "platform/temp_files.h"
#include "support/test_support.h"

using giftest::GifBuilder;
using giftest::GreyTable;
using giftest::PackCodes;
using giftest::PlainImageData;
using giftest::SizedCode;

namespace {

bool DecodeBytes(const std::vector<uint8_t>& bytes, CxImageGIF& image, int32_t frame = 0) {
  CxMemStream stream(bytes.data(), bytes.size());
  image.SetFrameToLoad(frame);
  return image.Decode(&stream);
}

// Palette index at (x, y) with y counted from the top.
int IndexFromTop(const CxImage& image, uint32_t x, uint32_t y) {
  return image.IndexAt(x, static_cast<int64_t>(image.Height()) - 1 - y);
}

std::vector<int> RowFromTop(const CxImage& image, uint32_t y) {
  std::vector<int> row;
  for (uint32_t x = 0; x < image.Width(); ++x) row.push_back(IndexFromTop(image, x, y));
  return row;
}

const std::vector<uint8_t> kFourColours = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};

TEST(GifDecode, TablesAndScreenSize) {
  {  // No global table: the local one serves, and one image is not a true-colour picture.
    const auto gif = GifBuilder()
                         .Header(2, 1, {})
                         .Image(0, 0, 2, 1, PlainImageData(2, {1, 0}), {10, 20, 30, 40, 50, 60})
                         .Trailer()
                         .Bytes();
    CxImageGIF image;
    ASSERT_TRUE(DecodeBytes(gif, image)) << image.LastErrorText();
    EXPECT_EQ(image.Width(), 2u);
    EXPECT_EQ(image.Bpp(), 1u);
    EXPECT_EQ(image.FrameCount(), 1);
    const RgbQuad left = image.ColourAt(0, 0);
    const RgbQuad right = image.ColourAt(1, 0);
    EXPECT_EQ(left.red, 40);
    EXPECT_EQ(left.blue, 60);
    EXPECT_EQ(right.red, 10);
  }
  {  // A zero screen takes the first image's size; the probe reports it too.
    const auto gif = GifBuilder()
                         .Header(0, 0, GreyTable(4))
                         .Image(0, 0, 3, 2, PlainImageData(2, {0, 1, 2, 3, 2, 1}))
                         .Trailer()
                         .Bytes();
    CxImageGIF image;
    ASSERT_TRUE(DecodeBytes(gif, image));
    EXPECT_EQ(image.Width(), 3u);
    EXPECT_EQ(image.Height(), 2u);
    EXPECT_EQ(RowFromTop(image, 1), (std::vector<int>{3, 2, 1}));
    CxImageGIF probe;
    probe.SetEscape(-1);
    ASSERT_TRUE(DecodeBytes(gif, probe));
    EXPECT_EQ(probe.Width(), 3u);
    EXPECT_EQ(probe.Height(), 2u);
    EXPECT_FALSE(probe.HasPixels());
  }
  {  // An image that overhangs the screen is clipped to it.
    const auto gif = GifBuilder()
                         .Header(2, 2, GreyTable(4))
                         .Image(1, 1, 2, 2, PlainImageData(2, {1, 2, 3, 1}))
                         .Trailer()
                         .Bytes();
    CxImageGIF image;
    ASSERT_TRUE(DecodeBytes(gif, image));
    EXPECT_EQ(image.Width(), 2u);
    EXPECT_EQ(RowFromTop(image, 0), (std::vector<int>{0, 0}));
    EXPECT_EQ(RowFromTop(image, 1), (std::vector<int>{0, 1}));
  }
  {  // No screen can be made beyond the memory limit, whatever the header says.
    const auto gif = GifBuilder()
                         .Header(65535, 65535, GreyTable(256))
                         .Image(0, 0, 1, 1, PlainImageData(8, {7}))
                         .Trailer()
                         .Bytes();
    CxImageGIF image;
    EXPECT_FALSE(DecodeBytes(gif, image));
    EXPECT_STREQ(image.LastErrorText(), "CXIMAGE_MAX_MEMORY exceeded");
  }
  {  // Not a GIF, or a GIF without any image: false.
    CxImageGIF image;
    EXPECT_FALSE(DecodeBytes({'G', 'I', 'F', '9', '9', 'a', 1, 0, 1, 0, 0, 0, 0}, image));
    EXPECT_FALSE(DecodeBytes(GifBuilder().Header(1, 1, GreyTable(2)).Trailer().Bytes(), image));
  }
}

TEST(GifDecode, InterlacedImagesOfHeightOneToNine) {
  for (uint16_t height = 1; height <= 9; ++height) {
    SCOPED_TRACE(height);
    // Line k of the data carries the value k + 1.
    std::vector<uint8_t> lines;
    for (uint16_t k = 0; k < height; ++k) lines.push_back(static_cast<uint8_t>(k + 1));
    const auto gif = GifBuilder()
                         .Header(1, height, GreyTable(16))
                         .Image(0, 0, 1, height, PlainImageData(4, lines), {}, true)
                         .Trailer()
                         .Bytes();
    CxImageGIF image;
    ASSERT_TRUE(DecodeBytes(gif, image));
    std::vector<uint32_t> order;
    for (uint32_t r = 0; r < height; r += 8) order.push_back(r);
    for (uint32_t r = 4; r < height; r += 8) order.push_back(r);
    for (uint32_t r = 2; r < height; r += 4) order.push_back(r);
    for (uint32_t r = 1; r < height; r += 2) order.push_back(r);
    ASSERT_EQ(order.size(), height);
    for (uint32_t k = 0; k < height; ++k) EXPECT_EQ(IndexFromTop(image, 0, order[k]), int(k + 1));
  }
}

TEST(GifDecode, CodesPastTheNextSlotAreReadAsTheOldCode) {
  // Size 2: clear 4, end 5, first free 6. After 1, 2 and 6 the next slot is 8 and codes are
  // 4 bits wide; 12 lies beyond it: the old code's string (1 2) and its first character.
  std::vector<uint8_t> data{2};
  const auto packed = PackCodes({{4, 3}, {1, 3}, {2, 3}, {6, 3}, {12, 4}, {3, 4}, {5, 4}});
  data.insert(data.end(), packed.begin(), packed.end());
  const auto gif = GifBuilder()
                       .Header(8, 1, GreyTable(4))
                       .Image(0, 0, 8, 1, data)
                       .Image(0, 0, 8, 1, PlainImageData(2, {3, 3, 3, 3, 3, 3, 3, 3}))
                       .Trailer()
                       .Bytes();
  CxImageGIF first;
  ASSERT_TRUE(DecodeBytes(gif, first));
  EXPECT_EQ(RowFromTop(first, 0), (std::vector<int>{1, 2, 1, 2, 1, 2, 1, 3}));
  EXPECT_EQ(first.FrameCount(), 2);
  CxImageGIF second;
  ASSERT_TRUE(DecodeBytes(gif, second, 1));
  EXPECT_EQ(RowFromTop(second, 0), (std::vector<int>(8, 3)));

  // A run of codes that only point forward builds a table of cycles; the walk is bounded.
  std::vector<SizedCode> codes{{256, 9}, {1, 9}};
  for (int i = 0; i < 3000; ++i) codes.push_back({static_cast<uint32_t>(4000 - i % 7), 12});
  std::vector<uint8_t> noisy{8};
  const auto noisyPacked = PackCodes(codes);
  noisy.insert(noisy.end(), noisyPacked.begin(), noisyPacked.end());
  CxImageGIF hostile;
  EXPECT_TRUE(DecodeBytes(
      GifBuilder().Header(64, 64, GreyTable(256)).Image(0, 0, 64, 64, noisy).Trailer().Bytes(),
      hostile));
}

TEST(GifDecode, TransparencyWidensTheLocalPaletteTo256) {
  std::vector<uint8_t> local;
  for (int i = 0; i < 16; ++i) local.insert(local.end(), {uint8_t(i * 10), uint8_t(i), 7});
  const auto data = PlainImageData(4, {3, 15, 0, 9});
  CxImageGIF opaque;
  ASSERT_TRUE(DecodeBytes(
      GifBuilder().Header(2, 2, kFourColours).Image(0, 0, 2, 2, data, local).Trailer().Bytes(),
      opaque));
  EXPECT_EQ(opaque.Bpp(), 4u);
  EXPECT_EQ(opaque.TransparentIndex(), -1);

  CxImageGIF image;
  ASSERT_TRUE(DecodeBytes(GifBuilder()
                              .Header(2, 2, kFourColours)
                              .Control(0x01, 0, 3)
                              .Image(0, 0, 2, 2, data, local)
                              .Trailer()
                              .Bytes(),
                          image));
  EXPECT_EQ(image.Bpp(), 8u);
  ASSERT_EQ(image.ColoursUsed(), 256u);
  EXPECT_EQ(image.TransparentIndex(), 3);
  EXPECT_EQ(image.PaletteEntry(15).red, 150);
  for (int i = 16; i < 256; ++i) {
    const RgbQuad c = image.PaletteEntry(static_cast<uint8_t>(i));
    ASSERT_TRUE(c.red == 255 && c.green == 255 && c.blue == 255) << i;
  }
  EXPECT_EQ(RowFromTop(image, 0), (std::vector<int>{3, 15}));
}

TEST(GifDecode, ExtensionsThatEndOrDoNotEndDecoding) {
  const auto one = PlainImageData(2, {1, 2});
  const auto two = PlainImageData(2, {3, 3});
  {  // A control extension whose size byte is not 4 ends decoding; what came before stays.
    const auto gif = GifBuilder()
                         .Header(2, 1, GreyTable(4))
                         .Image(0, 0, 2, 1, one)
                         .Control(0x00, 0, 0, 5)
                         .Image(0, 0, 2, 1, two)
                         .Trailer()
                         .Bytes();
    CxImageGIF image;
    ASSERT_TRUE(DecodeBytes(gif, image));
    EXPECT_EQ(RowFromTop(image, 0), (std::vector<int>{1, 2}));
    EXPECT_EQ(image.FrameCount(), 1);
    CxImageGIF second;
    EXPECT_FALSE(DecodeBytes(gif, second, 1));
  }
  {  // Comments (an empty one included), an unknown extension and the loop count.
    const auto gif = GifBuilder()
                         .Header(2, 1, GreyTable(4))
                         .Raw({0x21, 0xFE, 0x00})
                         .Raw({0x21, 0x01, 0x03, 'a', 'b', 'c', 0x00})
                         .Raw({0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.',
                               '0', 0x03, 0x01, 0x07, 0x01, 0x00})
                         .Comment("hello")
                         .Image(0, 0, 2, 1, one)
                         .Trailer()
                         .Bytes();
    CxImageGIF image;
    ASSERT_TRUE(DecodeBytes(gif, image));
    EXPECT_EQ(RowFromTop(image, 0), (std::vector<int>{1, 2}));
    EXPECT_STREQ(image.Comment(), "hello");
    EXPECT_EQ(image.Loops(), 263);
  }
}

// Three images on a 4x1 screen; every control extension makes index 3 transparent.
// Image 1 covers the screen with 1, image 2 puts 2 2 at x = 1, image 3 puts 0 at x = 3.
std::vector<uint8_t> ThreeFrames(uint8_t firstDisposal, uint8_t secondDisposal) {
  return GifBuilder()
      .Header(4, 1, GreyTable(4))
      .Control(static_cast<uint8_t>(firstDisposal << 2 | 1), 10, 3)
      .Image(0, 0, 4, 1, PlainImageData(2, {1, 1, 1, 1}))
      .Control(static_cast<uint8_t>(secondDisposal << 2 | 1), 20, 3)
      .Image(1, 0, 2, 1, PlainImageData(2, {2, 3}))
      .Control(0x01, 30, 3)
      .Image(3, 0, 1, 1, PlainImageData(2, {0}))
      .Trailer()
      .Bytes();
}

TEST(GifDecode, LaterFramesAreComposedByTheDisposalOfTheFrameBefore) {
  struct Case {
    uint8_t first, second;
    std::vector<int> frame1, frame2;
  };
  const Case cases[] = {
      {1, 1, {1, 2, 1, 1}, {1, 2, 1, 0}},
      {0, 1, {1, 2, 1, 1}, {1, 2, 1, 0}},
      // Disposal 2 fills with the first image's transparent index.
      {2, 2, {3, 2, 3, 3}, {3, 3, 3, 0}},
      // Disposal 3 goes back to the last frame kept (frame 0 here).
      {1, 3, {1, 2, 1, 1}, {1, 1, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + "/" + std::to_string(c.second));
    const auto gif = ThreeFrames(c.first, c.second);
    CxImageGIF frame1;
    ASSERT_TRUE(DecodeBytes(gif, frame1, 1));
    EXPECT_EQ(frame1.FrameCount(), 3);
    EXPECT_EQ(RowFromTop(frame1, 0), c.frame1);
    EXPECT_EQ(frame1.FrameDelay(), 20u);
    EXPECT_EQ(frame1.TransparentIndex(), 3);
    CxImageGIF frame2;
    ASSERT_TRUE(DecodeBytes(gif, frame2, 2));
    EXPECT_EQ(RowFromTop(frame2, 0), c.frame2);
  }
  CxImageGIF beyond;
  EXPECT_FALSE(DecodeBytes(ThreeFrames(1, 1), beyond, 3));
  EXPECT_FALSE(DecodeBytes(ThreeFrames(1, 1), beyond, -1));

  // Reading all frames keeps a copy of each composed frame.
  CxImageGIF all;
  all.SetRetrieveAllFrames(true);
  all.SetFrameToLoad(2);
  const auto gif = ThreeFrames(1, 1);
  CxMemStream stream(gif.data(), gif.size());
  ASSERT_TRUE(all.Decode(&stream));
  ASSERT_EQ(all.FrameArraySize(), 3);
  ASSERT_NE(all.FrameAt(0), nullptr);
  EXPECT_EQ(RowFromTop(*all.FrameAt(0), 0), (std::vector<int>{1, 1, 1, 1}));
  EXPECT_EQ(RowFromTop(*all.FrameAt(1), 0), (std::vector<int>{1, 2, 1, 1}));
  EXPECT_EQ(RowFromTop(*all.FrameAt(2), 0), (std::vector<int>{1, 2, 1, 0}));
}

TEST(GifDecode, PartialImagesWithoutGlobalTableMakeOneTrueColourPicture) {
  const std::vector<uint8_t> red = {200, 0, 0, 0, 0, 0};
  const std::vector<uint8_t> blue = {0, 0, 0, 0, 0, 210};
  const auto gif = GifBuilder()
                       .Header(2, 2, {})
                       .Image(0, 0, 1, 1, PlainImageData(2, {0}), red)
                       .Image(1, 0, 1, 2, PlainImageData(2, {1, 1}), blue)
                       .Image(0, 1, 1, 1, PlainImageData(2, {0}), blue)
                       .Trailer()
                       .Bytes();
  CxImageGIF image;
  ASSERT_TRUE(DecodeBytes(gif, image));
  ASSERT_EQ(image.Bpp(), 24u);
  EXPECT_EQ(image.FrameCount(), 1);
  EXPECT_EQ(image.ColourAt(0, 1).red, 200);   // top left
  EXPECT_EQ(image.ColourAt(1, 1).blue, 210);  // top right
  EXPECT_EQ(image.ColourAt(1, 0).blue, 210);
  EXPECT_EQ(image.ColourAt(0, 0).red, 0);     // third image, entry 0 of its table
}

TEST(GifDecode, DamagedDataEndsWithinBounds) {
  {  // Data that stops without an end code or terminator: what was decoded stays.
    auto data = PlainImageData(2, {1, 2, 3, 1, 2, 3});
    data.resize(data.size() - 3);
    CxImageGIF image;
    ASSERT_TRUE(DecodeBytes(GifBuilder().Header(3, 2, GreyTable(4)).Image(0, 0, 3, 2, data).Bytes(),
                            image));
    EXPECT_EQ(RowFromTop(image, 0), (std::vector<int>{1, 2, 3}));
  }
  {  // More pixels than the image holds, plain and interlaced: the next image still follows.
    for (bool interlaced : {false, true}) {
      const auto gif =
          GifBuilder()
              .Header(2, 2, GreyTable(4))
              .Image(0, 0, 2, 2, PlainImageData(2, std::vector<uint8_t>(600, 2)), {}, interlaced)
              .Image(0, 0, 2, 2, PlainImageData(2, {1, 1, 1, 1}))
              .Trailer()
              .Bytes();
      CxImageGIF image;
      ASSERT_TRUE(DecodeBytes(gif, image));
      EXPECT_EQ(image.FrameCount(), 2);
      EXPECT_EQ(RowFromTop(image, 1), (std::vector<int>{2, 2}));
    }
  }
  // An unusable minimum code size leaves the image blank but decoded: above 11, and below 2
  // even when the codes after it would decode at that size.
  for (const auto& data : {std::vector<uint8_t>{12, 1, 0xFF, 0}, PlainImageData(1, {1, 1})}) {
    CxImageGIF image;
    ASSERT_TRUE(
        DecodeBytes(GifBuilder().Header(2, 1, GreyTable(4)).Image(0, 0, 2, 1, data).Trailer().Bytes(),
                    image));
    EXPECT_EQ(RowFromTop(image, 0), (std::vector<int>{0, 0})) << "minimum code size " << int{data[0]};
  }
  {  // A zero-sized image is a frame that adds nothing to the screen.
    CxImageGIF image;
    ASSERT_TRUE(DecodeBytes(GifBuilder()
                                .Header(2, 1, GreyTable(4))
                                .Control(0x00, 0, 2)
                                .Image(0, 0, 0, 1, PlainImageData(2, {1}))
                                .Trailer()
                                .Bytes(),
                            image));
    EXPECT_EQ(RowFromTop(image, 0), (std::vector<int>{2, 2}));
  }
}

TEST(GifDecode, CancellationAndDispatch) {
  const auto gif = ThreeFrames(1, 1);
  CxImageGIF cancelled;
  cancelled.SetEscape(1);
  EXPECT_FALSE(DecodeBytes(gif, cancelled));

  CxImage image;
  image.SetFrameToLoad(1);
  CxMemStream stream(gif.data(), gif.size());
  ASSERT_TRUE(image.Decode(&stream, FORMAT_GIF));
  EXPECT_EQ(image.FormatType(), FORMAT_GIF);
  EXPECT_EQ(image.FrameCount(), 3);
  EXPECT_EQ(RowFromTop(image, 0), (std::vector<int>{1, 2, 1, 1}));

  CxImage untyped;
  CxMemStream again(gif.data(), gif.size());
  ASSERT_TRUE(untyped.Decode(&again, FORMAT_UNKNOWN));
  EXPECT_EQ(untyped.FormatType(), FORMAT_GIF);
}

TEST(GifDecode, AnAnimationSplitsIntoOneFilePerFrame) {
  struct Cleanup {
    ~Cleanup() { DeleteTempFiles(); }
  } cleanup;
  testsupport::ScratchDir dir;
  const std::string input = dir.file("anim.gif");
  // Every disposal: the split, done in one pass, gives the frames a decode of each one gives.
  const uint8_t disposals[][2] = {{1, 1}, {0, 1}, {2, 2}, {1, 3}};
  for (const auto& d : disposals) {
    SCOPED_TRACE(std::to_string(d[0]) + "/" + std::to_string(d[1]));
    const auto gif = ThreeFrames(d[0], d[1]);
    ASSERT_TRUE(testsupport::WriteBytes(input, gif));
    std::vector<std::string> list;
    // BMP frames keep the test off the PNG writer.
    EXPECT_EQ(SplitIntoFrames(input, ".bmp", list), 3u);
    ASSERT_EQ(list.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      CxImage split;
      ASSERT_TRUE(split.Load(list[static_cast<size_t>(i)].c_str(), FORMAT_BMP)) << i;
      CxImageGIF alone;
      ASSERT_TRUE(DecodeBytes(gif, alone, i));
      std::vector<int> splitGreys, aloneGreys;
      for (uint32_t x = 0; x < 4; ++x) {
        splitGreys.push_back(split.ColourAt(x, 0).red);
        aloneGreys.push_back(alone.ColourAt(x, 0).red);
      }
      EXPECT_EQ(splitGreys, aloneGreys) << i;
    }
  }
}

}  // namespace
