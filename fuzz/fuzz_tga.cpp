// Feeds arbitrary bytes to the TGA decoder.
#include "decode_and_touch.h"
#include "image/codecs/tga/tga_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return DecodeAndTouch<CxImageTGA>(data, size, 512u * 512u);
}
