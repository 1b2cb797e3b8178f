#pragma once
// GIF codec.
#include "image/ximage.h"

class CxImageGIF : public CxImage {
 public:
  CxImageGIF();
  bool Decode(CxStream* stream);
  bool Encode(CxStream* stream);
};
