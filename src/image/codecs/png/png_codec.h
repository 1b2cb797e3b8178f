#pragma once
// PNG codec over libpng.
#include <cstdint>

#include "image/core/image.h"

// How the encoder compresses. The defaults suit the temporary frame images: they are
// written once, read once by a tracer and deleted, so speed counts and size hardly does.
struct PngWriteSettings {
  int zlibLevel;     // 0..9
  int filters;       // mask of PNG_FILTER_* values; -1 leaves the library's choice
  int zlibStrategy;  // Z_DEFAULT_STRATEGY, Z_FILTERED, Z_RLE...; -1 leaves the library's
};

// Library state of one decode or encode (defined where they are used).
struct PngReadContext;
struct PngWriteContext;

// Largest width or height the decoder accepts; the memory limit of Create still applies.
constexpr uint32_t kPngMaxDimension = 1u << 20;

// What writing `source` as a PNG and reading it back gives, without compressing anything:
// the same pixels; the palette cut to the entries the file would hold (the important count,
// at least up to the highest index in use) and those alone; transparency as the file holds
// it (a transparent palette index other than 0 as palette alpha, an alpha plane with a
// palette as colour + alpha, a transparent index beside an alpha plane dropped); the
// resolution through whole pixels per metre. `out` is replaced; false, with the reason in
// out's error text, when its storage cannot be had.
bool ReadBackAsPng(const CxImage& source, CxImage& out);

class CxImagePNG : public CxImage {
 public:
  CxImagePNG();
  bool Decode(CxStream* stream);
  bool Encode(CxStream* stream);

  // Reads the picture straight to one bit per pixel, a row at a time, each row put over white
  // and split at `level` exactly as CompositeOverWhite and ApplyThreshold split the whole
  // picture, which is never held at its own depth: for pictures that go only to the outline
  // tracer. The result has the bitonal palette and the file's resolution. Interlaced and
  // 1-bit pictures are not read this way (they fail).
  bool DecodeBitonal(CxStream* stream, uint8_t level);

  static PngWriteSettings DefaultWriteSettings();
  void SetWriteSettings(const PngWriteSettings& settings) { writeSettings_ = settings; }
  // Off: every picture is read row by row through the library (the whole-picture reading
  // is checked against it).
  void SetWholePictureReads(bool on) { wholeReads_ = on; }

 private:
  bool ReadWithLibrary(PngReadContext* ctx);
  bool PrepareImage(PngReadContext* ctx);
  void ReadPixels(PngReadContext* ctx);
  // With `bitonal`, each row is reduced into it as it is read (the image holds one row).
  bool ReadPixelsWhole(PngReadContext* ctx, CxImage* bitonal = nullptr);
  bool ReadPixelsBitonal(PngReadContext* ctx, CxImage& bitonal);
  bool ReduceRow(CxImage& bitonal, uint32_t y);
  bool WriteWithLibrary(PngWriteContext* ctx);

  PngWriteSettings writeSettings_;
  bool wholeReads_ = true;
  int bitonalLevel_ = -1;  // 0..255 while DecodeBitonal reads
  RowGreys split_;          // how its rows are split, when splitsRows_
  bool splitsRows_ = false;  // else rows need the whole reduction
};
