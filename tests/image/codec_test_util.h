#pragma once
// Helpers for decoder tests that build their files byte by byte.
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

}  // namespace codectest
