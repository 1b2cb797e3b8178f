#pragma once
// JPEG codec over libjpeg, with a small Exif reader for the resolution tags.
#include <cstddef>
#include <cstdint>

#include "image/core/image.h"

// What the Exif pre-scan keeps. The resolution and the orientation reach the image; the rest
// is kept for callers that want it.
struct JpegExifInfo {
  char cameraMake[32] = {};
  char cameraModel[40] = {};
  int32_t orientation = 0;  // 1..8, 0 when undefined
  float xResolution = 0.0f;
  float yResolution = 0.0f;
  float resolutionUnit = 0.0f;  // factor to inches; 0 until a unit tag is read
  bool found = false;
  // The pre-scan never fails a decode; its complaints are kept here instead.
  char message[256] = {};
};

// Reads the marker sections of a JPEG stream from its current position up to the start of
// scan and parses every Exif APP1 section found. Returns whether Exif information was found.
bool ScanJpegExif(class CxStream* stream, JpegExifInfo& exif);

// Parses one APP1 section body (starting with "Exif\0\0"). Returns false with a message on
// a malformed block; fields read before the fault are kept.
bool ParseExifSection(const uint8_t* data, size_t length, JpegExifInfo& exif);

// Option bits of the JPEG codec-option word.
constexpr uint32_t kJpegOptionGrey = 0x80;
constexpr uint32_t kJpegOptionQuantise = 0x100;
constexpr uint32_t kJpegOptionDither = 0x200;
constexpr uint32_t kJpegOptionOnePass = 0x400;
constexpr uint32_t kJpegOptionNoSmoothing = 0x800;

class CxImageJPG : public CxImage {
 public:
  CxImageJPG();
  bool Decode(CxStream* stream);
  bool Encode(CxStream* stream);

  const JpegExifInfo& ExifInfo() const { return exif_; }

 private:
  bool DecodeWithLibrary(CxStream* stream);
  void ApplyResolution(bool sawJfif, uint8_t densityUnit, uint16_t xDensity,
                       uint16_t yDensity);

  JpegExifInfo exif_;
};
