// JPEG decoding over libjpeg. The library reports errors by longjmp, so the functions that
// call it keep no objects with destructors in their frames.
#include "image/codecs/jpeg/jpeg_codec.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <utility>

#include <jpeglib.h>
#include <jerror.h>

#include "image/codecs/jpeg/jpeg_errors.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

constexpr size_t kSourceBufferSize = 4096;
// Progressive files with thousands of tiny scans cost minutes while adding nothing.
constexpr int kMaxScans = 500;

void LimitScans(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number <= kMaxScans) return;
  auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  std::snprintf(err->message, sizeof err->message, "Too many scans in JPEG file");
  longjmp(err->jump, 1);
}

struct JpegStreamSource {
  jpeg_source_mgr pub;
  CxStream* stream;
  bool startOfFile;
  JOCTET buffer[kSourceBufferSize];
};

void SourceInit(j_decompress_ptr cinfo) {
  reinterpret_cast<JpegStreamSource*>(cinfo->src)->startOfFile = true;
}

// A file that ends early is completed with an end-of-image marker, so the library finishes
// the picture with what it has.
boolean SourceFill(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<JpegStreamSource*>(cinfo->src);
  size_t n = src->stream->Read(src->buffer, 1, kSourceBufferSize);
  if (n == 0) {
    if (src->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    n = 2;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = n;
  src->startOfFile = false;
  return TRUE;
}

void SourceSkip(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  auto* src = reinterpret_cast<JpegStreamSource*>(cinfo->src);
  size_t remaining = static_cast<size_t>(count);
  while (remaining > src->pub.bytes_in_buffer) {
    remaining -= src->pub.bytes_in_buffer;
    SourceFill(cinfo);
  }
  src->pub.next_input_byte += remaining;
  src->pub.bytes_in_buffer -= remaining;
}

void SourceTerm(j_decompress_ptr) {}

void AttachSource(j_decompress_ptr cinfo, JpegStreamSource* src, CxStream* stream) {
  src->pub.init_source = SourceInit;
  src->pub.fill_input_buffer = SourceFill;
  src->pub.skip_input_data = SourceSkip;
  src->pub.resync_to_restart = jpeg_resync_to_restart;
  src->pub.term_source = SourceTerm;
  src->pub.bytes_in_buffer = 0;
  src->pub.next_input_byte = nullptr;
  src->stream = stream;
  src->startOfFile = true;
  cinfo->src = &src->pub;
}

void ApplyOptions(jpeg_decompress_struct& cinfo, uint32_t options, uint8_t quality,
                  uint8_t ditherMode, uint8_t scale) {
  if (options & kJpegOptionGrey) cinfo.out_color_space = JCS_GRAYSCALE;
  if (options & kJpegOptionQuantise) {
    cinfo.quantize_colors = TRUE;
    cinfo.desired_number_of_colors = quality;
  }
  if ((options & kJpegOptionDither) && ditherMode <= JDITHER_FS) {
    cinfo.dither_mode = static_cast<J_DITHER_MODE>(ditherMode);
  }
  if (options & kJpegOptionOnePass) cinfo.two_pass_quantize = FALSE;
  if (options & kJpegOptionNoSmoothing) cinfo.do_fancy_upsampling = FALSE;
  // A denominator of 0 would make the library enlarge the picture.
  if (scale != 0) cinfo.scale_denom = scale;
}

// Adobe CMYK is stored inverted, so multiplying by K gives the visible colour.
void CmykRowToBgr(const JSAMPLE* src, uint8_t* dst, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
    const unsigned k = src[3];
    dst[0] = static_cast<uint8_t>(k * src[2] / 255);
    dst[1] = static_cast<uint8_t>(k * src[1] / 255);
    dst[2] = static_cast<uint8_t>(k * src[0] / 255);
  }
}

}  // namespace

CxImageJPG::CxImageJPG() : CxImage(FORMAT_JPG) {}

bool CxImageJPG::Decode(CxStream* stream) {
  if (stream == nullptr) return false;
  exif_ = JpegExifInfo{};
  const int64_t start = stream->Tell();
  exif_.found = ScanJpegExif(stream, exif_);
  stream->Seek(start, SEEK_SET);
  if (!DecodeWithLibrary(stream)) return false;
  // The picture as the camera was held: the Exif orientation turns it upright, as TIFF's does.
  const uint32_t orientation = static_cast<uint32_t>(exif_.orientation);
  if (Escape() == -1) {
    if (orientation >= 5 && orientation <= 8) std::swap(head.biWidth, head.biHeight);
    return true;
  }
  return TurnToOrientation(orientation);
}

