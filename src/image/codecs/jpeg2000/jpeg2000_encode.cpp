// JPEG 2000 writer through OpenJPEG: JP2 boxes or a bare J2K codestream.
#include <openjpeg.h>

#include <algorithm>
#include <cstring>

#include "image/codecs/jas/jas_raster.h"
#include "image/codecs/jpeg2000/jpeg2000_stream.h"
#include "image/io/format.h"
#include "image/io/stream.h"

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
