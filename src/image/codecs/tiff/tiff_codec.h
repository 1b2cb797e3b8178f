#pragma once
// TIFF codec over libtiff.
#include <cstdint>
#include <vector>

#include "image/core/image.h"

struct tiff;
struct TiffLayout;
class TiffBandReader;

// Whether a directory's samples are of a kind the RGBA reader cannot deliver (floating
// point, 16-bit CMYK), read by the codec itself.
bool TiffNeedsWideSamples(const TiffLayout& layout, uint16_t sampleFormat);

class CxImageTIF : public CxImage {
 public:
  CxImageTIF();
  bool Decode(CxStream* stream);
  // Writes this image as a one-page file.
  bool Encode(CxStream* stream);
  // Writes `count` images as the pages of one file, in order.
  bool EncodePages(CxStream* stream, CxImage* const* pages, int32_t count);

 private:
  bool DecodeDirectory(tiff* tif);
  bool DecodeRgba(tiff* tif, const TiffLayout& layout);
  bool DecodeSamples(tiff* tif, const TiffLayout& layout);
  bool DecodeWideSamples(tiff* tif, const TiffLayout& layout);
  bool FillPalette(tiff* tif, const TiffLayout& layout, std::vector<RgbQuad>& large);
  void StoreRow(const TiffLayout& layout, const uint8_t* src, uint32_t pictureRow,
                bool fromTiles, const std::vector<RgbQuad>& large, std::vector<uint8_t>& rowShift);
  void StoreLabRow(const TiffLayout& layout, const uint8_t* src, uint32_t pictureRow);
  void EqualiseRowScales(const std::vector<uint8_t>& rowShift);
};
