// Feeds arbitrary bytes to the PNG decoder: the size probe, the full decode when the picture
// is small, and the encoder with a second decode of what it wrote.
#include "decode_and_touch.h"
#include "image/codecs/png/png_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!SmallEnough<CxImagePNG>(data, size, 1024u * 1024u)) return 0;
  CxMemStream stream(data, size);
  CxImagePNG image;
  if (!image.Decode(&stream) || !image.IsValid()) return 0;
  g_pixelSink = g_pixelSink + TouchColours(image, true);

  CxMemStream written;
  if (!image.Encode(&written)) __builtin_trap();  // every decoded image must be writable
  CxMemStream again(written.Data().data(), written.Data().size());
  CxImagePNG back;
  if (!back.Decode(&again)) __builtin_trap();
  g_pixelSink = g_pixelSink + TouchColours(back, true);
  return 0;
}
