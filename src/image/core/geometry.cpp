#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "image/core/image.h"

bool CxImage::FlipRows(bool selection, bool alpha) {
  if (dib == nullptr) return false;
  const uint32_t h = Height();
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[info.stride]);
  if (!buffer) return false;
  for (uint32_t y = 0; y < h / 2; ++y) {
    uint8_t* a = RowPointer(y);
    uint8_t* b = RowPointer(h - 1 - y);
    std::memcpy(buffer.get(), a, info.stride);
    std::memcpy(a, b, info.stride);
    std::memcpy(b, buffer.get(), info.stride);
  }
  if (selection) SelectionFlip();
  if (alpha) AlphaFlip();
  return true;
}

bool CxImage::MirrorColumns(bool selection, bool alpha) {
  if (dib == nullptr || IsView()) return false;
  CxImage mirrored(*this, false, true, true);
  if (!mirrored.HasPixels()) return Fail(mirrored.LastErrorText());
  const uint32_t w = Width();
  const uint32_t h = Height();
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* src = RowPointer(y);
    uint8_t* dst = mirrored.RowPointer(y);
    switch (Bpp()) {
      case 8:
        for (uint32_t x = 0; x < w; ++x) dst[x] = src[w - 1 - x];
        break;
      case 24:
        for (uint32_t x = 0; x < w; ++x) std::memcpy(dst + 3 * size_t{x}, src + 3 * size_t{w - 1 - x}, 3);
        break;
      default:
        for (uint32_t x = 0; x < w; ++x) mirrored.PutIndexUnchecked(x, y, IndexAtUnchecked(w - 1 - x, y));
        break;
    }
  }
  if (selection && mirrored.selectionPlane != nullptr) {
    for (uint32_t y = 0; y < h; ++y) {
      uint8_t* row = mirrored.selectionPlane + static_cast<size_t>(y) * w;
      for (uint32_t x = 0; x < w / 2; ++x) std::swap(row[x], row[w - 1 - x]);
    }
  }
  if (alpha) mirrored.AlphaMirror();
  return TakeOver(mirrored, false);
}

bool CxImage::TurnToOrientation(uint32_t orientation) {
  if (dib == nullptr) return false;
  bool ok = true;
  switch (orientation) {
    case 2:  // top right: mirrored
      ok = MirrorColumns(false, true);
      break;
    case 3:  // bottom right: half turn
      ok = FlipRows(false, true) && MirrorColumns(false, true);
      break;
    case 4:  // bottom left: upside down
      ok = FlipRows(false, true);
      break;
    case 5:  // left top: transposed
      ok = TurnRight() && MirrorColumns(false, true);
      break;
    case 6:  // right top: the first row is the right-hand side, a quarter turn clockwise
      ok = TurnRight();
      break;
    case 7:  // right bottom: transposed the other way
      ok = TurnLeft() && MirrorColumns(false, true);
      break;
    case 8:  // left bottom: a quarter turn anticlockwise
      ok = TurnLeft();
      break;
    default:
      return true;
  }
  if (ok && orientation >= 5) {
    const int32_t dpiX = info.resolutionX;
    SetResolutionX(info.resolutionY);
    SetResolutionY(dpiX);
  }
  return ok;
}

bool CxImage::TurnLeft(CxImage* destination) { return MakeTurned(true, destination); }

bool CxImage::TurnRight(CxImage* destination) { return MakeTurned(false, destination); }

// Quarter turn in 64 x 64 tiles so that both images are walked in cache-sized pieces.
bool CxImage::MakeTurned(bool left, CxImage* destination) {
  if (dib == nullptr) return false;
  const uint32_t oldW = Width();
  const uint32_t oldH = Height();
  const uint32_t newW = oldH;
  const uint32_t newH = oldW;
  CxImage turned;
  turned.CopyInfoForDecode(*this);
  turned.head.biClrImportant = head.biClrImportant;
  turned.head.biXPelsPerMeter = head.biXPelsPerMeter;
  turned.head.biYPelsPerMeter = head.biYPelsPerMeter;
  if (turned.Create(newW, newH, Bpp(), FormatType()) == nullptr) {
    return Fail(turned.LastErrorText());
  }
  turned.ReplacePalette(PaletteEntries(), ColoursUsed());
  if (alphaPlane != nullptr && !turned.AlphaCreate()) return false;
  if (selectionPlane != nullptr && !turned.SelectionCreate()) return false;

  constexpr uint32_t kTile = 64;
  for (uint32_t ty = 0; ty < newH; ty += kTile) {
    for (uint32_t tx = 0; tx < newW; tx += kTile) {
      const uint32_t yEnd = std::min(ty + kTile, newH);
      const uint32_t xEnd = std::min(tx + kTile, newW);
      for (uint32_t y = ty; y < yEnd; ++y) {
        for (uint32_t x = tx; x < xEnd; ++x) {
          const uint32_t sx = left ? y : newH - 1 - y;
          const uint32_t sy = left ? newW - 1 - x : x;
          if (Bpp() == 24) {
            std::memcpy(turned.RowPointer(y) + 3 * size_t{x}, RowPointer(sy) + 3 * size_t{sx}, 3);
          } else {
            turned.PutIndexUnchecked(x, y, IndexAtUnchecked(sx, sy));
          }
          if (alphaPlane != nullptr) turned.AlphaSetUnchecked(x, y, AlphaGetUnchecked(sx, sy));
          if (selectionPlane != nullptr)
            turned.selectionPlane[static_cast<size_t>(y) * newW + x] =
                selectionPlane[static_cast<size_t>(sy) * oldW + sx];
        }
      }
    }
  }
  turned.info.alphaMax = info.alphaMax;
  if (destination != nullptr && destination != this) return destination->TakeOver(turned, false);
  return TakeOver(turned, false);
}
