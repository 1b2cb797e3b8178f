#pragma once
// WebP codec over libwebp: still pictures, lossy or lossless, with alpha, and animations,
// whose frames are composed on the canvas as a viewer shows them (as GIF frames are).
// Reading only.
#include <cstdint>
#include <vector>

#include "image/core/image.h"

class CxStream;

class CxImageWEBP : public CxImage {
 public:
  CxImageWEBP();
  bool Decode(CxStream* stream);

 private:
  bool DecodeStill(const std::vector<uint8_t>& file, bool alpha);
  bool DecodeAnimation(const std::vector<uint8_t>& file);
  // Creates the picture from a canvas of B, G, R, A bytes, rows from the top.
  bool TakeCanvas(const uint8_t* bgra, uint32_t width, uint32_t height, bool alpha);
};
