#pragma once
// The decoded form that every reader behind CxImageJAS delivers: a set of components
// (planes of unsigned samples) that the codec then turns into a CxImage.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CxStream;

struct JasComponent {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t precision = 8;      // bits per sample, 1 to 32
  bool isSigned = false;       // samples range over +-2^(precision-1)
  bool isAlpha = false;
  const int32_t* data32 = nullptr;  // library-owned samples, row-major from the top
  std::vector<uint16_t> data16;     // or our own readers' samples

  int64_t At(uint32_t x, uint32_t y) const {
    const size_t i = static_cast<size_t>(y) * width + x;
    return data32 != nullptr ? data32[i] : data16[i];
  }
};

enum class JasColourSpace { Unspecified, Grey, Rgb, Ycc, Cmyk };

struct JasRaster {
  uint32_t formatType = 0;   // FORMAT_JP2 ... FORMAT_RAS, as recognised
  uint32_t width = 0;        // of component 0
  uint32_t height = 0;
  uint32_t componentCount = 0;  // known after the header
  JasColourSpace colourSpace = JasColourSpace::Unspecified;
  std::vector<JasComponent> components;
  std::shared_ptr<void> keeper;  // library image that owns data32
};

// The format of the data at the start of `head` (n bytes): FORMAT_JP2, FORMAT_JPC,
// FORMAT_PGX, FORMAT_PNM, FORMAT_RAS, or 0.
uint32_t JasDetectFormat(const uint8_t* head, size_t n);

// Each reader starts at the stream's current position. With headerOnly it stops after
// the header (width, height, componentCount). On failure it returns false with a reason.
bool ReadPnm(CxStream* stream, bool headerOnly, JasRaster& raster, std::string& error);
bool ReadPgx(CxStream* stream, bool headerOnly, JasRaster& raster, std::string& error);
bool ReadRas(CxStream* stream, bool headerOnly, JasRaster& raster, std::string& error);
bool ReadJpeg2000(CxStream* stream, uint32_t format, bool headerOnly, JasRaster& raster,
                  std::string& error);

// Writers for an image given as 1 (grey) or 3 (red, green, blue) planes of 8-bit samples,
// row-major from the top.
struct JasPlanes {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t count = 0;
  std::vector<uint8_t> samples[3];
};
// Byte output for the simple writers; each is false when the stream refuses the bytes.
bool JasPut(CxStream* stream, const void* data, size_t n);
bool JasPutText(CxStream* stream, const std::string& text);
bool JasPutU32BE(CxStream* stream, uint32_t v);
// One picture row, channels interleaved in the given order.
void JasInterleave(const JasPlanes& planes, uint32_t y, const uint32_t* order,
                   std::vector<uint8_t>& row);

bool WritePnm(CxStream* stream, const JasPlanes& planes);
bool WritePgx(CxStream* stream, const JasPlanes& planes);
bool WriteRas(CxStream* stream, const JasPlanes& planes);
bool WriteJpeg2000(CxStream* stream, uint32_t format, const JasPlanes& planes, float quality,
                   std::string& error);

// Buffered byte reader over a stream, for the text-headed formats.
class JasByteReader {
 public:
  explicit JasByteReader(CxStream* stream);
  int Peek();  // -1 at end
  int Get();   // -1 at end
  // Copies up to n bytes; returns how many were there.
  size_t Read(uint8_t* out, size_t n);
  // Bytes left in the stream (buffered ones included).
  uint64_t Remaining();

 private:
  bool Fill();
  CxStream* stream_;
  std::vector<uint8_t> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
};

// Reads an unsigned decimal number that starts at the current byte and is no larger than
// limit; false when there is no digit or the value is too large.
bool ReadDecimal(JasByteReader& in, uint32_t limit, uint32_t& out);
