#include "image/ximajpg.h"

#include "image/image_format.h"
#include "image/xstream.h"

// Placeholder until the JPEG codec lands: decodes and encodes nothing.
CxImageJPG::CxImageJPG() : CxImage(FORMAT_JPG) {}

bool CxImageJPG::Decode(CxStream* stream) {
  if (stream == nullptr) return false;
  SetLastError("Decode: Unknown or wrong format");
  return false;
}

bool CxImageJPG::Encode(CxStream* stream) {
  if (!CheckEncodable(stream)) return false;
  SetLastError("Encode: Unknown format");
  return false;
}
