#include "image/ximatga.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "image/image_format.h"
#include "image/xstream.h"

namespace {

bool IsRunLength(uint8_t type) { return type >= 9 && type <= 11; }
bool IsKnownType(uint8_t type) { return (type >= 1 && type <= 3) || IsRunLength(type); }
bool IsKnownDepth(uint8_t d) { return d == 8 || d == 15 || d == 16 || d == 24 || d == 32; }
uint32_t BytesPerPixel(uint32_t depth) { return (depth + 7) / 8; }

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
  const char* message = nullptr;
  try {
    message = DecodeBody(stream);
  } catch (const std::bad_alloc&) {
    message = "TGA Create failed";
  }
  work_ = {};
  if (message == nullptr) return true;
  if (message[0] != '\0') SetLastError(message);
  return false;
}

const char* CxImageTGA::DecodeBody(CxStream* stream) {
  uint8_t raw[kTgaHeaderSize];
  if (stream->Read(raw, kTgaHeaderSize, 1) != 1) return "Not a TGA";
  const TgaHeader h = ParseTgaHeader(raw);
  if (!IsKnownType(h.imageType)) return "Unknown TGA image type";
  if (h.width == 0 || h.height == 0 || h.pixelDepth == 0 || h.colourMapLength > 256) {
    return "bad TGA header";
  }
  if (!IsKnownDepth(h.pixelDepth)) return "bad TGA header";

  if (Escape() == -1) {
    head.biWidth = h.width;
    head.biHeight = h.height;
    info.formatType = FORMAT_TGA;
    return nullptr;
  }

  stream->Seek(h.idLength, SEEK_CUR);
  if (Create(h.width, h.height, h.pixelDepth, FORMAT_TGA) == nullptr || !IsValid()) {
    return "TGA Create failed";
  }
  if (h.pixelDepth == 32 && !AlphaCreate()) return "TGA Create failed";
  if (Escape() != 0) return "Cancelled";

  if (h.colourMapType != 0) ReadColourMap(stream, h);
  if (h.imageType == 3 || h.imageType == 11) SetGreyPalette();

  work_.assign(static_cast<size_t>(h.width) * 4, 0);
  const bool topDown = (h.descriptor & kTgaTopToBottom) != 0;
  uint8_t leftover = kTgaNoLeftover;
  for (uint32_t y = 0; y < h.height; ++y) {
    if (Escape() != 0) return "Cancelled";
    if (stream->Eof()) return "corrupted TGA";
    // Alpha goes to the same row as the colours, so no separate flip of it is needed.
    const uint32_t row = topDown ? h.height - 1u - y : y;
    if (IsRunLength(h.imageType)) {
      leftover = ReadCompressedLine(stream, row, h.pixelDepth, leftover);
    } else {
      ReadRawPixels(stream, row, 0, h.width, h.pixelDepth);
    }
  }
  if (h.descriptor & kTgaRightToLeft) MirrorColumns(false, true);
  return nullptr;
}

// Always three bytes an entry, B, G, R, whatever entry size the header gives; the first
// index field is not used either.
void CxImageTGA::ReadColourMap(CxStream* stream, const TgaHeader& h) {
  uint8_t bgr[256 * 3] = {};
  stream->Read(bgr, 1, static_cast<size_t>(h.colourMapLength) * 3);
  const uint32_t n = std::min<uint32_t>(h.colourMapLength, ColoursUsed());
  for (uint32_t i = 0; i < n; ++i) {
    SetPaletteEntry(static_cast<uint8_t>(i), bgr[3 * i + 2], bgr[3 * i + 1], bgr[3 * i]);
  }
}

// One file pixel (1 to 4 bytes by depth) into column x of the row.
void CxImageTGA::PutPixelValue(uint32_t row, uint32_t x, const uint8_t* v, uint32_t depth) {
  uint8_t* dst = RowPointer(row);
  switch (depth) {
    case 8: dst[x] = v[0]; break;
    case 15:
    case 16: {
      const uint16_t w = LoadU16LE(v);
      dst[3 * x] = static_cast<uint8_t>((w & 0x1F) << 3);
      dst[3 * x + 1] = static_cast<uint8_t>((w >> 2) & 0xF8);
      dst[3 * x + 2] = static_cast<uint8_t>((w >> 7) & 0xF8);
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
