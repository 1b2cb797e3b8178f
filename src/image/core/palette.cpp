#include <algorithm>
#include <cstring>

#include "image/core/image.h"

RgbQuad* CxImage::PaletteEntries() const {
  if (dib == nullptr || head.biClrUsed == 0) return nullptr;
  return reinterpret_cast<RgbQuad*>(dib + sizeof(BitmapInfoHeader));
}

void CxImage::SetPaletteEntry(uint8_t index, uint8_t red, uint8_t green, uint8_t blue,
                              uint8_t alpha) {
  RgbQuad* pal = PaletteEntries();
  if (pal == nullptr || index >= head.biClrUsed) return;
  pal[index] = RgbQuad{blue, green, red, alpha};
  info.cacheValid = false;
}

void CxImage::SetPaletteEntry(uint8_t index, RgbQuad colour) {
  SetPaletteEntry(index, colour.red, colour.green, colour.blue, colour.reserved);
}

RgbQuad CxImage::PaletteEntry(uint8_t index) const {
  const RgbQuad* pal = PaletteEntries();
  if (pal == nullptr || index >= head.biClrUsed) return RgbQuad{};
  return pal[index];
}

void CxImage::ReplacePalette(const RgbQuad* entries, uint32_t count) {
  RgbQuad* pal = PaletteEntries();
  if (pal == nullptr || entries == nullptr) return;
  const uint32_t n = std::min(count, head.biClrUsed);
  std::memcpy(pal, entries, static_cast<size_t>(n) * sizeof(RgbQuad));
  info.cacheValid = false;
}

void CxImage::ReplacePalette(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                             uint32_t count) {
  RgbQuad* pal = PaletteEntries();
  if (pal == nullptr || red == nullptr || green == nullptr || blue == nullptr) return;
  const uint32_t n = std::min(count, head.biClrUsed);
  for (uint32_t i = 0; i < n; ++i) pal[i] = RgbQuad{blue[i], green[i], red[i], 0};
  info.cacheValid = false;
}

void CxImage::ReplacePaletteRgb(const uint8_t* rgb, uint32_t count) {
  RgbQuad* pal = PaletteEntries();
  if (pal == nullptr || rgb == nullptr) return;
  const uint32_t n = std::min(count, head.biClrUsed);
  for (uint32_t i = 0; i < n; ++i) pal[i] = RgbQuad{rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i], 0};
  info.cacheValid = false;
}

void CxImage::SetGreyPalette() {
  RgbQuad* pal = PaletteEntries();
  const uint32_t n = head.biClrUsed;
  if (pal == nullptr || n < 2) return;
  const uint32_t step = 255 / (n - 1);
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t v = static_cast<uint8_t>(i * step);
    pal[i].blue = pal[i].green = pal[i].red = v;
  }
  info.cacheValid = false;
}

bool CxImage::IsGreyRamp() const {
  const RgbQuad* pal = PaletteEntries();
  if (pal == nullptr) return false;
  for (uint32_t i = 0; i < head.biClrUsed; ++i) {
    if (pal[i].blue != i || pal[i].green != i || pal[i].red != i) return false;
  }
  return true;
}

void CxImage::SetStandardPalette() {
  // Only the bitonal palette is needed by this program.
  if (head.biBitCount != 1 || PaletteEntries() == nullptr) return;
  SetPaletteEntry(0, 0, 0, 0, 0);
  SetPaletteEntry(1, 255, 255, 255, 0);
  info.cacheValid = false;
}

uint8_t CxImage::NearestIndex(RgbQuad colour) {
  const RgbQuad* pal = PaletteEntries();
  if (pal == nullptr) return 0;
  if (info.cacheValid && info.cachedColour == colour) return info.cachedIndex;
  uint32_t n = head.biClrImportant != 0 ? head.biClrImportant : head.biClrUsed;
  n = std::min(n, head.biClrUsed);
  int64_t best = 200000;
  uint32_t bestIndex = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const int64_t dr = static_cast<int64_t>(pal[i].red) - colour.red;
    const int64_t dg = static_cast<int64_t>(pal[i].green) - colour.green;
    const int64_t db = static_cast<int64_t>(pal[i].blue) - colour.blue;
    const int64_t d = dr * dr + dg * dg + db * db;
    if (d < best) {
      best = d;
      bestIndex = i;
    }
    if (d == 0) break;
  }
  info.cachedColour = colour;
  info.cachedIndex = static_cast<uint8_t>(bestIndex);
  info.cacheValid = true;
  return info.cachedIndex;
}

bool CxImage::AlphaPaletteUsed() const {
  const RgbQuad* pal = PaletteEntries();
  if (pal == nullptr) return false;
  for (uint32_t i = 0; i < head.biClrUsed; ++i) {
    if (pal[i].reserved != 0) return true;
  }
  return false;
}
