// Feeds arbitrary bytes to the JPEG decoder (Exif pre-scan included): the size probe, then
// the full decode when the picture is small, once plainly and once with the option bits.
#include "decode_and_touch.h"
#include "image/codecs/jpeg/jpeg_codec.h"
#include "image/io/format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!SmallEnough<CxImageJPG>(data, size, 1024u * 1024u)) return 0;
  CxMemStream stream(data, size);
  CxImageJPG image;
  // The last byte picks the options, so the quantiser and the scaled paths are reached too.
  if (size > 0 && (data[size - 1] & 1) != 0) {
    image.SetCodecOptions((static_cast<uint32_t>(data[size - 1]) << 4) & 0xF80, FORMAT_JPG);
    image.SetJpegQuality(static_cast<float>(8 + (data[size - 1] % 200)));
    image.SetJpegScale(static_cast<uint8_t>(1u << (data[size - 1] % 4)));
  }
  if (!image.Decode(&stream) || !image.IsValid()) return 0;
  g_pixelSink = g_pixelSink + TouchColours(image, false);
  if (image.Bpp() == 24 || image.IsGreyRamp()) {
    CxMemStream written;
    image.Encode(&written);
  }
  return 0;
}
