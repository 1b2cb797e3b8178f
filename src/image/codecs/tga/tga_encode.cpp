#include <cstring>
#include <vector>

#include "image/codecs/tga/tga_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"

void StoreTgaHeader(const TgaHeader& h, uint8_t* b) {
  b[0] = h.idLength;
  b[1] = h.colourMapType;
  b[2] = h.imageType;
  StoreU16LE(b + 3, h.colourMapFirst);
  StoreU16LE(b + 5, h.colourMapLength);
  b[7] = h.colourMapEntrySize;
  StoreU16LE(b + 8, h.xOrigin);
  StoreU16LE(b + 10, h.yOrigin);
  StoreU16LE(b + 12, h.width);
  StoreU16LE(b + 14, h.height);
  b[16] = h.pixelDepth;
  b[17] = h.descriptor;
}

bool CxImageTGA::Encode(CxStream* stream) {
  if (!CheckEncodable(stream)) return false;
  return EncodeBody(stream);
}

bool CxImageTGA::EncodeBody(CxStream* stream) {
  if (Bpp() < 8) return Fail("Bit depth must be 8 or 24");
  // The size fields are 16 bits: a larger image cannot be described.
  if (Width() > 0xFFFF || Height() > 0xFFFF) return Fail("Image too large for TGA");
  const bool paletted = Bpp() == 8;
  const bool alpha = !paletted && HasAlpha();

  TgaHeader h;
  h.colourMapType = ColoursUsed() != 0 ? 1 : 0;
  h.imageType = paletted ? 1 : 2;
  h.colourMapLength = paletted ? 256 : 0;
  h.colourMapEntrySize = paletted ? 24 : 0;
  h.width = static_cast<uint16_t>(Width());
  h.height = static_cast<uint16_t>(Height());
  h.pixelDepth = static_cast<uint8_t>(alpha ? 32 : Bpp());

  std::vector<uint8_t> out(kTgaHeaderSize);
  StoreTgaHeader(h, out.data());
  if (paletted) {
    for (uint32_t i = 0; i < 256; ++i) {
      const RgbQuad c = PaletteEntry(static_cast<uint8_t>(i));
      out.insert(out.end(), {c.blue, c.green, c.red});
    }
  }
  if (stream->Write(out.data(), 1, out.size()) != out.size()) return Fail("cannot write TGA header");

  // Rows bottom first, the order the image keeps them in.
  for (uint32_t y = 0; y < Height(); ++y) {
    const uint8_t* src = RowPointer(y);
    out.clear();
    if (alpha) {
      for (uint32_t x = 0; x < Width(); ++x) {
        out.insert(out.end(), {src[3 * x], src[3 * x + 1], src[3 * x + 2], AlphaGetUnchecked(x, y)});
      }
    } else {
      out.assign(src, src + static_cast<size_t>(Width()) * (paletted ? 1 : 3));
    }
    if (stream->Write(out.data(), 1, out.size()) != out.size()) return Fail("cannot write TGA data");
  }
  return true;
}
