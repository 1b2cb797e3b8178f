// Feeds arbitrary bytes to the GIF decoder: the size probe, the first frame, the last frame
// (which composes every frame before it) when the screen is small, and the writer on what
// was decoded.
#include "decode_and_touch.h"
#include "image/codecs/gif/gif_codec.h"

namespace {

constexpr uint64_t kMaxScreen = 512u * 512u;
// Every frame copies the screen a few times: animations (and the writer) on small screens.
constexpr uint64_t kMaxAnimatedScreen = 128u * 128u;

bool DecodeFrame(const uint8_t* data, size_t size, int32_t frame, CxImageGIF& image) {
  CxMemStream stream(data, size);
  image.SetFrameToLoad(frame);
  return image.Decode(&stream) && image.IsValid();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!SmallEnough<CxImageGIF>(data, size, kMaxScreen)) return 0;
  CxImageGIF first;
  if (!DecodeFrame(data, size, 0, first)) return 0;
  const bool small = static_cast<uint64_t>(first.Width()) * first.Height() <= kMaxAnimatedScreen;
  uint32_t sum = TouchRows(first);
  if (small) {
    CxMemStream out;
    first.Encode(&out);
  }
  if (first.FrameCount() > 1 && small) {
    CxImageGIF last;
    if (DecodeFrame(data, size, first.FrameCount() - 1, last)) sum += TouchRows(last);
  }
  g_pixelSink = sum;
  return 0;
}
