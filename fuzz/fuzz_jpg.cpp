// Feeds arbitrary bytes to the JPEG decoder (Exif pre-scan included): the size probe, then
// the full decode when the picture is small, once plainly and once with the option bits.
#include <cstddef>
#include <cstdint>

#include "image/codecs/jpeg/jpeg_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"

// Keeps the pixel reads from being optimised away.
volatile uint32_t g_pixelSink = 0;

namespace {

constexpr uint64_t kMaxArea = 1024u * 1024u;

uint32_t TouchPixels(const CxImage& image) {
  uint32_t sum = 0;
  for (uint32_t y = 0; y < image.Height(); ++y) {
    for (uint32_t x = 0; x < image.Width(); ++x) sum += image.ColourAt(x, y).red;
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    CxMemStream stream(data, size);
    CxImageJPG probe;
    probe.SetEscape(-1);
    if (!probe.Decode(&stream)) return 0;
    if (static_cast<uint64_t>(probe.Width()) * probe.Height() > kMaxArea) return 0;
  }
  CxMemStream stream(data, size);
  CxImageJPG image;
  // The last byte picks the options, so the quantiser and the scaled paths are reached too.
  if (size > 0 && (data[size - 1] & 1) != 0) {
    image.SetCodecOptions((static_cast<uint32_t>(data[size - 1]) << 4) & 0xF80, FORMAT_JPG);
    image.SetJpegQuality(static_cast<float>(8 + (data[size - 1] % 200)));
    image.SetJpegScale(static_cast<uint8_t>(1u << (data[size - 1] % 4)));
  }
  if (!image.Decode(&stream) || !image.IsValid()) return 0;
  g_pixelSink = g_pixelSink + TouchPixels(image);
  if (image.Bpp() == 24 || image.IsGreyRamp()) {
    CxMemStream written;
    image.Encode(&written);
  }
  return 0;
}
