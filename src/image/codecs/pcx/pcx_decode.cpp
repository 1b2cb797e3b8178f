#include "image/codecs/pcx/pcx_codec.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

constexpr uint8_t kPcxManufacturer = 10;
constexpr uint8_t kPcxRunLength = 1;
constexpr int kVgaPaletteMarker = 12;
constexpr uint32_t kMaxPlanes = 4;

// The most bytes `available` input bytes can expand to: every pair a run of 63.
uint64_t MaxExpansion(int64_t available) {
  if (available <= 0) return 0;
  const uint64_t n = static_cast<uint64_t>(available);
  return n / 2 * 63 + n % 2;
}

// Expands the run-length data of the whole image (`expected` bytes) into `out`. The buffer
// grows with what the input really holds, so a header that promises more than the file
// can give never drives a large allocation.
bool ExpandRunLength(CxImage& image, CxStream* stream, uint64_t expected,
                     std::vector<uint8_t>& out) {
  out.clear();
  out.reserve(static_cast<size_t>(
      std::min<uint64_t>(expected, MaxExpansion(stream->Size() - stream->Tell()))));
  while (out.size() < expected) {
    const long c = stream->GetC();
    if (c < 0) return image.Fail("corrupted PCX");
    if (c <= 0xBF) {
      out.push_back(static_cast<uint8_t>(c));
      continue;
    }
    const uint64_t count = static_cast<uint64_t>(c) & 0x3F;
    const long value = stream->GetC();
    if (count > expected - out.size()) return image.Fail("repeat count spans end of image");
    if (value < 0) return image.Fail("corrupted PCX");
    out.insert(out.end(), static_cast<size_t>(count), static_cast<uint8_t>(value));
  }
  return true;
}

// 16 header entries, then the 256-entry table of 8-bit files or black and white for
// 1-bit files.
bool BuildPalette(CxImage& image, CxStream* stream, const PcxHeader& h, RgbQuad (&table)[256]) {
  for (int i = 0; i < 16; ++i) {
    table[i] = RgbQuad{h.colourMap[3 * i + 2], h.colourMap[3 * i + 1], h.colourMap[3 * i], 0};
  }
  if (h.bitsPerPixel == 8 && h.planes == 1) {
    if (stream->GetC() != kVgaPaletteMarker) return image.Fail("bad color map signature");
    uint8_t rgb[256 * 3] = {};
    stream->Read(rgb, 1, sizeof(rgb));  // a short table leaves black entries
    for (int i = 0; i < 256; ++i) table[i] = RgbQuad{rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i], 0};
  } else if (h.bitsPerPixel == 1 && h.planes == 1) {
    table[0] = RgbQuad{0, 0, 0, 0};
    table[1] = RgbQuad{255, 255, 255, 0};
  }
  return true;
}

// Depth of the image a header gives. Two or three one-bit planes need 4 bits too, or
// the upper index bits would be lost.
uint32_t ImageDepth(const PcxHeader& h) {
  if (h.planes > 2 && h.bitsPerPixel == 8) return 24;
  if (h.bitsPerPixel == 1 && h.planes >= 2) return 4;
  return h.bitsPerPixel;
}

// 3 or 4 planes of 8 bits to B, G, R (and alpha). Columns beyond the bytes per line
// have no data and stay 0.
void PlanarRgbLine(CxImage& image, uint32_t row, const uint8_t* src, uint32_t bytesPerLine,
                   uint32_t planes) {
  uint8_t* dst = image.RowPointer(row);
  const uint32_t n = std::min(image.Width(), bytesPerLine);
  for (uint32_t x = 0; x < n; ++x) {
    dst[3 * x] = src[2 * bytesPerLine + x];
    dst[3 * x + 1] = src[bytesPerLine + x];
    dst[3 * x + 2] = src[x];
  }
  if (planes == 4 && image.HasAlpha()) {
    for (uint32_t x = 0; x < n; ++x) image.AlphaSetUnchecked(x, row, src[3 * bytesPerLine + x]);
  }
}

void IndexLine(CxImage& image, uint32_t row, const uint8_t* indices) {
  if (image.ColoursUsed() == 0) return;  // a depth without indices leaves the pixels at 0
  for (uint32_t x = 0; x < image.Width(); ++x) image.PutIndexUnchecked(x, row, indices[x]);
}

}  // namespace

PcxHeader ParsePcxHeader(const uint8_t* b) {
  PcxHeader h;
  h.manufacturer = b[0];
  h.version = b[1];
  h.encoding = b[2];
  h.bitsPerPixel = b[3];
  h.xMin = LoadU16LE(b + 4);
  h.yMin = LoadU16LE(b + 6);
  h.xMax = LoadU16LE(b + 8);
  h.yMax = LoadU16LE(b + 10);
  h.hDpi = LoadU16LE(b + 12);
  h.vDpi = LoadU16LE(b + 14);
  std::memcpy(h.colourMap, b + 16, sizeof(h.colourMap));
  h.reserved = b[64];
  h.planes = b[65];
  h.bytesPerLine = LoadU16LE(b + 66);
  h.paletteInfo = LoadU16LE(b + 68);
  return h;
}

