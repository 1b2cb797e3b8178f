#include "image/ximapcx.h"

#include "image/image_format.h"
#include "image/xstream.h"

// Placeholder until the PCX codec lands: decodes and encodes nothing.
CxImagePCX::CxImagePCX() : CxImage(FORMAT_PCX) {}

bool CxImagePCX::Decode(CxStream* stream) {
  if (stream == nullptr) return false;
  SetLastError("Decode: Unknown or wrong format");
  return false;
}

bool CxImagePCX::Encode(CxStream* stream) {
  if (!CheckEncodable(stream)) return false;
  SetLastError("Encode: Unknown format");
  return false;
}
