#pragma once
// Helpers for codec tests that build their files byte by byte or round-trip an image.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/core/image.h"
#include "image/io/stream.h"

namespace codectest {

using Bytes = std::vector<uint8_t>;

struct Result {
  bool ok;
  std::string message;
};

template <class Codec>
Result Decode(const Bytes& file, Codec& image, int32_t escape = 0) {
  CxMemStream s(file.data(), file.size());
  image.SetEscape(escape);
  const bool ok = image.Decode(&s);
  return {ok, image.LastErrorText()};
}

// The decoder's message, or "(decoded)" when it succeeded.
template <class Codec>
std::string Fails(const Bytes& file, int32_t escape = 0) {
  Codec image;
  const Result r = Decode(file, image, escape);
  return r.ok ? "(decoded)" : r.message;
}

// Colour with alpha of picture pixel (x, t), t counted from the top.
inline RgbQuad At(const CxImage& image, uint32_t x, uint32_t t) {
  return image.ColourAt(x, image.Height() - 1 - t, true);
}

inline void ExpectRgb(const RgbQuad& c, int r, int g, int b) {
  EXPECT_EQ(c.red, r);
  EXPECT_EQ(c.green, g);
  EXPECT_EQ(c.blue, b);
}

// A small image of the given depth with a recognisable palette, pixels and alpha.
inline void Fill(CxImage& image, uint32_t w, uint32_t h, uint32_t bpp, bool alpha = false) {
  ASSERT_NE(image.Create(w, h, bpp), nullptr);
  for (uint32_t i = 0; i < image.ColoursUsed(); ++i) {
    image.SetPaletteEntry(static_cast<uint8_t>(i), static_cast<uint8_t>(i * 7),
                          static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 3));
  }
  if (alpha) {
    ASSERT_TRUE(image.AlphaCreate());
  }
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const uint32_t v = x * 31 + y * 17 + (x * y) % 5;
      if (image.ColoursUsed() != 0) {
        image.PutIndex(x, y, static_cast<uint8_t>(v % image.ColoursUsed()));
      } else {
        image.PutColour(x, y, RgbQuad{uint8_t(v), uint8_t(v * 3), uint8_t(v / 2), 0});
      }
      if (alpha) image.AlphaSet(x, y, static_cast<uint8_t>(v * 11));
    }
  }
}

inline Bytes EncodeAs(CxImage& image, uint32_t format) {
  CxMemStream out;
  EXPECT_TRUE(image.Encode(&out, format)) << image.LastErrorText();
  return out.Data();
}

template <class Codec>
void ExpectSameColours(const CxImage& original, const Bytes& file) {
  CxMemStream in(file.data(), file.size());
  Codec back;
  ASSERT_TRUE(back.Decode(&in)) << back.LastErrorText();
  ASSERT_EQ(back.Width(), original.Width());
  ASSERT_EQ(back.Height(), original.Height());
  EXPECT_EQ(back.HasAlpha(), original.HasAlpha());
  for (uint32_t y = 0; y < original.Height(); ++y) {
    for (uint32_t x = 0; x < original.Width(); ++x) {
      ASSERT_EQ(back.ColourAt(x, y, true), original.ColourAt(x, y, true)) << x << "," << y;
    }
  }
}

}  // namespace codectest
