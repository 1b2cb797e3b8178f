#pragma once
// Reads a TIFF directory's samples as bands of interleaved picture rows, whatever the
// storage (strips or tiles, contiguous or separate planes).
#include <tiffio.h>

#include <cstdint>
#include <vector>

struct TiffLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t samples = 1;
  uint16_t bits = 1;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t orientation = ORIENTATION_TOPLEFT;
  uint16_t planar = PLANARCONFIG_CONTIG;
  uint32_t rowsPerStrip = 0;
  bool tiled = false;
  uint32_t tileWidth = 0;
  uint32_t tileLength = 0;
};

// Bytes of one interleaved row: width x samples x bits, rounded up to whole bytes.
uint64_t InterleavedRowBytes(const TiffLayout& layout);

// One sample of an interleaved row: 8, 16, 24 and 32 bits as libtiff delivers them (host
// order), 64 bits as its high half, other sizes as a most-significant-bit-first bit field.
uint32_t TiffSampleAt(const uint8_t* row, uint64_t index, uint16_t bits);

class TiffBandReader {
 public:
  // False when the band or the library's strip/tile would not fit the memory limit.
  bool Init(TIFF* tif, const TiffLayout& layout);
  uint32_t BandRows() const { return bandRows_; }
  uint64_t RowPitch() const { return pitch_; }
  // Reads the band starting at picture row `first` (a multiple of BandRows); *count gets
  // the number of rows it holds. False when the library failed on some strip or tile;
  // rows it could not read are zero.
  bool Read(uint32_t first, uint32_t* count);
  const uint8_t* Row(uint32_t i) const { return band_.data() + static_cast<size_t>(i) * pitch_; }

 private:
  bool ReadStrips(uint32_t first, uint32_t count);
  bool ReadTiles(uint32_t first, uint32_t count);
  void CopyPlaneRow(uint8_t* dst, const uint8_t* src, uint32_t x0, uint32_t pixels,
                    uint16_t sample) const;

  TIFF* tif_ = nullptr;
  TiffLayout layout_;
  bool separate_ = false;
  uint32_t bandRows_ = 0;
  uint64_t pitch_ = 0;
  uint64_t unitRowBytes_ = 0;  // one row of a strip or tile as the library returns it
  std::vector<uint8_t> band_;
  std::vector<uint8_t> scratch_;
};
