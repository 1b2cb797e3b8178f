// Colour reduction: grey conversion, threshold split and depth reduction.
#include <cstring>

#include "image/core/image.h"

namespace {

uint8_t GreyOf(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<uint8_t>((306u * red + 601u * green + 117u * blue) >> 10);
}

uint8_t OverWhite(uint8_t value, uint8_t alpha) {
  return static_cast<uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

RgbQuad ColourOverWhite(RgbQuad c, uint8_t alpha) {
  return RgbQuad{OverWhite(c.blue, alpha), OverWhite(c.green, alpha), OverWhite(c.red, alpha), 0};
}

using Bytes16 = uint8_t __attribute__((vector_size(16)));

Bytes16 Load16(const uint8_t* from) {
  Bytes16 v;
  std::memcpy(&v, from, 16);
  return v;
}

// Eight bytes of a mask (each 0 or 0xFF, the first pixel's first in memory) as one byte with
// the first pixel in its top bit: each byte keeps its own bit, and the multiplication adds
// the eight bytes into the top one.
uint8_t PackMask(const void* eightBytes) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  constexpr uint64_t kBits = 0x0102040810204080ull;
#else
  constexpr uint64_t kBits = 0x8040201008040201ull;
#endif
  uint64_t m;
  std::memcpy(&m, eightBytes, 8);
  return static_cast<uint8_t>(((m & kBits) * 0x0101010101010101ull) >> 56);
}

bool WhitePixel(const uint8_t* src, uint32_t x, const RowGreys& map, uint8_t level) {
  if (map.kind == RowGreys::kBgr || map.kind == RowGreys::kRgb) {
    // grey > level, with grey = (306 r + 601 g + 117 b) >> 10, is the weighted sum reaching
    // (level + 1) << 10.
    const uint8_t* p = src + static_cast<size_t>(x) * 3;
    const uint32_t blue = map.kind == RowGreys::kBgr ? p[0] : p[2];
    const uint32_t red = map.kind == RowGreys::kBgr ? p[2] : p[0];
    return 117u * blue + 601u * p[1] + 306u * red >= (uint32_t{level} + 1) << 10;
  }
  return (map.kind == RowGreys::kIndexed ? map.greys[src[x]] : src[x]) > level;
}

}  // namespace

// Runs of eight pixels whose bytes are all above the level, or none, are white or black
// whatever their weights; the others are weighed pixel by pixel.
void SplitRow(const uint8_t* src, uint32_t width, const RowGreys& map, uint8_t level, uint8_t* bits) {
  const uint32_t whole = width & ~7u;
  uint32_t x = 0;
  if (map.kind == RowGreys::kGrey) {
    for (; x + 16 <= whole; x += 16) {
      const Bytes16 white = Load16(src + x) > level;
      bits[x >> 3] = PackMask(&white);
      bits[(x >> 3) + 1] = PackMask(reinterpret_cast<const uint8_t*>(&white) + 8);
    }
  } else if (map.kind == RowGreys::kBgr || map.kind == RowGreys::kRgb) {
    for (; x < whole; x += 8) {
      const uint8_t* p = src + static_cast<size_t>(x) * 3;
      const Bytes16 a = Load16(p) > level;
      const Bytes16 b = Load16(p + 8) > level;
      const Bytes16 all = a & b;
      const Bytes16 any = a | b;
      uint64_t words[4];
      std::memcpy(words, &all, 16);
      std::memcpy(words + 2, &any, 16);
      if ((words[0] & words[1]) == ~uint64_t{0}) {
        bits[x >> 3] = 0xFF;
      } else if ((words[2] | words[3]) == 0) {
        bits[x >> 3] = 0;
      } else {
        unsigned byte = 0;
        for (uint32_t k = 0; k < 8; ++k) byte = (byte << 1) | WhitePixel(src, x + k, map, level);
        bits[x >> 3] = static_cast<uint8_t>(byte);
      }
    }
  }
  for (; x < width; x += 8) {
    unsigned byte = 0;
    for (uint32_t at = x; at < x + 8; ++at) byte = (byte << 1) | (at < width && WhitePixel(src, at, map, level));
    bits[x >> 3] = static_cast<uint8_t>(byte);
  }
}