bool PCX_UnpackPixels(uint8_t* pixels, const uint8_t* bitPlanes, uint32_t bytesPerLine,
                      uint32_t planes, uint32_t bitsPerPixel) {
  if (planes != 1) return false;
  for (uint32_t i = 0; i < bytesPerLine; ++i) {
    const uint8_t b = bitPlanes[i];
    switch (bitsPerPixel) {
      case 8: *pixels++ = b; break;
      case 4:
        *pixels++ = static_cast<uint8_t>(b >> 4);
        *pixels++ = static_cast<uint8_t>(b & 0x0F);
        break;
      case 2:
        for (int shift = 6; shift >= 0; shift -= 2) *pixels++ = static_cast<uint8_t>((b >> shift) & 3);
        break;
      case 1:
        for (int bit = 7; bit >= 0; --bit) *pixels++ = static_cast<uint8_t>((b >> bit) & 1);
        break;
      default: break;
    }
  }
  return true;
}

bool PCX_PlanesToPixels(uint8_t* pixels, const uint8_t* bitPlanes, uint32_t bytesPerLine,
                        uint32_t planes, uint32_t bitsPerPixel) {
  if (planes > kMaxPlanes || bitsPerPixel != 1) return false;
  std::memset(pixels, 0, static_cast<size_t>(bytesPerLine) * 8);
  for (uint32_t plane = 0; plane < planes; ++plane) {
    const uint8_t bit = static_cast<uint8_t>(1u << plane);
    const uint8_t* src = bitPlanes + static_cast<size_t>(plane) * bytesPerLine;
    for (uint32_t i = 0; i < bytesPerLine; ++i) {
      for (int k = 0; k < 8; ++k) {
        if (src[i] & (0x80 >> k)) pixels[8 * static_cast<size_t>(i) + k] |= bit;
      }
    }
  }
  return true;
}

CxImagePCX::CxImagePCX() : CxImage(FORMAT_PCX) {}

bool CxImagePCX::Decode(CxStream* stream) {
  if (stream == nullptr) return false;
  try {
    return DecodeBody(stream);
  } catch (const std::bad_alloc&) {
    return Fail("can't allocate memory");
  }
}

bool CxImagePCX::DecodeBody(CxStream* stream) {
  uint8_t raw[kPcxHeaderSize];
  if (stream->Read(raw, kPcxHeaderSize, 1) != 1) return Fail("Can't read PCX image");
  const PcxHeader h = ParsePcxHeader(raw);
  if (h.manufacturer != kPcxManufacturer) return Fail("Error: Not a PCX file");
  if (h.encoding != kPcxRunLength) return Fail("PCX file has unknown encoding scheme");

  // Straight from the header: a 0 stays 0 here, unlike the resolution setters.
  info.resolutionX = h.hDpi;
  info.resolutionY = h.vDpi;

  const int32_t width = static_cast<int32_t>(h.xMax) - h.xMin + 1;
  const int32_t height = static_cast<int32_t>(h.yMax) - h.yMin + 1;
  if (width <= 0 || height <= 0) return Fail("PCX file has invalid dimensions");

  if (Escape() == -1) {
    head.biWidth = width;
    head.biHeight = height;
    info.formatType = FORMAT_PCX;
    return true;
  }
  if (h.planes > kMaxPlanes) return Fail("Can't handle image with more than 4 planes");

  if (Create(static_cast<uint32_t>(width), static_cast<uint32_t>(height), ImageDepth(h),
             FORMAT_PCX) == nullptr) {
    return false;
  }
  const bool rgb = h.planes > 2 && h.bitsPerPixel == 8;
  if (rgb && h.planes == 4 && !AlphaCreate()) return Fail("can't allocate memory");
  if (Escape() != 0) return Fail("Cancelled");

  const uint64_t lineBytes = static_cast<uint64_t>(h.planes) * h.bytesPerLine;
  std::vector<uint8_t> data;
  if (!ExpandRunLength(*this, stream, lineBytes * static_cast<uint64_t>(height), data)) {
    return false;
  }

  RgbQuad table[256] = {};
  if (!BuildPalette(*this, stream, h, table)) return false;
  for (uint32_t i = 0; i < ColoursUsed() && i < 256; ++i) {
    SetPaletteEntry(static_cast<uint8_t>(i), table[i]);
  }

  std::vector<uint8_t> line(static_cast<size_t>(width) + static_cast<size_t>(h.bytesPerLine) * 8);
  for (uint32_t y = 0; y < static_cast<uint32_t>(height); ++y) {
    if (Escape() != 0) return Fail("Cancelled");
    const uint8_t* src = data.data() + y * lineBytes;
    const uint32_t row = static_cast<uint32_t>(height) - 1 - y;
    if (rgb) {
      PlanarRgbLine(*this, row, src, h.bytesPerLine, h.planes);
    } else if (h.planes == 1) {
      if (!PCX_UnpackPixels(line.data(), src, h.bytesPerLine, h.planes, h.bitsPerPixel)) {
        return Fail("PCX_UnpackPixels: Can't handle packed pixels with more than 1 plane");
      }
      IndexLine(*this, row, line.data());
    } else {
      if (!PCX_PlanesToPixels(line.data(), src, h.bytesPerLine, h.planes, h.bitsPerPixel)) {
        return Fail("PCX_PlanesToPixels: more than 4 planes or more than 1 bit per pixel");
      }
      IndexLine(*this, row, line.data());
    }
  }
  return true;
}
