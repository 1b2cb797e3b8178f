// Exif pre-scan of JPEG files: walks the marker sections before the first scan and reads
// the resolution (and a few descriptive tags) from the Exif directories. Every byte is
// distrusted; a malformed block only leaves a message behind.
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/codecs/jpeg/jpeg_codec.h"
#include "image/io/stream.h"

namespace {

constexpr int kMaxSections = 20;
constexpr int kMaxPadding = 10;
constexpr int kMaxNesting = 4;

constexpr uint8_t kMarkerSos = 0xDA;
constexpr uint8_t kMarkerEoi = 0xD9;
constexpr uint8_t kMarkerApp1 = 0xE1;

constexpr uint16_t kTagMake = 271;
constexpr uint16_t kTagModel = 272;
constexpr uint16_t kTagOrientation = 274;
constexpr uint16_t kTagXResolution = 282;
constexpr uint16_t kTagYResolution = 283;
constexpr uint16_t kTagResolutionUnit = 296;
constexpr uint16_t kTagExifOffset = 0x8769;
constexpr uint16_t kTagInteropOffset = 0xA005;

// Bytes per component of the TIFF field types 1..12.
constexpr uint32_t kBytesPerFormat[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

void SetMessage(JpegExifInfo& exif, const char* text) {
  std::snprintf(exif.message, sizeof exif.message, "%s", text);
}

struct ExifReader {
  const uint8_t* base;  // start of the TIFF header
  size_t length;        // bytes from base to the end of the section
  bool motorola;
  JpegExifInfo* exif;

  uint16_t U16(const uint8_t* p) const { return motorola ? LoadU16BigEndian(p) : LoadU16LE(p); }
  uint32_t U32(const uint8_t* p) const { return motorola ? LoadU32BigEndian(p) : LoadU32LE(p); }
};

// One component of a field as a number, whatever its TIFF type.
double ConvertAnyFormat(const ExifReader& r, const uint8_t* p, uint16_t format) {
  switch (format) {
    case 1: case 2: case 7: return p[0];
    case 6: return static_cast<int8_t>(p[0]);
    case 3: return r.U16(p);
    case 8: return static_cast<int16_t>(r.U16(p));
    case 4: return r.U32(p);
    case 9: return static_cast<int32_t>(r.U32(p));
    case 5: {
      uint32_t num = r.U32(p), den = r.U32(p + 4);
      return den == 0 ? 0.0 : static_cast<double>(num) / den;
    }
    case 10: {
      int32_t num = static_cast<int32_t>(r.U32(p)), den = static_cast<int32_t>(r.U32(p + 4));
      return den == 0 ? 0.0 : static_cast<double>(num) / den;
    }
    case 11: {
      uint32_t bits = r.U32(p);
      float f;
      std::memcpy(&f, &bits, sizeof f);
      return f;
    }
    case 12: {
      uint64_t bits = (static_cast<uint64_t>(r.U32(r.motorola ? p : p + 4)) << 32) |
                      r.U32(r.motorola ? p + 4 : p);
      double d;
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
    default: return 0.0;
  }
}

void CopyText(char* out, size_t capacity, const uint8_t* p, uint64_t count) {
  size_t n = 0;
  while (n + 1 < capacity && n < count && p[n] != 0) {
    out[n] = static_cast<char>(p[n]);
    ++n;
  }
  out[n] = '\0';
}

float UnitFactor(int code, float current) {
  switch (code) {
    case 1: case 2: return 1.0f;
    case 3: return 0.3937008f;
    case 4: return 0.03937008f;
    case 5: return 0.00003937008f;
    default: return current;
  }
}

bool ProcessDirectory(const ExifReader& r, size_t dirOffset, int nesting);

bool ProcessEntry(const ExifReader& r, const uint8_t* entry, int nesting) {
  JpegExifInfo& exif = *r.exif;
  uint16_t tag = r.U16(entry);
  uint16_t format = r.U16(entry + 2);
  uint32_t components = r.U32(entry + 4);
  if (format < 1 || format > 12) {
    SetMessage(exif, "Illegal format code in EXIF dir");
    return false;
  }
  uint64_t byteCount = static_cast<uint64_t>(components) * kBytesPerFormat[format];
  const uint8_t* value = entry + 8;
  if (byteCount > 4) {
    uint32_t offset = r.U32(entry + 8);
    if (static_cast<uint64_t>(offset) + byteCount > r.length) {
      SetMessage(exif, "Illegal pointer offset value in EXIF.");
      return false;
    }
    value = r.base + offset;
  }
  if (byteCount == 0) return true;
  switch (tag) {
    case kTagMake:
      CopyText(exif.cameraMake, sizeof exif.cameraMake, value, byteCount);
      break;
    case kTagModel:
      CopyText(exif.cameraModel, sizeof exif.cameraModel, value, byteCount);
      break;
    case kTagOrientation: {
      double v = ConvertAnyFormat(r, value, format);
      if (v >= 1 && v <= 8) {
        exif.orientation = static_cast<int32_t>(v);
      } else {
        SetMessage(exif, "Undefined rotation value");
        exif.orientation = 0;
      }
      break;
    }
    case kTagXResolution:
      exif.xResolution = static_cast<float>(ConvertAnyFormat(r, value, format));
      break;
    case kTagYResolution:
      exif.yResolution = static_cast<float>(ConvertAnyFormat(r, value, format));
      break;
    case kTagResolutionUnit: {
      double v = ConvertAnyFormat(r, value, format);
      int code = (v >= 0 && v < 16) ? static_cast<int>(v) : 0;
      exif.resolutionUnit = UnitFactor(code, exif.resolutionUnit);
      break;
    }
    case kTagExifOffset:
    case kTagInteropOffset: {
      if (byteCount < 4) break;
      uint32_t sub = r.U32(value);
      if (sub >= r.length) {
        SetMessage(exif, "Illegal subdirectory link");
        return false;
      }
      return ProcessDirectory(r, sub, nesting + 1);
    }
    default:
      break;
  }
  return true;
}

bool ProcessDirectory(const ExifReader& r, size_t dirOffset, int nesting) {
  if (nesting > kMaxNesting) {
    SetMessage(*r.exif, "Maximum directory nesting exceeded (corrupt exif header)");
    return false;
  }
  if (dirOffset + 2 > r.length) {
    SetMessage(*r.exif, "Illegally sized directory");
    return false;
  }
  const uint8_t* dir = r.base + dirOffset;
  uint32_t entries = r.U16(dir);
  if (dirOffset + 2 + static_cast<uint64_t>(entries) * 12 > r.length) {
    SetMessage(*r.exif, "Illegally sized directory");
    return false;
  }
  for (uint32_t i = 0; i < entries; ++i) {
    if (!ProcessEntry(r, dir + 2 + 12 * static_cast<size_t>(i), nesting)) return false;
  }
  return true;
}

}  // namespace

bool ParseExifSection(const uint8_t* data, size_t length, JpegExifInfo& exif) {
  static const uint8_t kHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (length < 6 || std::memcmp(data, kHeader, 6) != 0) {
    SetMessage(exif, "Incorrect Exif header");
    return false;
  }
  if (length < 6 + 8) {
    SetMessage(exif, "Invalid Exif alignment marker.");
    return false;
  }
  ExifReader r{data + 6, length - 6, false, &exif};
  if (r.base[0] == 'I' && r.base[1] == 'I') {
    r.motorola = false;
  } else if (r.base[0] == 'M' && r.base[1] == 'M') {
    r.motorola = true;
  } else {
    SetMessage(exif, "Invalid Exif alignment marker.");
    return false;
  }
  if (r.U16(r.base + 2) != 42) {
    SetMessage(exif, "Invalid Exif start (1)");
    return false;
  }
  // The first directory normally sits right behind the header; some writers leave a gap
  // and store its real place, which is read as well.
  uint32_t firstOffset = r.U32(r.base + 4);
  bool ok = ProcessDirectory(r, 8, 0);
  if (firstOffset > 8) ok = ProcessDirectory(r, firstOffset, 0) || ok;
  return ok;
}

bool ScanJpegExif(CxStream* stream, JpegExifInfo& exif) {
  if (stream == nullptr) return false;
  if (stream->GetC() != 0xFF || stream->GetC() != 0xD8) return false;
  std::vector<uint8_t> section(65536);
  bool found = false;
  for (int sections = 0;; ++sections) {
    if (sections >= kMaxSections) {
      SetMessage(exif, "Too many sections in jpg file");
      return found;
    }
    long c = stream->GetC();
    if (c < 0) {
      SetMessage(exif, "Premature end of file?");
      return found;
    }
    if (c != 0xFF) {
      SetMessage(exif, "invalid marker");
      return found;
    }
    int padding = 0;
    do {
      c = stream->GetC();
      if (c < 0) {
        SetMessage(exif, "Premature end of file?");
        return found;
      }
      if (++padding > kMaxPadding) {
        SetMessage(exif, "too many padding bytes!");
        return found;
      }
    } while (c == 0xFF);
    const uint8_t marker = static_cast<uint8_t>(c);
    if (marker == kMarkerEoi) {
      SetMessage(exif, "No image in jpeg!\n");
      return found;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;  // no length field
    long hi = stream->GetC();
    long lo = stream->GetC();
    if (hi < 0 || lo < 0) {
      SetMessage(exif, "Premature end of file?");
      return found;
    }
    const size_t length = static_cast<size_t>((hi << 8) | lo);
    if (length < 2) {
      SetMessage(exif, "invalid marker");
      return found;
    }
    const size_t body = length - 2;
    if (stream->Read(section.data(), 1, body) != body) {
      SetMessage(exif, "Premature end of file?");
      return found;
    }
    if (marker == kMarkerSos) return found;
    if (marker == kMarkerApp1 && body >= 4 && std::memcmp(section.data(), "Exif", 4) == 0) {
      if (ParseExifSection(section.data(), body, exif)) found = true;
    }
  }
}