bool CxImage::CompositeOverWhite() {
  if (dib == nullptr) return false;
  const bool palette = head.biClrUsed != 0;
  const int32_t transparent = palette ? info.transparentIndex : -1;
  const bool paletteAlpha = palette && info.alphaPalette;
  if (alphaPlane == nullptr) {
    if (transparent < 0 && !paletteAlpha) return true;
    RgbQuad* entries = PaletteEntries();
    for (uint32_t i = 0; i < head.biClrUsed; ++i) {
      uint8_t alpha = paletteAlpha ? entries[i].reserved : 255;
      if (static_cast<int64_t>(i) == transparent) alpha = 0;
      entries[i] = ColourOverWhite(entries[i], alpha);
    }
    info.alphaPalette = false;
    SetTransparentIndex(-1);
    return true;
  }
  const uint32_t w = Width();
  const uint32_t h = Height();
  if (!palette) {
    for (uint32_t y = 0; y < h; ++y) {
      uint8_t* p = RowPointer(y);
      for (uint32_t x = 0; x < w; ++x, p += 3) {
        const uint8_t alpha = AlphaGetUnchecked(x, y);
        if (alpha == 255) continue;
        p[0] = OverWhite(p[0], alpha);
        p[1] = OverWhite(p[1], alpha);
        p[2] = OverWhite(p[2], alpha);
      }
    }
    AlphaDelete();
    return true;
  }
  CxImage flat;
  flat.CopyAttributes(*this);
  if (flat.Create(w, h, 24, FormatType()) == nullptr) return Fail(flat.LastErrorText());
  for (uint32_t y = 0; y < h; ++y) {
    uint8_t* p = flat.RowPointer(y);
    for (uint32_t x = 0; x < w; ++x, p += 3) {
      const uint8_t index = IndexAtUnchecked(x, y);
      const RgbQuad c = PaletteEntry(index);
      // The plane's value holds, as the second method reads it.
      uint8_t alpha = AlphaGetUnchecked(x, y);
      if (index == transparent) alpha = 0;
      p[0] = OverWhite(c.blue, alpha);
      p[1] = OverWhite(c.green, alpha);
      p[2] = OverWhite(c.red, alpha);
    }
  }
  flat.SetTransparentIndex(-1);
  flat.AlphaPaletteEnable(false);
  return TakeOver(flat, false);
}

bool CxImage::ConvertToGrey() {
  if (dib == nullptr) return false;
  const uint32_t w = Width();
  const uint32_t h = Height();
  const bool rgb = Bpp() == 24;
  RgbQuad* pal = nullptr;
  if (!rgb) {
    // Palette images go through their palette: each entry's grey value, kept in its blue byte.
    pal = PaletteEntries();
    if (pal == nullptr) return false;
    for (uint32_t i = 0; i < ColoursUsed(); ++i) pal[i].blue = GreyOf(pal[i].red, pal[i].green, pal[i].blue);
    info.cacheValid = false;
    if (info.transparentIndex >= 0 && static_cast<uint32_t>(info.transparentIndex) < ColoursUsed())
      info.transparentIndex = pal[info.transparentIndex].blue;

    if (Bpp() == 8) {
      // A grey ramp maps every index onto itself: nothing to rewrite.
      if (IsGreyRamp()) return true;
      uint8_t* p = info.pixels;
      for (uint32_t i = 0; i < ImageSize(); ++i) p[i] = pal[p[i]].blue;
      SetGreyPalette();
      return true;
    }
  }

  CxImage grey;
  grey.CopyAttributes(*this);
  if (grey.Create(w, h, 8, FormatType()) == nullptr) return false;
  grey.SetGreyPalette();
  if (selectionPlane != nullptr) grey.SelectionCopy(*this);
  if (alphaPlane != nullptr) grey.AlphaCopy(*this);
  for (uint32_t y = 0; y < h; ++y) {
    uint8_t* dst = grey.RowPointer(y);
    if (rgb) {
      const uint8_t* src = RowPointer(y);
      for (uint32_t x = 0; x < w; ++x, src += 3) dst[x] = GreyOf(src[2], src[1], src[0]);
    } else {
      for (uint32_t x = 0; x < w; ++x) dst[x] = pal[IndexAtUnchecked(x, y)].blue;
    }
  }
  return TakeOver(grey, true);
}

