// GIF writing: round trips through our own decoder for every depth and compression choice,
// animations, images above 8 bits, and the writer's refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/codecs/gif/gif_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

// Fills an image of the given depth with pseudo-random indices (runs now and then, so that
// the compressor's table gets long strings as well as short ones).
void FillIndices(CxImage& image, uint32_t seed) {
  std::mt19937 rng(seed);
  const uint32_t colours = image.ColoursUsed();
  for (uint32_t i = 0; i < colours; ++i) {
    image.SetPaletteEntry(static_cast<uint8_t>(i), static_cast<uint8_t>(rng()),
                          static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()));
  }
  uint8_t value = 0;
  for (uint32_t y = 0; y < image.Height(); ++y) {
    for (uint32_t x = 0; x < image.Width(); ++x) {
      if (rng() % 4 == 0) value = static_cast<uint8_t>(rng() % colours);
      image.PutIndex(x, y, value);
    }
  }
}

std::vector<uint8_t> EncodeToBytes(CxImage& image) {
  CxMemStream stream;
  EXPECT_TRUE(image.Encode(&stream, FORMAT_GIF)) << image.LastErrorText();
  return stream.Data();
}

bool DecodeBytes(const std::vector<uint8_t>& bytes, CxImageGIF& image, int32_t frame = 0) {
  CxMemStream stream(bytes.data(), bytes.size());
  image.SetFrameToLoad(frame);
  return image.Decode(&stream);
}

void ExpectSameColours(const CxImage& a, const CxImage& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  for (uint32_t y = 0; y < a.Height(); ++y) {
    for (uint32_t x = 0; x < a.Width(); ++x) {
      const RgbQuad ca = a.ColourAt(x, y);
      const RgbQuad cb = b.ColourAt(x, y);
      ASSERT_TRUE(ca.red == cb.red && ca.green == cb.green && ca.blue == cb.blue)
          << "at " << x << "," << y;
    }
  }
}

void ExpectSameIndices(const CxImage& a, const CxImage& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  ASSERT_EQ(a.Bpp(), b.Bpp());
  for (uint32_t y = 0; y < a.Height(); ++y) {
    for (uint32_t x = 0; x < a.Width(); ++x) {
      ASSERT_EQ(a.IndexAt(x, y), b.IndexAt(x, y)) << "at " << x << "," << y;
    }
  }
}

TEST(GifEncode, PalettedImagesRoundTripAtEveryDepthAndCompression) {
  struct Case {
    uint32_t width, height, bpp;
  };
  // The large one fills the 4096-entry table several times.
  const Case cases[] = {{1, 1, 1}, {37, 23, 1}, {5, 9, 4}, {61, 17, 4}, {64, 64, 8}, {700, 300, 8}};
  for (const Case& c : cases) {
    for (uint32_t option : {0u, 1u, 2u}) {
      SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + "x" +
                   std::to_string(c.bpp) + " option " + std::to_string(option));
      CxImage source(c.width, c.height, c.bpp, FORMAT_GIF);
      FillIndices(source, c.width * 31 + c.bpp);
      source.SetCodecOptions(option, FORMAT_GIF);
      const auto bytes = EncodeToBytes(source);
      ASSERT_GE(bytes.size(), 6u);
      EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF89a");
      EXPECT_EQ(bytes.back(), 0x3B);
      CxImageGIF decoded;
      ASSERT_TRUE(DecodeBytes(bytes, decoded)) << decoded.LastErrorText();
      ExpectSameIndices(source, decoded);
      ExpectSameColours(source, decoded);
    }
  }
}

TEST(GifEncode, TransparencyDelayAndCommentSurvive) {
  CxImage source(4, 3, 8, FORMAT_GIF);
  FillIndices(source, 7);
  source.SetTransparentIndex(5);
  source.SetFrameDelay(42);
  CxImageGIF codec;
  codec.BorrowView(source);
  codec.SetComment("made here");
  CxMemStream stream;
  ASSERT_TRUE(codec.Encode(&stream));
  CxImageGIF decoded;
  ASSERT_TRUE(DecodeBytes(stream.Data(), decoded));
  EXPECT_EQ(decoded.TransparentIndex(), 5);
  EXPECT_EQ(decoded.FrameDelay(), 42u);
  EXPECT_STREQ(decoded.Comment(), "made here");
  for (uint32_t y = 0; y < 3; ++y) {
    for (uint32_t x = 0; x < 4; ++x) {
      EXPECT_EQ(decoded.IndexAt(x, y), source.IndexAt(x, y));
    }
  }
}