void CxImageJPG::ApplyResolution(bool sawJfif, uint8_t densityUnit, uint16_t xDensity,
                                 uint16_t yDensity) {
  bool fromExif = false;
  if (exif_.found && exif_.resolutionUnit != 0.0f) {
    if (exif_.xResolution != 0.0f) {
      SetResolutionX(static_cast<int32_t>(exif_.xResolution / exif_.resolutionUnit));
      fromExif = true;
    }
    if (exif_.yResolution != 0.0f) {
      SetResolutionY(static_cast<int32_t>(exif_.yResolution / exif_.resolutionUnit));
      fromExif = true;
    }
  }
  // An Exif block without usable resolution tags leaves the JFIF density in charge.
  if (fromExif) return;
  (void)sawJfif;
  if (densityUnit == 0) {
    if (xDensity > 0 && yDensity > 0) {
      SetResolutionY(static_cast<int32_t>(static_cast<double>(ResolutionX()) * yDensity /
                                          xDensity));
    }
  } else if (densityUnit == 2) {
    SetResolutionX(static_cast<int32_t>(xDensity * 2.54 + 0.5));
    SetResolutionY(static_cast<int32_t>(yDensity * 2.54 + 0.5));
  } else {
    SetResolutionX(xDensity);
    SetResolutionY(yDensity);
  }
}

bool CxImageJPG::DecodeWithLibrary(CxStream* stream) {
  jpeg_decompress_struct cinfo;
  JpegErrorManager jerr;
  jpeg_progress_mgr progress;
  JpegStreamSource source;

  cinfo.err = UseJpegErrorManager(jerr);
  if (setjmp(jerr.jump)) {
    SetLastError(jerr.message);
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  progress.progress_monitor = LimitScans;
  cinfo.progress = &progress;
  AttachSource(&cinfo, &source, stream);

  jpeg_read_header(&cinfo, TRUE);
  const uint32_t options = CodecOptions(FORMAT_JPG);
  ApplyOptions(cinfo, options, JpegQuality(), info.ditherMode, JpegScale());
  const bool quantised = cinfo.quantize_colors != FALSE;
  // The library can hand over B, G, R directly, which is how the rows are stored.
  if (!quantised && cinfo.out_color_space == JCS_RGB) cinfo.out_color_space = JCS_EXT_BGR;

  if (Escape() == -1) {
    jpeg_calc_output_dimensions(&cinfo);
    ReturnDimensions(cinfo.output_width, cinfo.output_height, FORMAT_JPG);
    jpeg_destroy_decompress(&cinfo);
    return true;
  }

  jpeg_start_decompress(&cinfo);
  const uint32_t width = cinfo.output_width;
  const uint32_t height = cinfo.output_height;
  const int components = cinfo.output_components;
  if (Create(width, height, 8 * static_cast<uint32_t>(components), FORMAT_JPG) == nullptr) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  ApplyResolution(cinfo.saw_JFIF_marker != FALSE, cinfo.density_unit, cinfo.X_density,
                  cinfo.Y_density);

  if (quantised) {
    const int colours = cinfo.actual_number_of_colors;
    const int mapComponents = cinfo.out_color_components;
    for (int i = 0; i < colours && i < 256; ++i) {
      const uint8_t r = cinfo.colormap[0][i];
      const uint8_t g = mapComponents >= 3 ? cinfo.colormap[1][i] : r;
      const uint8_t b = mapComponents >= 3 ? cinfo.colormap[2][i] : r;
      SetPaletteEntry(static_cast<uint8_t>(i), r, g, b);
    }
    SetColoursImportant(static_cast<uint32_t>(colours));
  } else if (components == 1) {
    SetGreyPalette();
  }

  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                              JPOOL_IMAGE,
                                              width * static_cast<JDIMENSION>(components), 1);
  const bool cmyk = !quantised && components == 4;
  const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(components);
  const size_t copyBytes = rowBytes < Stride() ? rowBytes : Stride();
  while (cinfo.output_scanline < height) {
    if (Escape() != 0) {
      SetLastError("Cancelled");
      jpeg_destroy_decompress(&cinfo);
      return false;
    }
    const JDIMENSION line = cinfo.output_scanline;
    if (jpeg_read_scanlines(&cinfo, row, 1) != 1) ERREXIT(&cinfo, JERR_INPUT_EOF);
    uint8_t* dst = RowPointer(height - 1 - line);
    if (cmyk) {
      CmykRowToBgr(row[0], dst, width);
    } else {
      std::memcpy(dst, row[0], copyBytes);
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}
