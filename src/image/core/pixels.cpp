#include <cstdlib>
#include <cstring>
#include <utility>

#include "image/core/image.h"

uint8_t CxImage::IndexAtUnchecked(uint32_t x, uint32_t y) const {
  const uint8_t* row = info.pixels + static_cast<size_t>(y) * info.stride;
  switch (head.biBitCount) {
    case 8: return row[x];
    case 4: {
      const uint8_t b = row[x >> 1];
      return (x & 1) ? (b & 0x0F) : static_cast<uint8_t>(b >> 4);
    }
    case 1: return static_cast<uint8_t>((row[x >> 3] >> (7 - (x & 7))) & 1);
    default: return 0;
  }
}

void CxImage::PutIndexUnchecked(uint32_t x, uint32_t y, uint8_t index) {
  uint8_t* row = info.pixels + static_cast<size_t>(y) * info.stride;
  switch (head.biBitCount) {
    case 8: row[x] = index; break;
    case 4: {
      uint8_t& b = row[x >> 1];
      if (x & 1) b = static_cast<uint8_t>((b & 0xF0) | (index & 0x0F));
      else b = static_cast<uint8_t>((b & 0x0F) | ((index & 0x0F) << 4));
      break;
    }
    case 1: {
      const uint8_t mask = static_cast<uint8_t>(0x80 >> (x & 7));
      uint8_t& b = row[x >> 3];
      b = (index & 1) ? static_cast<uint8_t>(b | mask) : static_cast<uint8_t>(b & ~mask);
      break;
    }
    default: break;
  }
}

