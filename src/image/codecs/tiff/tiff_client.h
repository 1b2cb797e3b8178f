#pragma once
// libtiff handles over a CxStream, with the library's messages kept instead of printed.
#include <tiffio.h>

#include <cstdint>

class CxStream;

struct TiffClient {
  CxStream* stream = nullptr;
  int64_t base = 0;           // stream position of the TIFF header
  char lastError[256] = {};   // the library's latest error text
  char lastWarning[256] = {}; // and its latest warning
};

// Opens a handle reading ("r") or writing ("w") through client->stream, whose current
// position becomes offset 0. Returns nullptr on failure (text in client->lastError).
TIFF* OpenTiffOverStream(TiffClient* client, const char* mode);
