// JPEG encoding over libjpeg (RGB and grey images). Like the decoder, the function that
// drives the library holds nothing with a destructor, since errors leave it by longjmp.
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

#include "image/codecs/jpeg/jpeg_codec.h"
#include "image/codecs/jpeg/jpeg_errors.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

constexpr size_t kDestinationBufferSize = 4096;

struct JpegStreamDestination {
  jpeg_destination_mgr pub;
  CxStream* stream;
  JOCTET buffer[kDestinationBufferSize];
};

void DestinationInit(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegStreamDestination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kDestinationBufferSize;
}

boolean DestinationEmpty(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegStreamDestination*>(cinfo->dest);
  if (dest->stream->Write(dest->buffer, 1, kDestinationBufferSize) != kDestinationBufferSize) {
    ERREXIT(cinfo, JERR_FILE_WRITE);
  }
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kDestinationBufferSize;
  return TRUE;
}

void DestinationTerm(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegStreamDestination*>(cinfo->dest);
  const size_t pending = kDestinationBufferSize - dest->pub.free_in_buffer;
  if (pending > 0 && dest->stream->Write(dest->buffer, 1, pending) != pending) {
    ERREXIT(cinfo, JERR_FILE_WRITE);
  }
  if (!dest->stream->Flush()) ERREXIT(cinfo, JERR_FILE_WRITE);
}

uint16_t DensityOf(int32_t dpi) {
  if (dpi < 1) return 1;
  return dpi > 65535 ? 65535 : static_cast<uint16_t>(dpi);
}

}  // namespace

bool CxImageJPG::Encode(CxStream* stream) {
  if (!CheckEncodable(stream)) return false;
  const bool grey = Bpp() == 8 && IsGreyRamp();
  if (Bpp() != 24 && !grey) return Fail("JPEG can save only RGB or GreyScale images");

  jpeg_compress_struct cinfo;
  JpegErrorManager jerr;
  JpegStreamDestination dest;
  cinfo.err = UseJpegErrorManager(jerr);
  if (setjmp(jerr.jump)) {
    SetLastError(jerr.message);
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  dest.pub.init_destination = DestinationInit;
  dest.pub.empty_output_buffer = DestinationEmpty;
  dest.pub.term_destination = DestinationTerm;
  dest.stream = stream;
  cinfo.dest = &dest.pub;

  cinfo.image_width = Width();
  cinfo.image_height = Height();
  cinfo.input_components = grey ? 1 : 3;
  cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, JpegQuality(), TRUE);
  cinfo.density_unit = 1;
  cinfo.X_density = DensityOf(ResolutionX());
  cinfo.Y_density = DensityOf(ResolutionY());
  jpeg_start_compress(&cinfo, TRUE);
  const uint32_t height = Height();
  while (cinfo.next_scanline < height) {
    JSAMPROW row = RowPointer(height - 1 - cinfo.next_scanline);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}
