#include "image/ximapng.h"

#include "image/image_format.h"
#include "image/xstream.h"

// Placeholder until the PNG codec lands: decodes and encodes nothing.
CxImagePNG::CxImagePNG() : CxImage(FORMAT_PNG) {}

bool CxImagePNG::Decode(CxStream* stream) {
  if (stream == nullptr) return false;
  SetLastError("Decode: Unknown or wrong format");
  return false;
}

bool CxImagePNG::Encode(CxStream* stream) {
  if (!CheckEncodable(stream)) return false;
  SetLastError("Encode: Unknown format");
  return false;
}