bool CxImage::ApplyThreshold(uint8_t level) {
  if (dib == nullptr) return false;
  if (Bpp() == 1) return true;
  // Other depths are made grey first; 24-bit and 256-colour rows are split straight from
  // their colours, with the grey values ConvertToGrey would give.
  RowGreys map;
  if (!GreyMap(map) && (!ConvertToGrey() || Bpp() != 8 || !GreyMap(map))) return false;
  const uint32_t w = Width();
  const uint32_t h = Height();
  CxImage bitonal(w, h, 1, 0);
  if (!bitonal.HasPixels()) return Fail(bitonal.LastErrorText());
  for (uint32_t y = 0; y < h; ++y) {
    info.progress = static_cast<int32_t>(100 * static_cast<uint64_t>(y) / h);
    if (info.escape != 0) break;
    SplitRow(RowPointer(y), w, map, level, bitonal.RowPointer(y));
  }
  bitonal.SetPaletteEntry(0, 0, 0, 0, 0);
  bitonal.SetPaletteEntry(1, 255, 255, 255, 0);
  return TakeOver(bitonal, true);
}

bool CxImage::GreyMap(RowGreys& map) const {
  if (dib == nullptr) return false;
  if (Bpp() == 24) {
    map.kind = RowGreys::kBgr;
    return true;
  }
  const RgbQuad* pal = PaletteEntries();
  if (Bpp() != 8 || pal == nullptr || ColoursUsed() != 256) return false;
  // A grey ramp keeps its indices, as ConvertToGrey leaves it.
  map.kind = RowGreys::kGrey;
  for (uint32_t i = 0; i < 256; ++i) {
    map.greys[i] = GreyOf(pal[i].red, pal[i].green, pal[i].blue);
    if (map.greys[i] != i || pal[i].green != i || pal[i].red != i) map.kind = RowGreys::kIndexed;
  }
  return true;
}

bool CxImage::GreysOfRows(RowGreys& map) const {
  const bool transparent = alphaPlane != nullptr || info.alphaPalette || (head.biClrUsed != 0 && info.transparentIndex >= 0);
  return !transparent && GreyMap(map);
}

bool CxImage::DecreaseBpp(uint32_t bpp, bool /*errorDiffusion*/, const RgbQuad* palette,
                          uint32_t coloursImportant) {
  if (dib == nullptr) return false;
  if (Bpp() < bpp) return Fail("DecreaseBpp: target BPP greater than source BPP");
  if (Bpp() == bpp) {
    if (coloursImportant == 0) return true;
    if (head.biClrImportant != 0 && head.biClrImportant < coloursImportant) return true;
  }
  const uint32_t w = Width();
  const uint32_t h = Height();
  CxImage reduced;
  reduced.CopyAttributes(*this);
  reduced.Create(w, h, bpp, FormatType());
  if (!reduced.HasPixels()) return Fail(reduced.LastErrorText());
  if (coloursImportant != 0) reduced.SetColoursImportant(coloursImportant);
  if (selectionPlane != nullptr) reduced.SelectionCopy(*this);
  if (alphaPlane != nullptr) reduced.AlphaCopy(*this);
  if (palette != nullptr) reduced.ReplacePalette(palette, reduced.ColoursUsed());
  else if (reduced.Bpp() == 1) reduced.SetStandardPalette();
  else reduced.SetGreyPalette();

  const bool paletted = ColoursUsed() != 0;
  for (uint32_t y = 0; y < h; ++y) {
    info.progress = static_cast<int32_t>(100 * static_cast<uint64_t>(y) / h);
    if (info.escape != 0) break;
    const uint8_t* row = RowPointer(y);
    for (uint32_t x = 0; x < w; ++x) {
      RgbQuad c;
      if (paletted) c = PaletteEntry(IndexAtUnchecked(x, y));
      else c = RgbQuad{row[3 * size_t{x}], row[3 * size_t{x} + 1], row[3 * size_t{x} + 2], 0};
      reduced.PutIndexUnchecked(x, y, reduced.NearestIndex(c));
    }
  }
  return TakeOver(reduced, true);
}