TEST(GifEncode, TrueColourImagesKeepEveryColour) {
  {  // Few colours: one paletted image.
    CxImage source(9, 5, 24, FORMAT_GIF);
    for (uint32_t y = 0; y < 5; ++y) {
      for (uint32_t x = 0; x < 9; ++x) source.PutColour(x, y, RgbQuad{uint8_t(x * 20), 0, uint8_t(y * 40), 0});
    }
    CxImageGIF decoded;
    ASSERT_TRUE(DecodeBytes(EncodeToBytes(source), decoded));
    EXPECT_EQ(decoded.Bpp(), 8u);
    ExpectSameColours(source, decoded);
  }
  {  // Thousands of colours: partial images composed back into one true-colour picture.
    CxImage source(150, 70, 24, FORMAT_GIF);
    for (uint32_t y = 0; y < 70; ++y) {
      for (uint32_t x = 0; x < 150; ++x) {
        source.PutColour(x, y, RgbQuad{uint8_t(x), uint8_t(y * 3), uint8_t((x * y) & 0xFF), 0});
      }
    }
    const auto bytes = EncodeToBytes(source);
    CxImageGIF decoded;
    ASSERT_TRUE(DecodeBytes(bytes, decoded)) << decoded.LastErrorText();
    EXPECT_EQ(decoded.Bpp(), 24u);
    EXPECT_EQ(decoded.FrameCount(), 1);
    ExpectSameColours(source, decoded);
  }
}

TEST(GifEncode, AnimationsWriteEveryFrameWithTheLoopExtension) {
  CxImage a(6, 4, 8, FORMAT_GIF);
  CxImage b(3, 2, 4, FORMAT_GIF);
  CxImage c(6, 4, 1, FORMAT_GIF);
  FillIndices(a, 1);
  FillIndices(b, 2);
  FillIndices(c, 3);
  b.SetOffset(2, 1);
  b.SetFrameDelay(15);
  CxImage* frames[] = {&a, &b, &c};
  CxImageGIF codec;
  codec.SetLoops(3);
  CxMemStream stream;
  ASSERT_TRUE(codec.Encode(&stream, frames, 3)) << codec.LastErrorText();
  const auto& bytes = stream.Data();
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("NETSCAPE2.0"), std::string::npos);

  CxImageGIF first;
  ASSERT_TRUE(DecodeBytes(bytes, first, 0));
  EXPECT_EQ(first.FrameCount(), 3);
  EXPECT_EQ(first.Loops(), 3);
  ExpectSameColours(a, first);
  CxImageGIF second;
  ASSERT_TRUE(DecodeBytes(bytes, second, 1));
  EXPECT_EQ(second.FrameDelay(), 15u);
  for (uint32_t y = 0; y < 2; ++y) {
    for (uint32_t x = 0; x < 3; ++x) {
      // b sits at (2, 1) from the top left of a 4-row screen: bottom-up row 1 + y.
      const RgbQuad want = b.ColourAt(x, y);
      const RgbQuad got = second.ColourAt(2 + x, 1 + y);
      EXPECT_TRUE(want.red == got.red && want.green == got.green && want.blue == got.blue);
    }
  }
  CxImageGIF third;
  ASSERT_TRUE(DecodeBytes(bytes, third, 2));
  ExpectSameColours(c, third);

  // An image that carries frames is written as an animation.
  CxImageGIF all;
  all.SetRetrieveAllFrames(true);
  all.SetFrameToLoad(2);
  ASSERT_TRUE(DecodeBytes(bytes, all, 2));
  const auto again = EncodeToBytes(all);
  CxImageGIF reread;
  ASSERT_TRUE(DecodeBytes(again, reread, 1));
  EXPECT_EQ(reread.FrameCount(), 3);
  ExpectSameColours(second, reread);
}

// Accepts the first `room` bytes, then refuses.
class ShortStream : public CxMemStream {
 public:
  explicit ShortStream(size_t room) : room_(room) {}
  size_t Write(const void* buffer, size_t size, size_t count) override {
    if (size * count > room_) return 0;
    room_ -= size * count;
    return CxMemStream::Write(buffer, size, count);
  }

 private:
  size_t room_;
};

TEST(GifEncode, RefusalsAndWriteErrors) {
  CxImageGIF codec;
  CxMemStream stream;
  EXPECT_FALSE(codec.Encode(&stream));
  EXPECT_STREQ(codec.LastErrorText(), "null image!!!");
  EXPECT_FALSE(codec.Encode(&stream, nullptr, 0));
  EXPECT_STREQ(codec.LastErrorText(), "multipage GIF, no images!");

  CxImage paletted(2, 2, 8, FORMAT_GIF);
  CxImage trueColour(2, 2, 24, FORMAT_GIF);
  CxImage* mixed[] = {&paletted, &trueColour};
  EXPECT_FALSE(codec.Encode(&stream, mixed, 2));
  EXPECT_STREQ(codec.LastErrorText(),
               "CxImageGIF::Encode cannot create animated GIFs with a true color frame. Use "
               "DecreaseBpp before");

  CxImage big(70000, 1, 1, FORMAT_GIF);
  ASSERT_TRUE(big.HasPixels());
  CxMemStream bigStream;
  EXPECT_FALSE(big.Encode(&bigStream, FORMAT_GIF));

  CxImage source(50, 50, 8, FORMAT_GIF);
  FillIndices(source, 9);
  for (size_t room : {size_t{0}, size_t{10}, size_t{900}}) {
    ShortStream full(room);
    CxImageGIF writer;
    writer.BorrowView(source);
    EXPECT_FALSE(writer.Encode(&full)) << room;
    EXPECT_STREQ(writer.LastErrorText(), "Write Error in GIF file");
  }
}

}  // namespace
