// PGX writer: one grey component, 8 bits unsigned.
#include <cstdio>

#include "image/codecs/jas/jas_raster.h"

bool WritePgx(CxStream* stream, const JasPlanes& planes) {
  char head[64];
  snprintf(head, sizeof head, "PG ML +8 %u %u\n", planes.width, planes.height);
  return JasPutText(stream, head) && JasPut(stream, planes.samples[0].data(), planes.samples[0].size());
}
