// Feeds arbitrary bytes to the PCX decoder.
#include "decode_and_touch.h"
#include "image/codecs/pcx/pcx_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return DecodeAndTouch<CxImagePCX>(data, size, 512u * 512u);
}
