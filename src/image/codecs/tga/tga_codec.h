#pragma once
// TGA codec: Truevision Targa files, colour-mapped, true-colour or grey, raw or
// run-length encoded.
#include <cstdint>
#include <vector>

#include "image/core/image.h"

// The 18-byte file header with its 16-bit fields already in host order.
struct TgaHeader {
  uint8_t idLength = 0;
  uint8_t colourMapType = 0;
  uint8_t imageType = 0;
  uint16_t colourMapFirst = 0;
  uint16_t colourMapLength = 0;
  uint8_t colourMapEntrySize = 0;
  uint16_t xOrigin = 0;
  uint16_t yOrigin = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t pixelDepth = 0;
  uint8_t descriptor = 0;
};

constexpr uint32_t kTgaHeaderSize = 18;
constexpr uint8_t kTgaRightToLeft = 0x10;
constexpr uint8_t kTgaTopToBottom = 0x20;
// A run-length packet header carried to the next line: none.
constexpr uint8_t kTgaNoLeftover = 255;

TgaHeader ParseTgaHeader(const uint8_t* bytes);           // bytes: kTgaHeaderSize long
void StoreTgaHeader(const TgaHeader& header, uint8_t* bytes);  // fills kTgaHeaderSize bytes

class CxImageTGA : public CxImage {
 public:
  CxImageTGA();
  bool Decode(CxStream* stream);
  bool Encode(CxStream* stream);

 private:
  // Both return nullptr on success, otherwise the failure text.
  bool DecodeBody(CxStream* stream);
  bool EncodeBody(CxStream* stream);
  void ReadColourMap(CxStream* stream, const TgaHeader& header);
  // Pixels x0 .. x0 + n - 1 of picture row `row` (from the bottom), raw.
  void ReadRawPixels(CxStream* stream, uint32_t row, uint32_t x0, uint32_t n, uint32_t depth);
  // One run-length line; takes and returns the packet header carried between lines.
  uint8_t ReadCompressedLine(CxStream* stream, uint32_t row, uint32_t depth, uint8_t leftover);
  void PutPixelValue(uint32_t row, uint32_t x, const uint8_t* value, uint32_t depth);

  std::vector<uint8_t> work_;  // one line of file pixels
};
