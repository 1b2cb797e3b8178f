#pragma once
// BMP codec: every info-header variant, RLE8/RLE4, bit fields; writes uncompressed files
// (32-bit with alpha when the image has an alpha plane and no palette).
#include <cstdint>

#include "image/core/image.h"

class CxStream;

constexpr uint16_t kBmpSignature = 0x4D42;  // "BM"
constexpr uint32_t kBmpUncompressed = 0;    // biCompression of plain rows

// The 14-byte file header, fields in file order.
struct BitmapFileHeader {
  uint16_t bfType = 0;
  uint32_t bfSize = 0;
  uint16_t bfReserved1 = 0;
  uint16_t bfReserved2 = 0;
  uint32_t bfOffBits = 0;
};

class CxImageBMP : public CxImage {
 public:
  CxImageBMP();
  bool Decode(CxStream* stream);
  bool Encode(CxStream* stream);

  // Reads and normalises an info header of any supported size; false when rejected.
  static bool ReadBitmapInfo(CxStream* stream, BitmapInfoHeader* header);

 protected:
  void BitfieldsToRgb(const uint8_t* source, uint64_t sourceSize, uint32_t redMask,
                      uint32_t greenMask, uint32_t blueMask, uint32_t bits);
  // Run-length data of `bits` 8 (RLE8) or 4 (RLE4): a count byte and a value byte make a run;
  // a zero count and a code byte an escape: 0 ends the row, 1 the picture, 2 moves right
  // and up by the next two bytes, and a larger code n is followed by n pixels, their bytes
  // padded to an even count.
  void DecodeRle(CxStream* stream, uint32_t bits);
  void ReadPalette(CxStream* stream, uint32_t count, bool coreHeader);
  bool DecodeBody(CxStream* stream);
  static void SerializeInfoHeader(const BitmapInfoHeader& header, uint8_t out[40]);
};
