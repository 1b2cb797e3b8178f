#pragma once
// PCX codec: ZSoft paintbrush files, run-length encoded, planar or packed pixels.
#include <cstdint>

#include "image/core/image.h"

class CxImagePCX : public CxImage {
 public:
  CxImagePCX();
  bool Decode(CxStream* stream);
  bool Encode(CxStream* stream);

 private:
  // Both return nullptr on success, otherwise the failure text ("" keeps the text already
  // set, e.g. by Create).
  bool DecodeBody(CxStream* stream);
  bool EncodeBody(CxStream* stream);
};

// The 128-byte file header with its 16-bit fields already in host order.
struct PcxHeader {
  uint8_t manufacturer = 0;
  uint8_t version = 0;
  uint8_t encoding = 0;
  uint8_t bitsPerPixel = 0;
  uint16_t xMin = 0;
  uint16_t yMin = 0;
  uint16_t xMax = 0;
  uint16_t yMax = 0;
  uint16_t hDpi = 0;
  uint16_t vDpi = 0;
  uint8_t colourMap[48] = {};
  uint8_t reserved = 0;
  uint8_t planes = 0;
  uint16_t bytesPerLine = 0;
  uint16_t paletteInfo = 0;
};

constexpr uint32_t kPcxHeaderSize = 128;

PcxHeader ParsePcxHeader(const uint8_t* bytes);           // bytes: kPcxHeaderSize long
void StorePcxHeader(const PcxHeader& header, uint8_t* bytes);  // fills kPcxHeaderSize bytes

// One line of one plane of packed pixels (1, 2, 4 or 8 bits) to one index per byte.
// `pixels` holds bytesPerLine * 8 bytes, `bitPlanes` bytesPerLine bytes. False unless
// planes is 1; other depths write nothing.
bool PCX_UnpackPixels(uint8_t* pixels, const uint8_t* bitPlanes, uint32_t bytesPerLine,
                      uint32_t planes, uint32_t bitsPerPixel);

// One line of up to 4 one-bit planes to one index per byte, plane i giving bit i.
// `pixels` holds bytesPerLine * 8 bytes, `bitPlanes` bytesPerLine * planes bytes.
bool PCX_PlanesToPixels(uint8_t* pixels, const uint8_t* bitPlanes, uint32_t bytesPerLine,
                        uint32_t planes, uint32_t bitsPerPixel);
