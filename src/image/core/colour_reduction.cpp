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

}  // namespace

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
  if (Bpp() == 24) {
    CxImage grey;
    grey.CopyAttributes(*this);
    if (grey.Create(w, h, 8, FormatType()) == nullptr) return false;
    grey.SetGreyPalette();
    if (selectionPlane != nullptr) grey.SelectionCopy(*this);
    if (alphaPlane != nullptr) grey.AlphaCopy(*this);
    for (uint32_t y = 0; y < h; ++y) {
      const uint8_t* src = RowPointer(y);
      uint8_t* dst = grey.RowPointer(y);
      for (uint32_t x = 0; x < w; ++x, src += 3) dst[x] = GreyOf(src[2], src[1], src[0]);
    }
    return TakeOver(grey, true);
  }

  // Palette images go through their palette: each entry's grey value, kept in its blue byte.
  RgbQuad* pal = PaletteEntries();
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

  CxImage grey;
  grey.CopyAttributes(*this);
  if (grey.Create(w, h, 8, FormatType()) == nullptr) return false;
  grey.SetGreyPalette();
  if (selectionPlane != nullptr) grey.SelectionCopy(*this);
  if (alphaPlane != nullptr) grey.AlphaCopy(*this);
  for (uint32_t y = 0; y < h; ++y) {
    uint8_t* dst = grey.RowPointer(y);
    for (uint32_t x = 0; x < w; ++x) dst[x] = pal[IndexAtUnchecked(x, y)].blue;
  }
  return TakeOver(grey, true);
}

bool CxImage::ApplyThreshold(uint8_t level) {
  if (dib == nullptr) return false;
  if (Bpp() == 1) return true;
  // Without the grey image the split below would read colour bytes as grey values.
  if (!ConvertToGrey() || Bpp() != 8) return false;
  const uint32_t w = Width();
  const uint32_t h = Height();
  CxImage bitonal(w, h, 1, 0);
  if (!bitonal.HasPixels()) return Fail(bitonal.LastErrorText());
  for (uint32_t y = 0; y < h; ++y) {
    info.progress = static_cast<int32_t>(100 * static_cast<uint64_t>(y) / h);
    if (info.escape != 0) break;
    const uint8_t* src = RowPointer(y);
    uint8_t* dst = bitonal.RowPointer(y);
    // Eight pixels to a byte, most significant bit first, without a branch per pixel.
    const uint32_t whole = w & ~7u;
    for (uint32_t x = 0; x < whole; x += 8) {
      unsigned byte = 0;
      for (uint32_t k = 0; k < 8; ++k) byte = (byte << 1) | (src[x + k] > level ? 1u : 0u);
      dst[x >> 3] = static_cast<uint8_t>(byte);
    }
    for (uint32_t x = whole; x < w; ++x) {
      if (src[x] > level) dst[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  bitonal.SetPaletteEntry(0, 0, 0, 0, 0);
  bitonal.SetPaletteEntry(1, 255, 255, 255, 0);
  return TakeOver(bitonal, true);
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
