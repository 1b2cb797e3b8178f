// JPEG 2000 (JP2 boxes or a bare J2K codestream) through OpenJPEG.
#include <openjpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "image/codecs/jas/jas_raster.h"
#include "image/codecs/jpeg2000/jpeg2000_stream.h"
#include "image/core/checked_size.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// Sample storage the decoded image will take, or max() when the header is unusable.
uint64_t DecodedBytes(const opj_image_t* image) {
  constexpr uint64_t kBad = std::numeric_limits<uint64_t>::max();
  if (image->x1 <= image->x0 || image->y1 <= image->y0) return kBad;
  uint64_t total = 0;
  for (OPJ_UINT32 i = 0; i < image->numcomps; ++i) {
    const opj_image_comp_t& c = image->comps[i];
    if (c.dx == 0 || c.dy == 0) return kBad;
    const uint64_t w = CeilDiv(image->x1, c.dx) - CeilDiv(image->x0, c.dx);
    const uint64_t h = CeilDiv(image->y1, c.dy) - CeilDiv(image->y0, c.dy);
    const auto bytes = CheckedSize({w, h, sizeof(int32_t)});
    if (!bytes) return kBad;
    total += *bytes;
  }
  return total;
}

JasColourSpace ColourSpaceOf(OPJ_COLOR_SPACE space) {
  switch (space) {
    case OPJ_CLRSPC_SRGB:
      return JasColourSpace::Rgb;
    case OPJ_CLRSPC_GRAY:
      return JasColourSpace::Grey;
    case OPJ_CLRSPC_SYCC:
    case OPJ_CLRSPC_EYCC:
      return JasColourSpace::Ycc;
    case OPJ_CLRSPC_CMYK:
      return JasColourSpace::Cmyk;
    default:
      return JasColourSpace::Unspecified;
  }
}

// Decodes with a codec and stream already made; the caller frees them.
bool DecodeWith(opj_codec_t* codec, opj_stream_t* stream, OpjClient* client, bool headerOnly,
                JasRaster& raster, std::string& error) {
  opj_dparameters_t params;
  opj_set_default_decoder_parameters(&params);
  if (!opj_setup_decoder(codec, &params)) return false;
  opj_codec_set_threads(codec, 1);
  opj_image_t* image = nullptr;
  if (!opj_read_header(stream, codec, &image) || image == nullptr) {
    if (image != nullptr) opj_image_destroy(image);
    return false;
  }
  raster.keeper = std::shared_ptr<void>(image, [](void* p) {
    opj_image_destroy(static_cast<opj_image_t*>(p));
  });
  raster.componentCount = image->numcomps;
  if (image->numcomps == 0) return false;
  const opj_image_comp_t& first = image->comps[0];
  if (first.dx == 0 || first.dy == 0 || image->x1 <= image->x0 || image->y1 <= image->y0)
    return false;
  raster.width = static_cast<uint32_t>(CeilDiv(image->x1, first.dx) - CeilDiv(image->x0, first.dx));
  raster.height = static_cast<uint32_t>(CeilDiv(image->y1, first.dy) - CeilDiv(image->y0, first.dy));
  raster.colourSpace = ColourSpaceOf(image->color_space);
  if (headerOnly || image->numcomps > 64) return true;
  if (!CheckedSize({DecodedBytes(image)})) {
    error = kMaxMemoryMessage;
    return false;
  }
  if (!opj_decode(codec, stream, image) || !opj_end_decompress(codec, stream)) {
    if (client->lastError[0] != '\0') error = client->lastError;
    return false;
  }
  for (OPJ_UINT32 i = 0; i < image->numcomps; ++i) {
    const opj_image_comp_t& c = image->comps[i];
    if (c.data == nullptr || c.w == 0 || c.h == 0 || c.prec == 0 || c.prec > 31) return false;
    JasComponent out;
    out.width = c.w;
    out.height = c.h;
    out.precision = c.prec;
    out.isSigned = c.sgnd != 0;
    out.isAlpha = c.alpha != 0;
    out.data32 = c.data;
    raster.components.push_back(std::move(out));
  }
  raster.width = raster.components[0].width;
  raster.height = raster.components[0].height;
  return true;
}

}  // namespace

bool ReadJpeg2000(CxStream* stream, uint32_t format, bool headerOnly, JasRaster& raster,
                  std::string& error) {
  OpjClient client;
  client.stream = stream;
  client.base = stream->Tell();
  if (client.base < 0) return false;
  raster.formatType = format;
  opj_codec_t* codec = opj_create_decompress(format == FORMAT_JP2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
  if (codec == nullptr) return false;
  QuietCodec(codec, &client);
  opj_stream_t* s = MakeStream(&client, true);
  bool ok = false;
  if (s != nullptr) {
    ok = DecodeWith(codec, s, &client, headerOnly, raster, error);
    opj_stream_destroy(s);
  }
  opj_destroy_codec(codec);
  return ok;
}
