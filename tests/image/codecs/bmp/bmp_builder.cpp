#include "image/codecs/bmp/bmp_builder.h"

namespace imagetest {

namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> BuildBmp(const BmpLayout& layout) {
  std::vector<uint8_t> info;
  if (layout.headerSize == 12) {
    Put32(info, 12);
    Put16(info, static_cast<uint16_t>(layout.width));
    Put16(info, static_cast<uint16_t>(layout.height));
    Put16(info, layout.planes);
    Put16(info, layout.bitCount);
  } else {
    Put32(info, layout.headerSize);
    Put32(info, static_cast<uint32_t>(layout.width));
    Put32(info, static_cast<uint32_t>(layout.height));
    Put16(info, layout.planes);
    Put16(info, layout.bitCount);
    Put32(info, layout.compression);
    Put32(info, layout.sizeImage);
    Put32(info, static_cast<uint32_t>(layout.xPelsPerMeter));
    Put32(info, static_cast<uint32_t>(layout.yPelsPerMeter));
    Put32(info, layout.clrUsed);
    Put32(info, 0);
    if (layout.headerSize > 40) {
      for (uint32_t m : layout.masks) Put32(info, m);
      while (info.size() < layout.headerSize) info.push_back(0);
    } else {
      for (uint32_t m : layout.masks) Put32(info, m);
    }
  }
  for (const RgbQuad& e : layout.palette) {
    info.push_back(e.blue);
    info.push_back(e.green);
    info.push_back(e.red);
    if (layout.headerSize != 12) info.push_back(e.reserved);
  }
  std::vector<uint8_t> out;
  if (layout.fileHeader) {
    const uint32_t offBits = layout.offBitsOverride >= 0 ? static_cast<uint32_t>(layout.offBitsOverride)
                                                       : static_cast<uint32_t>(14 + info.size());
    out.push_back('B');
    out.push_back('M');
    Put32(out, static_cast<uint32_t>(14 + info.size() + layout.pixels.size()));
    Put32(out, 0);
    Put32(out, offBits);
  }
  out.insert(out.end(), info.begin(), info.end());
  out.insert(out.end(), layout.pixels.begin(), layout.pixels.end());
  return out;
}

std::vector<uint8_t> PadRows(const std::vector<std::vector<uint8_t>>& rows, uint32_t stride) {
  std::vector<uint8_t> out;
  for (const auto& row : rows) {
    std::vector<uint8_t> r = row;
    r.resize(stride, 0);
    out.insert(out.end(), r.begin(), r.end());
  }
  return out;
}

}  // namespace imagetest
