#include "image/ximatga.h"

#include "image/image_format.h"
#include "image/xstream.h"

// Placeholder until the TGA codec lands: decodes and encodes nothing.
CxImageTGA::CxImageTGA() : CxImage(FORMAT_TGA) {}

bool CxImageTGA::Decode(CxStream* stream) {
  if (stream == nullptr) return false;
  SetLastError("Decode: Unknown or wrong format");
  return false;
}

bool CxImageTGA::Encode(CxStream* stream) {
  if (!CheckEncodable(stream)) return false;
  SetLastError("Encode: Unknown format");
  return false;
}
