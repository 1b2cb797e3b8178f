#include "image/codecs/tga/tga_codec.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

bool IsRunLength(uint8_t type) { return type >= 9 && type <= 11; }
bool IsKnownType(uint8_t type) { return (type >= 1 && type <= 3) || IsRunLength(type); }
bool IsKnownDepth(uint8_t d) { return d == 8 || d == 15 || d == 16 || d == 24 || d == 32; }
bool IsKnownMapEntrySize(uint8_t d) { return d == 15 || d == 16 || d == 24 || d == 32; }
bool IsGrey(uint8_t type) { return type == 3 || type == 11; }
uint32_t BytesPerPixel(uint32_t depth) { return (depth + 7) / 8; }

// Five bits a channel, red highest; the top bit is not alpha. Widened by a shift of 3.
RgbQuad Colour555(uint16_t w) {
  RgbQuad c;
  c.blue = static_cast<uint8_t>((w & 0x1F) << 3);
  c.green = static_cast<uint8_t>((w >> 2) & 0xF8);
  c.red = static_cast<uint8_t>((w >> 7) & 0xF8);
  return c;
}

// One colour-map entry of 15, 16, 24 or 32 bits; 32-bit entries carry alpha.
RgbQuad MapEntryColour(const uint8_t* v, uint32_t bits) {
  if (bits <= 16) return Colour555(LoadU16LE(v));
  RgbQuad c;
  c.blue = v[0];
  c.green = v[1];
  c.red = v[2];
  c.reserved = bits == 32 ? v[3] : 0;
  return c;
}

}  // namespace

TgaHeader ParseTgaHeader(const uint8_t* b) {
  TgaHeader h;
  h.idLength = b[0];
  h.colourMapType = b[1];
  h.imageType = b[2];
  h.colourMapFirst = LoadU16LE(b + 3);
  h.colourMapLength = LoadU16LE(b + 5);
  h.colourMapEntrySize = b[7];
  h.xOrigin = LoadU16LE(b + 8);
  h.yOrigin = LoadU16LE(b + 10);
  h.width = LoadU16LE(b + 12);
  h.height = LoadU16LE(b + 14);
  h.pixelDepth = b[16];
  h.descriptor = b[17];
  return h;
}

CxImageTGA::CxImageTGA() : CxImage(FORMAT_TGA) {}

bool CxImageTGA::Decode(CxStream* stream) {
  if (stream == nullptr) return false;
  bool ok = false;
  try {
    ok = DecodeBody(stream);
  } catch (const std::bad_alloc&) {
    ok = Fail("TGA Create failed");
  }
  work_ = {};
  return ok;
}

bool CxImageTGA::DecodeBody(CxStream* stream) {
  uint8_t raw[kTgaHeaderSize];
  if (stream->Read(raw, kTgaHeaderSize, 1) != 1) return Fail("Not a TGA");
  const TgaHeader h = ParseTgaHeader(raw);
  if (!IsKnownType(h.imageType)) return Fail("Unknown TGA image type");
  if (h.width == 0 || h.height == 0 || h.pixelDepth == 0 || h.colourMapLength > 256) {
    return Fail("bad TGA header");
  }
  if (!IsKnownDepth(h.pixelDepth)) return Fail("bad TGA header");
  if (h.colourMapType != 0 && h.colourMapLength != 0 &&
      !IsKnownMapEntrySize(h.colourMapEntrySize)) {
    return Fail("bad TGA header");
  }

  if (Escape() == -1) {
    head.biWidth = h.width;
    head.biHeight = h.height;
    info.formatType = FORMAT_TGA;
    return true;
  }

  stream->Seek(h.idLength, SEEK_CUR);
  // 16-bit grey pixels are grey and alpha, a byte each: an 8-bit image with an alpha plane.
  const bool greyAlpha = IsGrey(h.imageType) && h.pixelDepth == 16;
  const uint32_t bpp = greyAlpha ? 8u : h.pixelDepth;
  if (Create(h.width, h.height, bpp, FORMAT_TGA) == nullptr || !IsValid()) {
    return Fail("TGA Create failed");
  }
  if ((h.pixelDepth == 32 || greyAlpha) && !AlphaCreate()) return Fail("TGA Create failed");
  if (Escape() != 0) return Fail("Cancelled");

  if (h.colourMapType != 0) ReadColourMap(stream, h);
  if (IsGrey(h.imageType)) SetGreyPalette();

  work_.assign(static_cast<size_t>(h.width) * 4, 0);
  const bool topDown = (h.descriptor & kTgaTopToBottom) != 0;
  uint8_t leftover = kTgaNoLeftover;
  for (uint32_t y = 0; y < h.height; ++y) {
    if (Escape() != 0) return Fail("Cancelled");
    if (stream->Eof()) return Fail("corrupted TGA");
    // Alpha goes to the same row as the colours, so no separate flip of it is needed.
    const uint32_t row = topDown ? h.height - 1u - y : y;
    if (IsRunLength(h.imageType)) {
      leftover = ReadCompressedLine(stream, row, h.pixelDepth, leftover);
    } else {
      ReadRawPixels(stream, row, 0, h.width, h.pixelDepth);
    }
  }
  if (h.descriptor & kTgaRightToLeft) MirrorColumns(false, true);
  return true;
}

