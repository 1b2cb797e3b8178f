// JPEG 2000 (JP2 boxes or a bare J2K codestream) through OpenJPEG.
#include <openjpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "image/codecs/jas/jas_raster.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

struct OpjClient {
  CxStream* stream = nullptr;
  int64_t base = 0;
  char lastError[256] = {};
};

OPJ_SIZE_T ReadFn(void* buffer, OPJ_SIZE_T n, void* user) {
  OpjClient* c = static_cast<OpjClient*>(user);
  const size_t got = c->stream->Read(buffer, 1, n);
  return got == 0 ? static_cast<OPJ_SIZE_T>(-1) : got;
}

OPJ_SIZE_T WriteFn(void* buffer, OPJ_SIZE_T n, void* user) {
  OpjClient* c = static_cast<OpjClient*>(user);
  const size_t put = c->stream->Write(buffer, 1, n);
  return put == n ? put : static_cast<OPJ_SIZE_T>(-1);
}

OPJ_OFF_T SkipFn(OPJ_OFF_T n, void* user) {
  OpjClient* c = static_cast<OpjClient*>(user);
  const int64_t at = c->stream->Tell();
  if (at < 0 || (n > 0 && at > std::numeric_limits<int64_t>::max() - n)) return -1;
  if (at + n < c->base) return -1;
  return c->stream->Seek(at + n, SEEK_SET) ? n : -1;
}

OPJ_BOOL SeekFn(OPJ_OFF_T position, void* user) {
  OpjClient* c = static_cast<OpjClient*>(user);
  if (position < 0 || position > std::numeric_limits<int64_t>::max() - c->base) return OPJ_FALSE;
  return c->stream->Seek(c->base + position, SEEK_SET) ? OPJ_TRUE : OPJ_FALSE;
}

void KeepError(const char* msg, void* user) {
  OpjClient* c = static_cast<OpjClient*>(user);
  snprintf(c->lastError, sizeof c->lastError, "%s", msg);
  // The library ends its lines with a newline; the image keeps a bare message.
  const size_t n = strlen(c->lastError);
  if (n > 0 && c->lastError[n - 1] == '\n') c->lastError[n - 1] = '\0';
}

void Ignore(const char*, void*) {}

opj_stream_t* MakeStream(OpjClient* client, bool input) {
  opj_stream_t* s = opj_stream_create(65536, input ? OPJ_TRUE : OPJ_FALSE);
  if (s == nullptr) return nullptr;
  opj_stream_set_user_data(s, client, nullptr);
  if (input) {
    const int64_t size = client->stream->Size();
    opj_stream_set_user_data_length(
        s, size > client->base ? static_cast<OPJ_UINT64>(size - client->base) : 0);
    opj_stream_set_read_function(s, ReadFn);
  } else {
    opj_stream_set_write_function(s, WriteFn);
  }
  opj_stream_set_skip_function(s, SkipFn);
  opj_stream_set_seek_function(s, SeekFn);
  return s;
}

void QuietCodec(opj_codec_t* codec, OpjClient* client) {
  opj_set_error_handler(codec, KeepError, client);
  opj_set_warning_handler(codec, Ignore, client);
  opj_set_info_handler(codec, Ignore, client);
}

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
    total += w * h * 4;
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
  if (DecodedBytes(image) > JasMemoryLimit()) {
    error = "CXIMAGE_MAX_MEMORY exceeded";
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

bool WriteJpeg2000(CxStream* stream, uint32_t format, const JasPlanes& planes, float quality,
                   std::string& error) {
  opj_image_cmptparm_t parms[3];
  memset(parms, 0, sizeof parms);
  for (uint32_t k = 0; k < planes.count; ++k) {
    parms[k].dx = parms[k].dy = 1;
    parms[k].w = planes.width;
    parms[k].h = planes.height;
    parms[k].prec = 8;
    parms[k].sgnd = 0;
  }
  opj_image_t* image = opj_image_create(planes.count, parms,
                                        planes.count == 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY);
  if (image == nullptr) {
    error = "error : jas_image_create";
    return false;
  }
  image->x0 = image->y0 = 0;
  image->x1 = planes.width;
  image->y1 = planes.height;
  for (uint32_t k = 0; k < planes.count; ++k) {
    for (size_t i = 0; i < planes.samples[k].size(); ++i) image->comps[k].data[i] = planes.samples[k][i];
  }
  opj_cparameters_t params;
  opj_set_default_encoder_parameters(&params);
  params.tcp_numlayers = 1;
  params.cp_disto_alloc = 1;
  params.tcp_mct = planes.count == 3 ? 1 : 0;
  // Small pictures cannot be split into the default number of resolution levels.
  const uint32_t side = std::min(planes.width, planes.height);
  while (params.numresolution > 1 && (side >> (params.numresolution - 1)) == 0) --params.numresolution;
  // Quality 100 (or more) is lossless; below, the size shrinks by 100 / quality.
  params.tcp_rates[0] = (quality >= 100.0f || quality <= 0.0f) ? 0.0f : 100.0f / quality;

  OpjClient client;
  client.stream = stream;
  client.base = stream->Tell();
  opj_codec_t* codec = opj_create_compress(format == FORMAT_JP2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
  opj_stream_t* s = client.base >= 0 ? MakeStream(&client, false) : nullptr;
  bool ok = false;
  if (codec == nullptr || s == nullptr) {
    error = "error: cannot open standard output";
  } else {
    QuietCodec(codec, &client);
    ok = opj_setup_encoder(codec, &params, image) && opj_start_compress(codec, image, s) &&
         opj_encode(codec, s) && opj_end_compress(codec, s);
    if (!ok) error = "error: cannot encode image";
  }
  if (s != nullptr) opj_stream_destroy(s);
  if (codec != nullptr) opj_destroy_codec(codec);
  opj_image_destroy(image);
  return ok;
}
