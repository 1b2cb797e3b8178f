#include "image/codecs/tiff/tiff_band.h"

#include <algorithm>
#include <cstring>

#include "image/codecs/tiff/tiff_client.h"
#include "image/core/checked_size.h"

namespace {

uint32_t BitsAt(const uint8_t* data, uint64_t bitOffset, uint16_t count) {
  uint32_t value = 0;
  for (uint16_t i = 0; i < count; ++i) {
    const uint64_t bit = bitOffset + i;
    value = (value << 1) | ((data[bit >> 3] >> (7 - (bit & 7))) & 1u);
  }
  return value;
}

void CopyBits(uint8_t* dst, uint64_t dstBit, const uint8_t* src, uint64_t srcBit,
              uint64_t count) {
  if (((dstBit | srcBit | count) & 7) == 0) {
    memcpy(dst + (dstBit >> 3), src + (srcBit >> 3), static_cast<size_t>(count >> 3));
    return;
  }
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t s = srcBit + i;
    const uint64_t d = dstBit + i;
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (d & 7));
    if ((src[s >> 3] >> (7 - (s & 7))) & 1u) {
      dst[d >> 3] |= mask;
    } else {
      dst[d >> 3] &= static_cast<uint8_t>(~mask);
    }
  }
}

}  // namespace

uint64_t InterleavedRowBytes(const TiffLayout& layout) {
  return (static_cast<uint64_t>(layout.width) * layout.samples * layout.bits + 7) / 8;
}

uint32_t TiffSampleAt(const uint8_t* row, uint64_t index, uint16_t bits) {
  switch (bits) {
    case 8:
      return row[index];
    case 16: {
      uint16_t v;
      memcpy(&v, row + index * 2, 2);
      return v;
    }
    case 24: {
      const uint8_t* p = row + index * 3;
      return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
             (static_cast<uint32_t>(p[2]) << 16);
    }
    case 32: {
      uint32_t v;
      memcpy(&v, row + index * 4, 4);
      return v;
    }
    case 64: {
      uint64_t v;
      memcpy(&v, row + index * 8, 8);
      return static_cast<uint32_t>(v >> 32);
    }
    default:
      return bits < 32 ? BitsAt(row, index * bits, bits) : 0;
  }
}

bool TiffBandReader::Init(TIFF* tif, const TiffLayout& layout) {
  tif_ = tif;
  layout_ = layout;
  separate_ = layout.planar == PLANARCONFIG_SEPARATE && layout.samples > 1;
  uint64_t unitBytes = 0;
  if (layout.tiled) {
    bandRows_ = std::min(layout.tileLength, layout.height);
    unitRowBytes_ = static_cast<uint64_t>(TIFFTileRowSize64(tif));
    unitBytes = static_cast<uint64_t>(TIFFTileSize64(tif));
    if (layout.tileWidth == 0 || layout.tileLength == 0 || unitRowBytes_ == 0) return false;
    // Each tile row must hold tileWidth pixels of our interleaved layout.
    const uint64_t perPixel = separate_ ? layout.bits : static_cast<uint64_t>(layout.bits) *
                                                            layout.samples;
    if (unitRowBytes_ * 8 < static_cast<uint64_t>(layout.tileWidth) * perPixel) return false;
    if (!CheckedSize({unitRowBytes_, layout.tileLength}, unitBytes)) return false;
  } else {
    bandRows_ = std::min(layout.rowsPerStrip, layout.height);
    unitRowBytes_ = static_cast<uint64_t>(TIFFScanlineSize64(tif));
    if (unitRowBytes_ == 0 || !CheckedSize({unitRowBytes_, bandRows_})) return false;
    unitBytes = unitRowBytes_ * bandRows_;
  }
  if (bandRows_ == 0 || unitBytes == 0 || !CheckedSize({unitBytes})) return false;
  const uint64_t planeRowBytes = separate_
                                     ? (static_cast<uint64_t>(layout.width) * layout.bits + 7) / 8
                                     : InterleavedRowBytes(layout);
  if (!layout.tiled && unitRowBytes_ < planeRowBytes) return false;
  pitch_ = std::max(InterleavedRowBytes(layout), separate_ ? InterleavedRowBytes(layout)
                                                           : unitRowBytes_);
  // Room for the 8 bytes a 64-bit sample read may touch at the end of a row.
  pitch_ += 8;
  if (!CheckedSize({pitch_, bandRows_})) return false;
  try {
    band_.assign(static_cast<size_t>(pitch_ * bandRows_), 0);
    scratch_.assign(static_cast<size_t>(unitBytes), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool TiffBandReader::Read(uint32_t first, uint32_t* count) {
  *count = std::min(bandRows_, layout_.height - first);
  std::fill(band_.begin(), band_.end(), 0);
  return layout_.tiled ? ReadTiles(first, *count) : ReadStrips(first, *count);
}

void TiffBandReader::CopyPlaneRow(uint8_t* dst, const uint8_t* src, uint32_t x0,
                                  uint32_t pixels, uint16_t sample) const {
  const uint64_t bits = layout_.bits;
  if (!separate_) {
    const uint64_t perPixel = bits * layout_.samples;
    CopyBits(dst, x0 * perPixel, src, 0, pixels * perPixel);
    return;
  }
  for (uint32_t x = 0; x < pixels; ++x) {
    CopyBits(dst, (static_cast<uint64_t>(x0 + x) * layout_.samples + sample) * bits, src,
             x * bits, bits);
  }
}

bool TiffBandReader::ReadStrips(uint32_t first, uint32_t count) {
  bool ok = true;
  const uint16_t planes = separate_ ? layout_.samples : 1;
  for (uint16_t s = 0; s < planes; ++s) {
    const uint32_t strip = TIFFComputeStrip(tif_, first, s);
    std::fill(scratch_.begin(), scratch_.end(), 0);
    const tmsize_t got = TIFFReadEncodedStrip(tif_, strip, scratch_.data(),
                                              static_cast<tmsize_t>(scratch_.size()));
    if (got < 0) ok = false;
    for (uint32_t r = 0; r < count; ++r) {
      CopyPlaneRow(band_.data() + r * pitch_, scratch_.data() + r * unitRowBytes_, 0,
                   layout_.width, s);
    }
  }
  return ok;
}

bool TiffBandReader::ReadTiles(uint32_t first, uint32_t count) {
  const uint16_t planes = separate_ ? layout_.samples : 1;
  for (uint32_t x0 = 0; x0 < layout_.width; x0 += layout_.tileWidth) {
    const uint32_t pixels = std::min(layout_.tileWidth, layout_.width - x0);
    for (uint16_t s = 0; s < planes; ++s) {
      std::fill(scratch_.begin(), scratch_.end(), 0);
      if (TIFFReadTile(tif_, scratch_.data(), x0, first, 0, s) < 0) return false;
      for (uint32_t r = 0; r < count; ++r) {
        CopyPlaneRow(band_.data() + r * pitch_, scratch_.data() + r * unitRowBytes_, x0,
                     pixels, s);
      }
    }
    if (layout_.width - x0 <= layout_.tileWidth) break;
  }
  return true;
}
