#include <cstring>
#include <vector>

#include "image/codecs/pcx/pcx_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

constexpr uint32_t kMaxRun = 63;
constexpr uint8_t kVgaPaletteMarker = 12;

// One plane's line: runs of up to 63 equal bytes; a lone byte below 0xC0 goes as is.
void AppendRunLength(const uint8_t* src, uint32_t n, std::vector<uint8_t>& out) {
  uint32_t i = 0;
  while (i < n) {
    uint32_t run = 1;
    while (i + run < n && run < kMaxRun && src[i + run] == src[i]) ++run;
    if (run > 1 || src[i] >= 0xC0) out.push_back(static_cast<uint8_t>(0xC0 | run));
    out.push_back(src[i]);
    i += run;
  }
}

uint32_t Brightness(const RgbQuad& c) { return 299u * c.red + 587u * c.green + 114u * c.blue; }

// The planes of one picture row (row counted from the bottom of the image), each
// bytesPerLine long, padding left at 0.
void RowPlanes(const CxImage& image, uint32_t row, uint32_t planes, uint32_t bytesPerLine,
               bool invertBits, std::vector<uint8_t>& planeBytes) {
  planeBytes.assign(static_cast<size_t>(planes) * bytesPerLine, 0);
  const uint32_t w = image.Width();
  const uint8_t* src = image.RowPointer(row);
  switch (image.Bpp()) {
    case 24:
      for (uint32_t x = 0; x < w; ++x) {
        planeBytes[x] = src[3 * x + 2];
        planeBytes[bytesPerLine + x] = src[3 * x + 1];
        planeBytes[2 * static_cast<size_t>(bytesPerLine) + x] = src[3 * x];
        if (planes == 4) planeBytes[3 * static_cast<size_t>(bytesPerLine) + x] = image.AlphaGetUnchecked(x, row);
      }
      break;
    case 8: std::memcpy(planeBytes.data(), src, w); break;
    case 4:
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t index = image.IndexAtUnchecked(x, row);
        for (uint32_t p = 0; p < 4; ++p) {
          if (index & (1u << p)) planeBytes[p * static_cast<size_t>(bytesPerLine) + x / 8] |= static_cast<uint8_t>(0x80 >> (x & 7));
        }
      }
      break;
    default:
      std::memcpy(planeBytes.data(), src, (w + 7) / 8);
      if (invertBits) {
        for (uint32_t i = 0; i < (w + 7) / 8; ++i) planeBytes[i] = static_cast<uint8_t>(~planeBytes[i]);
      }
      break;
  }
}

bool WriteAll(CxStream* stream, const std::vector<uint8_t>& bytes) {
  return bytes.empty() || stream->Write(bytes.data(), 1, bytes.size()) == bytes.size();
}

}  // namespace

void StorePcxHeader(const PcxHeader& h, uint8_t* b) {
  std::memset(b, 0, kPcxHeaderSize);
  b[0] = h.manufacturer;
  b[1] = h.version;
  b[2] = h.encoding;
  b[3] = h.bitsPerPixel;
  StoreU16LE(b + 4, h.xMin);
  StoreU16LE(b + 6, h.yMin);
  StoreU16LE(b + 8, h.xMax);
  StoreU16LE(b + 10, h.yMax);
  StoreU16LE(b + 12, h.hDpi);
  StoreU16LE(b + 14, h.vDpi);
  std::memcpy(b + 16, h.colourMap, sizeof(h.colourMap));
  b[64] = h.reserved;
  b[65] = h.planes;
  StoreU16LE(b + 66, h.bytesPerLine);
  StoreU16LE(b + 68, h.paletteInfo);
}

bool CxImagePCX::Encode(CxStream* stream) {
  if (!CheckEncodable(stream)) return false;
  return EncodeBody(stream);
}

bool CxImagePCX::EncodeBody(CxStream* stream) {
  const uint32_t w = Width();
  const uint32_t hgt = Height();
  // The window fields are 16 bits: a larger image cannot be described.
  if (w > 65536 || hgt > 65536) return Fail("Image too large for PCX");

  PcxHeader h;
  h.manufacturer = 10;
  h.version = 5;
  h.encoding = 1;
  h.bitsPerPixel = (Bpp() == 8 || Bpp() == 24) ? 8 : 1;
  h.xMax = static_cast<uint16_t>(w - 1);
  h.yMax = static_cast<uint16_t>(hgt - 1);
  h.hDpi = static_cast<uint16_t>(ResolutionX());
  h.vDpi = static_cast<uint16_t>(ResolutionY());
  switch (Bpp()) {
    case 24: h.planes = HasAlpha() ? 4 : 3; break;
    case 4: h.planes = 4; break;
    default: h.planes = 1; break;
  }
  const uint32_t bits = (h.bitsPerPixel == 8) ? w * 8 : w;
  const uint32_t bytesPerLine = ((bits + 7) / 8 + 1) & ~1u;
  if (bytesPerLine > 0xFFFF) return Fail("Image too large for PCX");
  h.bytesPerLine = static_cast<uint16_t>(bytesPerLine);
  h.paletteInfo = 1;

  bool invertBits = false;
  if (Bpp() == 4) {
    for (uint8_t i = 0; i < 16; ++i) {
      const RgbQuad c = PaletteEntry(i);
      h.colourMap[3 * i] = c.red;
      h.colourMap[3 * i + 1] = c.green;
      h.colourMap[3 * i + 2] = c.blue;
    }
  } else if (Bpp() == 1) {
    std::memset(h.colourMap + 3, 255, 3);
    invertBits = Brightness(PaletteEntry(0)) > Brightness(PaletteEntry(1));
  }

  uint8_t raw[kPcxHeaderSize];
  StorePcxHeader(h, raw);
  if (stream->Write(raw, kPcxHeaderSize, 1) != 1) return Fail("cannot write PCX header");

  std::vector<uint8_t> planeBytes;
  std::vector<uint8_t> out;
  for (uint32_t t = 0; t < hgt; ++t) {
    RowPlanes(*this, hgt - 1 - t, h.planes, bytesPerLine, invertBits, planeBytes);
    out.clear();
    for (uint32_t p = 0; p < h.planes; ++p) {
      AppendRunLength(planeBytes.data() + static_cast<size_t>(p) * bytesPerLine, bytesPerLine, out);
    }
    if (!WriteAll(stream, out)) return Fail("cannot write PCX data");
  }

  if (Bpp() == 8) {
    out.assign(1, kVgaPaletteMarker);
    for (uint32_t i = 0; i < 256; ++i) {
      const RgbQuad c = PaletteEntry(static_cast<uint8_t>(i));
      out.insert(out.end(), {c.red, c.green, c.blue});
    }
    if (!WriteAll(stream, out)) return Fail("cannot write PCX data");
  }
  return true;
}
