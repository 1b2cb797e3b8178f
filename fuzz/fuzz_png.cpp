// Feeds arbitrary bytes to the PNG decoder: the size probe, the full decode when the picture
// is small, and the encoder with a second decode of what it wrote.
#include <cstddef>
#include <cstdint>

#include "image/codecs/png/png_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"

// Keeps the pixel reads from being optimised away.
volatile uint32_t g_pixelSink = 0;

namespace {

constexpr uint64_t kMaxArea = 1024u * 1024u;

uint32_t TouchPixels(const CxImage& image) {
  uint32_t sum = 0;
  for (uint32_t y = 0; y < image.Height(); ++y) {
    for (uint32_t x = 0; x < image.Width(); ++x) sum += image.ColourAt(x, y, true).red;
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    CxMemStream stream(data, size);
    CxImagePNG probe;
    probe.SetEscape(-1);
    if (!probe.Decode(&stream)) return 0;
    if (static_cast<uint64_t>(probe.Width()) * probe.Height() > kMaxArea) return 0;
  }
  CxMemStream stream(data, size);
  CxImagePNG image;
  if (!image.Decode(&stream) || !image.IsValid()) return 0;
  g_pixelSink = g_pixelSink + TouchPixels(image);

  CxMemStream written;
  if (!image.Encode(&written)) __builtin_trap();  // every decoded image must be writable
  CxMemStream again(written.Data().data(), written.Data().size());
  CxImagePNG back;
  if (!back.Decode(&again)) __builtin_trap();
  g_pixelSink = g_pixelSink + TouchPixels(back);
  return 0;
}
