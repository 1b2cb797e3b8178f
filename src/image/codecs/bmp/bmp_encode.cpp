// BMP writer: uncompressed rows after the file and info headers.
#include "image/codecs/bmp/bmp_codec.h"

#include <cstring>
#include <vector>

#include "image/io/stream.h"

bool CxImageBMP::Encode(CxStream* s) {
  if (!CheckEncodable(s)) return false;
  const uint32_t paletteBytes = PaletteByteSize();
  const uint32_t totalSize = sizeof(BitmapInfoHeader) + paletteBytes + ImageSize();
  uint8_t fh[14] = {};
  StoreU16LE(fh, kBmpSignature);
  StoreU32LE(fh + 2, totalSize + 14);
  StoreU32LE(fh + 10, 14 + sizeof(BitmapInfoHeader) + paletteBytes);
  bool ok = true;

  if (ColoursUsed() == 0 && HasAlpha()) {
    BitmapInfoHeader h = head;
    h.biCompression = kBmpUncompressed;
    h.biBitCount = 32;
    h.biSizeImage = 4 * Width() * Height();
    StoreU32LE(fh + 2, 14 + sizeof(BitmapInfoHeader) + h.biSizeImage);
    uint8_t ih[40];
    SerializeInfoHeader(h, ih);
    ok = s->Write(fh, sizeof(fh), 1) == 1 && s->Write(ih, sizeof(ih), 1) == 1;
    std::vector<uint8_t> row(static_cast<size_t>(Width()) * 4);
    for (uint32_t y = 0; ok && y < Height(); ++y) {
      const uint8_t* src = RowPointer(y);
      for (uint32_t x = 0; x < Width(); ++x) {
        std::memcpy(&row[4 * size_t{x}], src + 3 * size_t{x}, 3);
        row[4 * size_t{x} + 3] = AlphaGetUnchecked(x, y);
      }
      ok = s->Write(row.data(), 1, row.size()) == row.size();
    }
  } else {
    // Header, palette and rows lie one after the other in the block.
    SyncHeader();
    uint8_t ih[40];
    SerializeInfoHeader(head, ih);
    ok = s->Write(fh, sizeof(fh), 1) == 1 && s->Write(ih, sizeof(ih), 1) == 1 &&
         s->Write(dib + sizeof(BitmapInfoHeader), 1, totalSize - sizeof(BitmapInfoHeader)) ==
             totalSize - sizeof(BitmapInfoHeader);
  }
  if (!ok) return Fail("Write Error");
  return true;
}

void CxImageBMP::SerializeInfoHeader(const BitmapInfoHeader& h, uint8_t out[40]) {
  StoreU32LE(out, h.biSize);
  StoreU32LE(out + 4, static_cast<uint32_t>(h.biWidth));
  StoreU32LE(out + 8, static_cast<uint32_t>(h.biHeight));
  StoreU16LE(out + 12, h.biPlanes);
  StoreU16LE(out + 14, h.biBitCount);
  StoreU32LE(out + 16, h.biCompression);
  StoreU32LE(out + 20, h.biSizeImage);
  StoreU32LE(out + 24, static_cast<uint32_t>(h.biXPelsPerMeter));
  StoreU32LE(out + 28, static_cast<uint32_t>(h.biYPelsPerMeter));
  StoreU32LE(out + 32, h.biClrUsed);
  StoreU32LE(out + 36, h.biClrImportant);
}
