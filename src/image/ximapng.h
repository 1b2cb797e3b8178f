#pragma once
// PNG codec.
#include "image/ximage.h"

class CxImagePNG : public CxImage {
 public:
  CxImagePNG();
  bool Decode(CxStream* stream);
  bool Encode(CxStream* stream);
};
