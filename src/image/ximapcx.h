#pragma once
// PCX codec.
#include "image/ximage.h"

class CxImagePCX : public CxImage {
 public:
  CxImagePCX();
  bool Decode(CxStream* stream);
  bool Encode(CxStream* stream);
};