uint8_t CxImage::IndexAt(int64_t x, int64_t y) const {
  if (dib == nullptr || head.biClrUsed == 0) return 0;
  if (!IsInside(x, y)) {
    if (info.transparentIndex >= 0) return static_cast<uint8_t>(info.transparentIndex);
    return info.pixels[0];
  }
  return IndexAtUnchecked(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
}

void CxImage::PutIndex(int64_t x, int64_t y, uint8_t index) {
  if (dib == nullptr || head.biClrUsed == 0 || !IsInside(x, y)) return;
  PutIndexUnchecked(static_cast<uint32_t>(x), static_cast<uint32_t>(y), index);
}

RgbQuad CxImage::ColourAt(int64_t x, int64_t y, bool withAlpha) const {
  if (dib == nullptr || !IsInside(x, y)) {
    if (info.transparentIndex >= 0) {
      if (head.biClrUsed != 0) return PaletteEntry(static_cast<uint8_t>(info.transparentIndex));
      return info.transparentColour;
    }
    if (dib != nullptr) return ColourAt(0, 0, withAlpha);
    return info.transparentColour;
  }
  const uint32_t ux = static_cast<uint32_t>(x);
  const uint32_t uy = static_cast<uint32_t>(y);
  RgbQuad c;
  if (head.biClrUsed != 0) {
    c = PaletteEntry(IndexAtUnchecked(ux, uy));
  } else {
    const uint8_t* p = info.pixels + static_cast<size_t>(uy) * info.stride + 3 * static_cast<size_t>(ux);
    c = RgbQuad{p[0], p[1], p[2], info.transparentColour.reserved};
  }
  if (withAlpha && alphaPlane != nullptr) c.reserved = AlphaGetUnchecked(ux, uy);
  return c;
}

void CxImage::PutColour(int64_t x, int64_t y, RgbQuad colour, bool setAlpha) {
  if (dib == nullptr || !IsInside(x, y)) return;
  const uint32_t ux = static_cast<uint32_t>(x);
  const uint32_t uy = static_cast<uint32_t>(y);
  if (head.biClrUsed != 0) {
    PutIndexUnchecked(ux, uy, NearestIndex(colour));
  } else {
    uint8_t* p = info.pixels + static_cast<size_t>(uy) * info.stride + 3 * static_cast<size_t>(ux);
    p[0] = colour.blue;
    p[1] = colour.green;
    p[2] = colour.red;
  }
  if (setAlpha && alphaPlane != nullptr) AlphaSetUnchecked(ux, uy, colour.reserved);
}

void CxImage::FillBytes(uint8_t value) {
  if (dib == nullptr) return;
  if (head.biBitCount == 1 && value != 0) value = 255;
  if (head.biBitCount == 4) value = static_cast<uint8_t>((value & 15) * 17);
  std::memset(info.pixels, value, head.biSizeImage);
}

// --- Alpha plane ---------------------------------------------------------------------------

namespace {

size_t PlaneSize(uint32_t w, uint32_t h) { return static_cast<size_t>(w) * h; }

void FlipPlane(uint8_t* plane, uint32_t w, uint32_t h) {
  for (uint32_t y = 0; y < h / 2; ++y) {
    uint8_t* a = plane + static_cast<size_t>(y) * w;
    uint8_t* b = plane + static_cast<size_t>(h - 1 - y) * w;
    for (uint32_t x = 0; x < w; ++x) std::swap(a[x], b[x]);
  }
}

void MirrorPlane(uint8_t* plane, uint32_t w, uint32_t h) {
  for (uint32_t y = 0; y < h; ++y) {
    uint8_t* row = plane + static_cast<size_t>(y) * w;
    for (uint32_t x = 0; x < w / 2; ++x) std::swap(row[x], row[w - 1 - x]);
  }
}

// Copies the source image's plane `from` into `plane` of an image of the same size, allocating
// it when there is none; false when the source has no such plane or another size.
bool CopyPlane(uint8_t*& plane, const CxImage& image, const uint8_t* from, const CxImage& source) {
  if (from == nullptr || source.Width() != image.Width() || source.Height() != image.Height())
    return false;
  const size_t size = PlaneSize(image.Width(), image.Height());
  if (plane == nullptr) plane = static_cast<uint8_t*>(std::malloc(size));
  if (plane == nullptr) return false;
  std::memcpy(plane, from, size);
  return true;
}

}  // namespace

bool CxImage::AlphaCreate() {
  if (alphaPlane == nullptr && Width() != 0 && Height() != 0) {
    alphaPlane = static_cast<uint8_t*>(std::malloc(PlaneSize(Width(), Height())));
    if (alphaPlane != nullptr) std::memset(alphaPlane, 255, PlaneSize(Width(), Height()));
  }
  return alphaPlane != nullptr;
}

void CxImage::AlphaDelete() {
  if (IsView()) return;
  std::free(alphaPlane);
  alphaPlane = nullptr;
}

void CxImage::AlphaSet(int64_t x, int64_t y, uint8_t value) {
  if (alphaPlane == nullptr || !IsInside(x, y)) return;
  AlphaSetUnchecked(static_cast<uint32_t>(x), static_cast<uint32_t>(y), value);
}

uint8_t CxImage::AlphaGet(int64_t x, int64_t y) const {
  if (alphaPlane == nullptr || !IsInside(x, y)) return 0;
  return AlphaGetUnchecked(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
}

bool CxImage::AlphaCopy(const CxImage& source) {
  if (!CopyPlane(alphaPlane, *this, source.alphaPlane, source)) return false;
  info.alphaMax = source.info.alphaMax;
  return true;
}

bool CxImage::AlphaFromGrey(const CxImage& source) {
  // The source rows must hold one byte per pixel.
  if (!source.IsGreyRamp() || source.Bpp() != 8 || source.Width() != Width() ||
      source.Height() != Height())
    return false;
  if (alphaPlane == nullptr && !AlphaCreate()) return false;
  for (uint32_t y = 0; y < Height(); ++y)
    std::memcpy(alphaPlane + static_cast<size_t>(y) * Width(), source.RowPointer(y), Width());
  return true;
}

void CxImage::AlphaInvert() {
  if (alphaPlane == nullptr) return;
  const size_t n = PlaneSize(Width(), Height());
  for (size_t i = 0; i < n; ++i) alphaPlane[i] = static_cast<uint8_t>(255 - alphaPlane[i]);
}

bool CxImage::AlphaFlip() {
  if (alphaPlane == nullptr) return false;
  FlipPlane(alphaPlane, Width(), Height());
  return true;
}

bool CxImage::AlphaMirror() {
  if (alphaPlane == nullptr) return false;
  MirrorPlane(alphaPlane, Width(), Height());
  return true;
}

// --- Selection plane -----------------------------------------------------------------------

bool CxImage::SelectionCreate() {
  if (IsView()) return false;
  std::free(selectionPlane);
  selectionPlane = nullptr;
  if (Width() == 0 || Height() == 0) return false;
  selectionPlane = static_cast<uint8_t*>(std::calloc(1, PlaneSize(Width(), Height())));
  return selectionPlane != nullptr;
}

void CxImage::SelectionDelete() {
  if (IsView()) return;
  std::free(selectionPlane);
  selectionPlane = nullptr;
  info.selectionBox = SelectionBox{static_cast<int32_t>(Width()), 0, 0,
                                   static_cast<int32_t>(Height())};
}

bool CxImage::SelectionCopy(const CxImage& source) {
  if (!CopyPlane(selectionPlane, *this, source.selectionPlane, source)) return false;
  info.selectionBox = source.info.selectionBox;
  return true;
}

void CxImage::SelectionSet(int64_t x, int64_t y, uint8_t value) {
  if (selectionPlane == nullptr || !IsInside(x, y)) return;
  selectionPlane[static_cast<size_t>(y) * Width() + static_cast<size_t>(x)] = value;
}

uint8_t CxImage::SelectionGet(int64_t x, int64_t y) const {
  if (selectionPlane == nullptr || !IsInside(x, y)) return 0;
  return selectionPlane[static_cast<size_t>(y) * Width() + static_cast<size_t>(x)];
}

bool CxImage::SelectionFlip() {
  if (selectionPlane == nullptr) return false;
  FlipPlane(selectionPlane, Width(), Height());
  return true;
}

bool CxImage::SelectionIsInside(int64_t x, int64_t y) const {
  if (selectionPlane == nullptr) return true;
  return SelectionGet(x, y) != 0;
}
