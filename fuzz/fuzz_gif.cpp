// Feeds arbitrary bytes to the GIF decoder: the size probe, the first frame, the last frame
// (which composes every frame before it) when the screen is small, and the writer on what
// was decoded.
#include <cstddef>
#include <cstdint>

#include "image/codecs/gif/gif_codec.h"
#include "image/io/stream.h"

// Keeps the pixel reads from being optimised away.
volatile uint32_t g_pixelSink = 0;

namespace {

constexpr uint64_t kMaxScreen = 512u * 512u;
// Every frame copies the screen a few times: animations (and the writer) on small screens.
constexpr uint64_t kMaxAnimatedScreen = 128u * 128u;

// Reads every stored byte so that a short row or block shows up under the sanitizers.
uint32_t TouchPixels(const CxImage& image) {
  uint32_t sum = 0;
  for (uint32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* row = image.RowPointer(y);
    for (uint32_t i = 0; i < image.Stride(); ++i) sum += row[i];
  }
  const RgbQuad* palette = image.PaletteEntries();
  for (uint32_t i = 0; palette != nullptr && i < image.ColoursUsed(); ++i) sum += palette[i].red;
  return sum;
}

bool DecodeFrame(const uint8_t* data, size_t size, int32_t frame, CxImageGIF& image) {
  CxMemStream stream(data, size);
  image.SetFrameToLoad(frame);
  return image.Decode(&stream) && image.IsValid();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint64_t area = 0;
  {
    CxMemStream stream(data, size);
    CxImageGIF probe;
    probe.SetEscape(-1);
    if (!probe.Decode(&stream)) return 0;
    area = static_cast<uint64_t>(probe.Width()) * probe.Height();
    if (area > kMaxScreen) return 0;
  }
  CxImageGIF first;
  if (!DecodeFrame(data, size, 0, first)) return 0;
  uint32_t sum = TouchPixels(first);
  if (area <= kMaxAnimatedScreen) {
    CxMemStream out;
    first.Encode(&out);
  }
  if (first.FrameCount() > 1 && area <= kMaxAnimatedScreen) {
    CxImageGIF last;
    if (DecodeFrame(data, size, first.FrameCount() - 1, last)) sum += TouchPixels(last);
  }
  g_pixelSink = sum;
  return 0;
}