// Reads exactly the bytes the map occupies. Pixel value v selects map entry v - first; the
// palette is laid out so that the pixel value stays the index, and values outside the map
// select map entry 0.
void CxImageTGA::ReadColourMap(CxStream* stream, const TgaHeader& h) {
  if (h.colourMapLength == 0) return;
  const uint32_t entryBytes = BytesPerPixel(h.colourMapEntrySize);
  uint8_t map[256 * 4] = {};  // header checks keep the length <= 256 and entries <= 4 bytes
  stream->Read(map, 1, static_cast<size_t>(h.colourMapLength) * entryBytes);
  // True-colour and grey pixels do not use the map: it is only skipped.
  const uint32_t colours = ColoursUsed();
  if (colours == 0 || IsGrey(h.imageType)) return;
  for (uint32_t v = 0; v < colours; ++v) {
    const uint32_t entry = v >= h.colourMapFirst && v - h.colourMapFirst < h.colourMapLength
                               ? v - h.colourMapFirst
                               : 0;
    SetPaletteEntry(static_cast<uint8_t>(v),
                    MapEntryColour(map + entry * entryBytes, h.colourMapEntrySize));
  }
  if (h.colourMapEntrySize == 32) AlphaPaletteEnable(true);
}

// One file pixel (1 to 4 bytes by depth) into column x of the row.
void CxImageTGA::PutPixelValue(uint32_t row, uint32_t x, const uint8_t* v, uint32_t depth) {
  uint8_t* dst = RowPointer(row);
  switch (depth) {
    case 8: dst[x] = v[0]; break;
    case 16:
      if (Bpp() == 8) {  // grey and alpha
        dst[x] = v[0];
        AlphaSetUnchecked(x, row, v[1]);
        break;
      }
      [[fallthrough]];
    case 15: {
      const RgbQuad c = Colour555(LoadU16LE(v));
      dst[3 * x] = c.blue;
      dst[3 * x + 1] = c.green;
      dst[3 * x + 2] = c.red;
      break;
    }
    case 24: std::memcpy(dst + 3 * static_cast<size_t>(x), v, 3); break;
    case 32:
      std::memcpy(dst + 3 * static_cast<size_t>(x), v, 3);
      AlphaSetUnchecked(x, row, v[3]);
      break;
    default: break;
  }
}

void CxImageTGA::ReadRawPixels(CxStream* stream, uint32_t row, uint32_t x0, uint32_t n,
                               uint32_t depth) {
  const uint32_t bpp = BytesPerPixel(depth);
  // Pixels the file does not hold stay as Create left them.
  const size_t got = stream->Read(work_.data(), bpp, n);
  for (uint32_t i = 0; i < got; ++i) PutPixelValue(row, x0 + i, work_.data() + i * bpp, depth);
}

uint8_t CxImageTGA::ReadCompressedLine(CxStream* stream, uint32_t row, uint32_t depth,
                                       uint8_t leftover) {
  const uint32_t width = Width();
  const uint32_t bpp = BytesPerPixel(depth);
  for (uint32_t x = 0; x < width;) {
    uint8_t packet = leftover;
    leftover = kTgaNoLeftover;
    if (packet == kTgaNoLeftover) {
      const long c = stream->GetC();
      if (c < 0) return kTgaNoLeftover;  // the rest of the line stays as Create left it
      packet = static_cast<uint8_t>(c);
    }
    uint32_t count;
    if (packet & 0x80) {
      count = packet - 127u;
      int64_t valuePos = -1;
      if (x + count > width) {
        // The rest of the run continues on the next line, which reads the value again.
        leftover = static_cast<uint8_t>(127 + (x + count - width));
        valuePos = stream->Tell();
        count = width - x;
      }
      uint8_t value[4] = {};
      stream->Read(value, 1, bpp);
      for (uint32_t i = 0; i < count; ++i) PutPixelValue(row, x + i, value, depth);
      if (valuePos >= 0) stream->Seek(valuePos, SEEK_SET);
    } else {
      count = packet + 1u;
      if (x + count > width) {
        leftover = static_cast<uint8_t>(packet + x - width);
        count = width - x;
      }
      ReadRawPixels(stream, row, x, count, depth);
    }
    x += count;
  }
  return leftover;
}
