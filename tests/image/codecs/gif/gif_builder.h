#pragma once
// Builds GIF files block by block for the decoder tests, with an LZW writer of its own that
// emits one code per pixel (so that the tests do not lean on the codec's own encoder).
#include <cstdint>
#include <string>
#include <vector>

namespace giftest {

// A code and the width it is written with.
struct SizedCode {
  uint32_t code;
  int bits;
};

// Packs codes least significant bit first into sub-blocks, with the 0 terminator.
std::vector<uint8_t> PackCodes(const std::vector<SizedCode>& codes);

// Minimum code size byte and data for `pixels`: a clear code, one code per pixel (a clear
// again before the code width would grow), and the end code.
std::vector<uint8_t> PlainImageData(int minSize, const std::vector<uint8_t>& pixels);

class GifBuilder {
 public:
  // Header with a global table of rgb triples (none when empty; size rounded up to 2^n).
  GifBuilder& Header(uint16_t width, uint16_t height, const std::vector<uint8_t>& globalRgb,
                     uint8_t background = 0);
  GifBuilder& Control(uint8_t flags, uint16_t delay, uint8_t index, uint8_t size = 4);
  GifBuilder& Comment(const std::string& text);
  GifBuilder& Raw(const std::vector<uint8_t>& bytes);
  // Descriptor, optional local table, then `data` (minimum code size byte and sub-blocks).
  GifBuilder& Image(uint16_t left, uint16_t top, uint16_t width, uint16_t height,
                    const std::vector<uint8_t>& data, const std::vector<uint8_t>& localRgb = {},
                    bool interlaced = false);
  GifBuilder& Trailer();
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Grey ramp of n colours as rgb triples: entry i = (i, i, i).
std::vector<uint8_t> GreyTable(uint32_t n);

}  // namespace giftest
